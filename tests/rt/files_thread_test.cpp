// Threads that run commands at once: each gets a number of its own, reads its own command's lines, and keeps
// its own result code.
#include "rt/files.h"
#include "rt/runtime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int THREADS = 6;
constexpr int RUNS = 15;

// A free number and the command opened under it; another thread may take the number in between.
int open_command(const std::string& command) {
    for (;;) {
        const int n = rt_free_file();
        const int code = rt_open_pipe(command, n);
        if (code != RT_NOT_ALLOWED || n == 0) return code == RT_OK ? n : -1;
    }
}

TEST(FileThreads, EachThreadReadsItsOwnCommand) {
    std::atomic<int> wrong = 0;
    std::atomic<bool> go = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            for (int run = 0; run < RUNS; ++run) {
                const std::string mark = std::to_string(t) + "." + std::to_string(run);
                const int n = open_command("printf '" + mark + " a\\n" + mark + " b\\n'");
                // The code of this thread's own open, whatever the others did meanwhile.
                if (n < 0 || rt_last_error() != RT_OK) {
                    ++wrong;
                    continue;
                }
                std::vector<std::string> lines;
                std::string line;
                while (!rt_eof(n)) {
                    rt_line_input(n, line);
                    lines.push_back(line);
                }
                if (lines != std::vector<std::string>{mark + " a", mark + " b"}) ++wrong;
                if (rt_close(n) != RT_OK) ++wrong;
                // A refused close (0 is never handed out) sets this thread's code alone.
                if (rt_close(0) != RT_NOT_ALLOWED || rt_last_error() != RT_NOT_ALLOWED) ++wrong;
            }
        });
    }
    go = true;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(rt_free_file(), 1) << "a number stayed open";
}

// A detached start returns at once and leaves the command to itself, in a session of its own: neither a stop
// nor the end of every command ends it; once it ends, it is reaped by whoever inherited it, never left to us.
TEST(FileThreads, ADetachedCommandIsLeftRunningAndReapedWhenItEnds) {
    char folder[] = "/tmp/rt_detached_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string seen = std::string(folder) + "/seen";
    EXPECT_FALSE(rt_start_detached(""));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(rt_start_detached("echo $$ $(cut -d' ' -f6 /proc/$$/stat) > " + seen + ".part; mv " + seen +
                                  ".part " + seen + "; exec sleep 30"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::ifstream(seen) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pid_t pid = 0, session = 0;
    std::ifstream(seen) >> pid >> session;
    ASSERT_GT(pid, 0);
    EXPECT_NE(session, getsid(0));
    rt_request_stop();
    rt_end_all_commands();
    EXPECT_FALSE(rt_start_detached("true")) << "nothing starts once a stop is requested";
    rt_clear_stop_request();
    EXPECT_EQ(::kill(pid, 0), 0) << "the session was ended";
    ::kill(pid, SIGKILL);
    // Reaped: the process is gone from the table, not left as a zombie.
    const std::string entry = "/proc/" + std::to_string(pid);
    while (::access(entry.c_str(), F_OK) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_NE(::access(entry.c_str(), F_OK), 0) << "left as a zombie";
    std::filesystem::remove_all(folder);
}

} // namespace
