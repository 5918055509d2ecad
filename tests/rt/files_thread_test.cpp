// Threads that run commands at once: each gets a number of its own, reads its own command's lines, and keeps
// its own result code.
#include "rt/files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
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

} // namespace
