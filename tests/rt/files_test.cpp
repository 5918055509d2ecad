#include "rt/files.h"
#include "rt/runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale.h>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Files : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("rt_files_" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        rt_close_all();
        fs::remove_all(dir);
    }
    std::string write_file(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    }
    // All lines of a source, read the way the dashboard reads them.
    static std::vector<std::string> read_all(int n) {
        std::vector<std::string> lines;
        std::string line;
        while (!rt_eof(n)) {
            rt_line_input(n, line);
            lines.push_back(line);
        }
        return lines;
    }
    std::vector<std::string> pipe_lines(const std::string& command) {
        int n = rt_free_file();
        EXPECT_EQ(rt_open_pipe(command, n), RT_OK);
        auto lines = read_all(n);
        EXPECT_EQ(rt_close(n), RT_OK);
        return lines;
    }
    std::vector<std::string> file_lines(const std::string& bytes) {
        int n = rt_free_file();
        EXPECT_EQ(rt_open_file(write_file("in.txt", bytes), n), RT_OK);
        auto lines = read_all(n);
        EXPECT_EQ(rt_close(n), RT_OK);
        return lines;
    }
    fs::path dir;
};

int count_open_fds() {
    int n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

using Lines = std::vector<std::string>;

bool group_gone(pid_t group);

TEST_F(Files, LineTerminatorsAndChunks) {
    struct Case {
        const char* what;
        std::string bytes;
        Lines lines;
    };
    const std::string long1500(1500, 'x');
    // A CR that falls on the last byte of a full chunk is data, not a line end.
    const std::string cr_at_chunk_edge = std::string(LINE_CHUNK - 2, 'y') + "\rzz";
    const Case cases[] = {
        {"LF, CR LF and no final terminator", "a\nb\r\nc", {"a", "b", "c"}},
        {"empty input yields no line", "", {}},
        {"a lone LF is one empty line", "\n", {""}},
        {"blank lines in between", "a\n\n\nb\n", {"a", "", "", "b"}},
        {"final CR is removed", "a\nb\r", {"a", "b"}},
        {"CR inside a line stays", "a\rb\n", {"a\rb"}},
        {"1500-byte line", long1500 + "\n", {long1500}},
        {"511 bytes exactly", std::string(511, 'q') + "\nr", {std::string(511, 'q'), "r"}},
        {"CR on a chunk edge", cr_at_chunk_edge + "\n", {cr_at_chunk_edge}},
        {"NUL bytes survive", std::string("a\0b\n\0\n", 6), {std::string("a\0b", 3), std::string(1, '\0')}},
        {"byte-order mark is data", "\xEF\xBB\xBFport=22/tcp\n", {"\xEF\xBB\xBFport=22/tcp"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(file_lines(c.bytes), c.lines) << c.what << " (file)";
        std::string path = write_file("pipe.bin", c.bytes);
        EXPECT_EQ(pipe_lines("cat '" + path + "'"), c.lines) << c.what << " (pipe)";
    }
}

// A CR LF whose CR fills a chunk, and a CR that fills the last chunk of the input, still end the line.
TEST_F(Files, CarriageReturnsOnChunkEdgesAreTerminators) {
    struct Case {
        const char* what;
        std::string bytes;
        Lines lines;
    };
    const std::string full(LINE_CHUNK - 2, 'x'); // with the CR, exactly one full chunk
    const std::string two(2 * (LINE_CHUNK - 1) - 1, 'y');
    const Case cases[] = {
        {"CR LF split after one chunk", full + "\r\nb", {full, "b"}},
        {"CR LF split after two chunks", two + "\r\nb\n", {two, "b"}},
        {"CR ending the input fills the chunk", full + "\r", {full}},
        {"CR CR LF split keeps one CR", full + "\r\r\n", {full + "\r"}},
        {"CR on the edge, then data", full + "\rz\n", {full + "\rz"}},
        {"LF alone after a full chunk",
         std::string(LINE_CHUNK - 1, 'w') + "\n",
         {std::string(LINE_CHUNK - 1, 'w')}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(file_lines(c.bytes), c.lines) << c.what << " (file)";
        std::string path = write_file("pipe.bin", c.bytes);
        EXPECT_EQ(pipe_lines("cat '" + path + "'"), c.lines) << c.what << " (pipe)";
    }
}

TEST_F(Files, EveryByteValueAndAMegabyteLinePassUnchanged) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != '\n' && b != '\r') all += static_cast<char>(b);
    std::string big(1 << 20, 'm');
    for (std::size_t i = 0; i < big.size(); i += 997) big[i] = static_cast<char>(0x80 + i % 100);
    Lines got = file_lines(all + "\n" + big + "\n" + "\r\r\n");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], all);
    EXPECT_EQ(got[1], big);
    EXPECT_EQ(got[2], "\r"); // CR LF removes one CR only
}

// The terminator is removed wherever the chunk edge falls: in front of it, between CR and LF, or after it.
TEST_F(Files, TerminatorsAtEveryChunkOffset) {
    constexpr int LONGEST = 3 * LINE_CHUNK;
    struct Terminator {
        const char* what;
        const char* bytes;
    };
    const Terminator terminators[] = {{"LF", "\n"}, {"CR LF", "\r\n"}};
    for (const Terminator& t : terminators) {
        std::string bytes;
        Lines want;
        for (int length = 0; length <= LONGEST; ++length) {
            want.push_back(std::string(static_cast<std::size_t>(length), 'x'));
            bytes += want.back() + t.bytes;
        }
        want.push_back("next");
        bytes += "next";
        const Lines got = file_lines(bytes);
        ASSERT_EQ(got.size(), want.size()) << t.what;
        for (std::size_t i = 0; i < want.size(); ++i)
            ASSERT_EQ(got[i], want[i]) << t.what << ", line of " << i << " bytes";
    }
    // A CR that is data because more of the line follows, and a CR that closes the input (one file each).
    std::string bytes;
    Lines want;
    for (int length = 0; length <= LONGEST; ++length) {
        want.push_back(std::string(static_cast<std::size_t>(length), 'x') + "\ry");
        bytes += want.back() + "\n";
    }
    EXPECT_TRUE(file_lines(bytes) == want);
    for (int length = 0; length <= 2 * LINE_CHUNK + 1; ++length) {
        const std::string line(static_cast<std::size_t>(length), 'x');
        ASSERT_TRUE(file_lines("a\n" + line + "\r") == (Lines{"a", line})) << length;
    }
    // The same through a pipe for the offsets around the first two chunk edges.
    for (int length : {LINE_CHUNK - 2, LINE_CHUNK - 1, LINE_CHUNK, 2 * LINE_CHUNK - 3, 2 * LINE_CHUNK - 2}) {
        const std::string line(static_cast<std::size_t>(length), 'x');
        const std::string path = write_file("pipe.bin", line + "\r\nnext\r\n" + line + "\r");
        EXPECT_TRUE(pipe_lines("cat '" + path + "'") == (Lines{line, "next", line})) << length;
    }
}

TEST_F(Files, BoundedLinesKeepTheirStartAndSkipTheRest) {
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t bound;
        std::vector<std::pair<std::string, bool>> lines; // text and whether it fit
    };
    const std::string huge(5 * LINE_CHUNK + 7, 'h');
    const Case cases[] = {
        {"fits exactly", "0123456789\n", 10, {{"0123456789", true}}},
        {"fits with CR LF", "0123456789\r\nz", 10, {{"0123456789", true}, {"z", true}}},
        {"fits with a final CR", "0123456789\r", 10, {{"0123456789", true}}},
        {"one byte over", "0123456789A\nz\n", 10, {{"0123456789", false}, {"z", true}}},
        {"one byte over, then CR", "0123456789A\r", 10, {{"0123456789", false}}},
        {"CR as data over the bound", "0123456789\rB\n", 10, {{"0123456789", false}}},
        {"many chunks over", huge + "\r\nnext", 100, {{huge.substr(0, 100), false}, {"next", true}}},
        {"bound of zero", "a\n\n", 0, {{"", false}, {"", true}}},
    };
    for (const Case& c : cases) {
        const int n = rt_free_file();
        ASSERT_EQ(rt_open_file(write_file("bounded.txt", c.bytes), n), RT_OK);
        for (const auto& [text, fits] : c.lines) {
            ASSERT_FALSE(rt_eof(n)) << c.what;
            std::string line = "old";
            EXPECT_EQ(rt_line_input_bounded(n, line, c.bound), fits) << c.what;
            EXPECT_EQ(line, text) << c.what;
        }
        EXPECT_TRUE(rt_eof(n)) << c.what;
        rt_close(n);
    }
    std::string kept = "kept";
    EXPECT_TRUE(rt_line_input_bounded(9, kept, 3));
    EXPECT_EQ(kept, "kept");
}

// Only a regular file opens: a device would feed an endless line, a FIFO without writer would block.
TEST_F(Files, OnlyRegularFilesOpen) {
    const std::string regular = write_file("regular.cfg", "x\n");
    fs::create_directories(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "zero-link");
    fs::create_symlink(regular, dir / "regular-link");
    struct Case {
        std::string path;
        int code;
    };
    const Case cases[] = {
        {regular, RT_OK},
        {(dir / "regular-link").string(), RT_OK},
        {"/dev/zero", RT_CANNOT_OPEN},
        {"/dev/null", RT_CANNOT_OPEN},
        {(dir / "zero-link").string(), RT_CANNOT_OPEN},
        {(dir / "folder").string(), RT_CANNOT_OPEN},
        {(dir / "fifo").string(), RT_CANNOT_OPEN},
    };
    for (const Case& c : cases) {
        // In a child with an alarm, so that an open that blocks fails the test instead of hanging it.
        EXPECT_EXIT(
            {
                ::alarm(10);
                const int code = rt_open_file(c.path, 1);
                std::string line;
                if (code == RT_OK) rt_line_input(1, line);
                std::_Exit(code == c.code && (code != RT_OK || line == "x") ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << c.path;
    }
    EXPECT_EQ(rt_open_file((dir / "fifo").string(), 2), RT_CANNOT_OPEN);
    EXPECT_EQ(rt_free_file(), 1);
}

TEST_F(Files, FreeNumbersAndBadNumbers) {
    EXPECT_EQ(rt_free_file(), 1);
    std::string path = write_file("f.txt", "one\ntwo\n");
    ASSERT_EQ(rt_open_file(path, 1), RT_OK);
    ASSERT_EQ(rt_open_file(path, 3), RT_OK);
    EXPECT_EQ(rt_free_file(), 2);

    // Opening a busy number fails and leaves the open source where it was.
    std::string line;
    rt_line_input(1, line);
    EXPECT_EQ(rt_open_pipe("echo other", 1), RT_NOT_ALLOWED);
    EXPECT_EQ(rt_open_file(path, 1), RT_NOT_ALLOWED);
    rt_line_input(1, line);
    EXPECT_EQ(line, "two");

    for (int bad : {0, -1, 256, 1000}) {
        EXPECT_EQ(rt_open_file(path, bad), RT_NOT_ALLOWED) << bad;
        EXPECT_EQ(rt_open_pipe("true", bad), RT_NOT_ALLOWED) << bad;
        EXPECT_EQ(rt_close(bad), RT_NOT_ALLOWED) << bad;
        EXPECT_TRUE(rt_eof(bad)) << bad;
    }
    // A free number reads as at its end and leaves the caller's text alone.
    line = "kept";
    EXPECT_TRUE(rt_eof(2));
    rt_line_input(2, line);
    EXPECT_EQ(line, "kept");
    EXPECT_EQ(rt_last_error(), RT_NOT_ALLOWED);
    EXPECT_EQ(rt_close(2), RT_NOT_ALLOWED);

    EXPECT_EQ(rt_close(1), RT_OK);
    EXPECT_EQ(rt_close(1), RT_NOT_ALLOWED);
    EXPECT_EQ(rt_free_file(), 1);
}

TEST_F(Files, AllNumbersBusy) {
    std::string path = write_file("f.txt", "x\n");
    for (int n = 1; n <= MAX_FILE_NUMBER; ++n) ASSERT_EQ(rt_open_file(path, n), RT_OK) << n;
    EXPECT_EQ(rt_free_file(), 0);
    EXPECT_EQ(rt_open_file(path, rt_free_file()), RT_NOT_ALLOWED);
    rt_close_all();
    EXPECT_EQ(rt_free_file(), 1);
}

TEST_F(Files, FailedOpensLeaveTheNumberFree) {
    EXPECT_EQ(rt_open_file((dir / "missing.cfg").string(), 4), RT_CANNOT_OPEN);
    EXPECT_EQ(rt_last_error(), RT_CANNOT_OPEN);
    EXPECT_TRUE(rt_eof(4));
    EXPECT_EQ(rt_close(4), RT_NOT_ALLOWED);
    EXPECT_EQ(rt_free_file(), 1);
}

TEST_F(Files, BackslashesInPathsAreSlashes) {
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "sub" / "x.cfg") << "hello\n";
    std::string path = dir.string() + "\\sub\\x.cfg";
    ASSERT_EQ(rt_open_file(path, 7), RT_OK);
    std::string line;
    rt_line_input(7, line);
    EXPECT_EQ(line, "hello");
}

TEST_F(Files, UnknownCommandOpensAndYieldsNothing) {
    int n = rt_free_file();
    EXPECT_EQ(rt_open_pipe("velmora-no-such-tool-xyz 2>/dev/null", n), RT_OK);
    EXPECT_TRUE(rt_eof(n));
    EXPECT_EQ(rt_close(n), RT_OK);
}

TEST_F(Files, CommandLineReachesTheShellUnchanged) {
    EXPECT_EQ(pipe_lines("printf '%s|\\n' 'two  spaces  '"), Lines{"two  spaces  |"});
    EXPECT_EQ(pipe_lines("echo $((6*7)); echo b >&2 2>/dev/null"), Lines{"42"});
}

// Started without a shell, a program gets each argument as it is: nothing is split, expanded or run.
TEST_F(Files, ProgramsGetEveryArgumentUnchanged) {
    const fs::path marker = dir / "ran";
    const Lines words = {"a b",       "{x,y}",   "$(touch " + marker.string() + ")",
                         "`id`",      "*",       "-c",
                         "'q' \"r\"", "a;b|c&d", "~root",
                         "",          "  ",      "fe80::1%eth0",
                         "#x"};
    Lines arguments = {"printf", "%s|\n"};
    arguments.insert(arguments.end(), words.begin(), words.end());
    Lines expected;
    for (const std::string& w : words) expected.push_back(w + "|");
    const int n = rt_free_file();
    ASSERT_EQ(rt_open_program(arguments, n), RT_OK);
    EXPECT_EQ(read_all(n), expected);
    EXPECT_EQ(rt_close(n), RT_OK);
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(Files, ProgramsAreFoundOnThePathOrNotAtAll) {
    const fs::path bin = dir / "bin";
    fs::create_directories(bin);
    write_file("bin/velmora-tool", "#!/bin/sh\necho \"tool $#: $1\"\n");
    fs::permissions(bin / "velmora-tool", fs::perms::owner_all);
    const char* old = std::getenv("PATH");
    const std::string saved = old ? old : "";
    ::setenv("PATH", (bin.string() + ":/usr/bin:/bin").c_str(), 1);
    int n = rt_free_file();
    EXPECT_EQ(rt_open_program(Lines{"velmora-tool", "one word"}, n), RT_OK);
    EXPECT_EQ(read_all(n), Lines{"tool 1: one word"});
    EXPECT_EQ(rt_close(n), RT_OK);
    // A missing program opens nothing, says nothing (the start names it once) and leaves the number free.
    n = rt_free_file();
    testing::internal::CaptureStderr();
    EXPECT_EQ(rt_open_program(Lines{"velmora-no-such-tool-xyz", "x"}, n), RT_CANNOT_OPEN);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(rt_eof(n));
    EXPECT_EQ(rt_free_file(), n);
    EXPECT_EQ(rt_open_program(Lines{}, n), RT_NOT_ALLOWED);
    EXPECT_EQ(rt_open_program(Lines{"", "x"}, n), RT_NOT_ALLOWED);
    EXPECT_EQ(rt_open_program(Lines{"true"}, 0), RT_NOT_ALLOWED);
    ::setenv("PATH", saved.c_str(), 1);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// The same setting as a shell pipe: the C locale, a process group of its own, the limits.
TEST_F(Files, ProgramsRunLikeShellPipes) {
    int n = rt_free_file();
    ASSERT_EQ(rt_open_program(Lines{"sh", "-c", "echo \"$LC_ALL\"; cut -d' ' -f5 /proc/$$/stat; echo $$"}, n),
              RT_OK);
    const Lines got = read_all(n);
    EXPECT_EQ(rt_close(n), RT_OK);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], "C");
    EXPECT_EQ(got[1], got[2]); // the group is its own
    rt_set_pipe_limits(300, 1 << 20);
    n = rt_free_file();
    ASSERT_EQ(rt_open_program(Lines{"sh", "-c", "echo $$; exec sleep 60"}, n), RT_OK);
    std::string pid;
    rt_line_input(n, pid);
    EXPECT_TRUE(rt_eof(n)); // cut off at the deadline, long before the minute
    EXPECT_EQ(rt_close(n), RT_OK);
    rt_set_pipe_limits(0, 0);
    EXPECT_TRUE(group_gone(static_cast<pid_t>(std::stol(pid))));
}

TEST_F(Files, CloseWaitsForTheCommand) {
    fs::path marker = dir / "done";
    int n = rt_free_file();
    ASSERT_EQ(rt_open_pipe("echo first; sleep 0.2; echo x > '" + marker.string() + "'", n), RT_OK);
    std::string line;
    rt_line_input(n, line);
    EXPECT_EQ(line, "first");
    EXPECT_EQ(rt_close(n), RT_OK);
    EXPECT_TRUE(fs::exists(marker));
}

TEST_F(Files, OpenFilesDoNotLeakIntoCommands) {
    std::string path = write_file("secret.cfg", "x\n");
    ASSERT_EQ(rt_open_file(path, 1), RT_OK);
    Lines fds = pipe_lines("ls -l /proc/$$/fd");
    for (const std::string& l : fds) EXPECT_EQ(l.find("secret.cfg"), std::string::npos) << l;
}

TEST_F(Files, ThousandsOfCyclesLeakNoDescriptorAndNoChild) {
    std::string path = write_file("f.txt", "a\nb\n");
    int before = count_open_fds();
    std::string line;
    for (int i = 0; i < 2000; ++i) {
        int n = rt_free_file();
        ASSERT_EQ(rt_open_file(path, n), RT_OK);
        while (!rt_eof(n)) rt_line_input(n, line);
        rt_close(n);
        if (i % 4 == 0) {
            ASSERT_EQ(rt_open_pipe(i % 8 ? "echo a" : "true", n), RT_OK);
            if (i % 3) rt_line_input(n, line); // also close before reading everything
            rt_close(n);
        }
    }
    EXPECT_EQ(count_open_fds(), before);
    // No child is left behind, not even as a zombie.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// Tools that misbehave: the frame that reads them must end, with bounded memory, and leave nothing running.
TEST_F(Files, MisbehavingCommandsAreCutOffAtTheirLimits) {
    struct Case {
        const char* what;
        const char* command;
        std::size_t min_bytes, max_bytes; // bytes read in all
    } const cases[] = {
        {"never ends", "echo start; exec sleep 60", 6, 6},
        {"prints forever", "yes", 1 << 20, (1 << 20) + 4096},
        {"one line of 10 MB", "head -c 10000000 /dev/zero | tr '\\0' x; echo", 1 << 20, (1 << 20) + 4096},
        {"binary bytes", "head -c 300000 /dev/urandom", 290000,
         300000 + 4096}, // CR LF pairs in the noise end lines too
        {"closes its output, keeps running", "echo a; exec >&-; sleep 60", 2, 2},
    };
    rt_set_pipe_limits(400, 1 << 20);
    for (const Case& c : cases) {
        auto start = std::chrono::steady_clock::now();
        int n = rt_free_file();
        ASSERT_EQ(rt_open_pipe(std::string("exec 2>/dev/null; echo $$ > '") + (dir / "pid").string() + "'; " +
                                   c.command,
                               n),
                  RT_OK);
        std::size_t bytes = 0, longest = 0;
        std::string line;
        while (!rt_eof(n)) {
            rt_line_input(n, line);
            bytes += line.size() + 1;
            longest = std::max(longest, line.size());
        }
        EXPECT_EQ(rt_close(n), RT_OK);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, std::chrono::seconds(30)) << c.what; // far below the commands' own 60 s
        EXPECT_GE(bytes, c.min_bytes) << c.what;
        EXPECT_LE(longest, c.max_bytes) << c.what;
        // Nothing of the command's process group is left, not even a zombie.
        std::ifstream pid_file(dir / "pid");
        pid_t group = 0;
        pid_file >> group;
        ASSERT_GT(group, 0) << c.what;
        auto gone_by = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::kill(-group, 0) == 0 && std::chrono::steady_clock::now() < gone_by) ::usleep(1000);
        errno = 0;
        EXPECT_EQ(::kill(-group, 0), -1) << c.what; // killed members are reaped by init, in its own time
        EXPECT_EQ(errno, ESRCH) << c.what;
        errno = 0;
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << c.what;
    }
    rt_set_pipe_limits(0, 0);
}

// True once nothing of the process group is left; members that were orphaned are reaped by init in its own
// time, so this waits for them up to a deadline.
bool group_gone(pid_t group) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::kill(-group, 0) == 0 && std::chrono::steady_clock::now() < deadline) ::usleep(1000);
    return ::kill(-group, 0) == -1 && errno == ESRCH;
}

// A stop ends a command within the half second of grace and little more; the bound leaves room for a loaded
// machine, and the commands would run far longer.
constexpr auto STOP_BOUND = std::chrono::seconds(5);

// A stop request from another thread (as from the presenter, or a signal) ends what runs under every open
// pipe, whatever the command does about SIGTERM, and its reads report the end.
TEST_F(Files, AStopEndsEveryCommandThatRunsAndItsWholeGroup) {
    struct Case {
        const char* what;
        const char* command; // prints its group first, then "never" if it is not stopped in time
        bool output_closed;  // the stop comes while rt_close waits, not while a read waits
    } const cases[] = {
        {"ends on SIGTERM", "echo $$; exec sleep 30", false},
        {"ignores SIGTERM", "trap '' TERM; echo $$; sleep 30; echo never", false},
        {"leaves a child that ignores SIGTERM",
         "sh -c \"trap '' TERM; exec sleep 30\" & echo $$; exec sleep 30", false},
        {"closed its output", "trap '' TERM; echo $$; exec >&-; sleep 30", true},
    };
    // Past the bound, so that a command the stop missed shows as one that took too long.
    rt_set_pipe_limits(8000, 0);
    for (const Case& c : cases) {
        rt_clear_stop_request();
        // Two commands at once, as start-up probes may run: both end.
        int numbers[2] = {};
        pid_t groups[2] = {};
        for (int i = 0; i < 2; ++i) {
            numbers[i] = rt_free_file();
            ASSERT_EQ(rt_open_pipe(std::string("exec 2>/dev/null; ") + c.command, numbers[i]), RT_OK)
                << c.what;
            std::string first;
            rt_line_input(numbers[i], first);
            groups[i] = std::atoi(first.c_str());
            ASSERT_GT(groups[i], 0) << c.what << ": " << first;
        }
        if (c.output_closed) {
            for (int n : numbers) EXPECT_TRUE(rt_eof(n)) << c.what;
        }
        const auto start = std::chrono::steady_clock::now();
        std::thread requester([] {
            rt_request_stop();
            rt_request_stop(); // a second request changes nothing
        });
        for (int n : numbers) {
            std::vector<std::string> rest;
            std::string line;
            while (!rt_eof(n)) {
                rt_line_input(n, line);
                rest.push_back(line);
            }
            EXPECT_EQ(rest, std::vector<std::string>{}) << c.what;
            EXPECT_EQ(rt_close(n), RT_OK) << c.what;
        }
        requester.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, STOP_BOUND) << c.what;
        for (pid_t group : groups) EXPECT_TRUE(group_gone(group)) << c.what << ": group " << group;
        errno = 0;
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << c.what;
    }
    rt_clear_stop_request();
    rt_set_pipe_limits(0, 0);
}

// What the ends that do not return call: every command's group gets SIGTERM, and what ignores it SIGKILL
// after the grace, from wherever the caller is; the pipes then read as ended and close at once.
TEST_F(Files, EndingAllCommandsEndsEveryGroup) {
    const std::string commands[] = {
        "exec 2>/dev/null; sleep 30 & echo $$; sleep 30",
        "exec 2>/dev/null; trap '' TERM; echo $$; while :; do sleep 0.05; done",
    };
    int numbers[2] = {};
    pid_t groups[2] = {};
    for (int i = 0; i < 2; ++i) {
        numbers[i] = rt_free_file();
        ASSERT_EQ(rt_open_pipe(commands[i], numbers[i]), RT_OK);
        std::string first;
        rt_line_input(numbers[i], first);
        groups[i] = std::atoi(first.c_str());
        ASSERT_GT(groups[i], 0) << first;
    }
    const auto start = std::chrono::steady_clock::now();
    rt_end_all_commands();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(STOP_GRACE_MS + 400));
    // A command that ignored SIGTERM is reaped by its close.
    for (int n : numbers) {
        EXPECT_TRUE(rt_eof(n));
        EXPECT_EQ(rt_close(n), RT_OK);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, STOP_BOUND);
    for (pid_t group : groups) EXPECT_TRUE(group_gone(group)) << "group " << group;
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    rt_end_all_commands(); // nothing left to end
}

// A tool leads a session of its own: no terminal is its controlling terminal, so none stops it.
TEST_F(Files, ACommandLeadsASessionOfItsOwn) {
    const Lines lines = pipe_lines("echo $$; cut -d' ' -f6 /proc/$$/stat");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], lines[1]);
}

// After a stop nothing new starts, until the request is cleared.
TEST_F(Files, NoPipeStartsOnceAStopIsRequested) {
    const fs::path marker = dir / "ran";
    const std::string command = "touch '" + marker.string() + "'; echo ran";
    rt_request_stop();
    const int n = rt_free_file();
    EXPECT_EQ(rt_open_pipe(command, n), RT_CANNOT_OPEN);
    EXPECT_TRUE(rt_eof(n));
    EXPECT_EQ(rt_free_file(), n) << "the number stays free";
    EXPECT_EQ(rt_shell(command), -1);
    EXPECT_FALSE(fs::exists(marker));
    rt_clear_stop_request();
    EXPECT_EQ(pipe_lines(command), Lines{"ran"});
    EXPECT_EQ(rt_shell(command + " >/dev/null"), 0);
}

// A child of our own, waited for with waitpid alone: the leftover command holds none of the test's pipes, so
// only the close at exit can make the child wait for it.
TEST(FilesAtExit, OpenPipesAreClosedAndWaitedFor) {
    const fs::path marker = fs::temp_directory_path() / ("rt_exit_" + std::to_string(::getpid()));
    fs::remove(marker);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rt_init(0, nullptr);
        rt_open_pipe("exec 2>/dev/null </dev/null; sleep 0.5; echo x > '" + marker.string() + "'", 5);
        std::exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(fs::exists(marker)) << "the child ended before its command";
    // If it did not wait, let the orphaned command finish before the marker is cleared away.
    for (int i = 0; i < 200 && !fs::exists(marker); ++i) ::usleep(10000);
    fs::remove(marker);
}

// A replaced opener sees each command line unchanged and serves its lines; nothing is started.
struct ServedPipes {
    static inline std::vector<std::string> commands;
    static inline int closes = 0;
    static std::FILE* open(const char* command) {
        commands.emplace_back(command);
        static const char text[] = "first\r\nsecond";
        // A command that cannot be opened gets null, as popen would give.
        if (std::string_view(command).starts_with("fail")) return nullptr;
        return ::fmemopen(const_cast<char*>(text), sizeof text - 1, "r");
    }
    static int close(std::FILE* f) {
        ++closes;
        return std::fclose(f);
    }
};

TEST(PipeOpener, ReplacedOpenerServesLinesAndStartsNothing) {
    const PipeOpener shell = rt_set_pipe_opener(PipeOpener{ServedPipes::open, ServedPipes::close});
    struct Case {
        std::string command;
        int result;
        Lines lines;
    } const cases[] = {
        {"nmap 127.0.0.1", RT_OK, {"first", "second"}},
        {"ping a;b $(x) -c 1", RT_OK, {"first", "second"}},
        {"fail now", RT_CANNOT_OPEN, {}},
    };
    ServedPipes::commands.clear();
    ServedPipes::closes = 0;
    int opened = 0;
    for (const Case& c : cases) {
        const int n = rt_free_file();
        EXPECT_EQ(rt_open_pipe(c.command, n), c.result) << c.command;
        Lines got;
        std::string line;
        while (!rt_eof(n)) {
            rt_line_input(n, line);
            got.push_back(line);
        }
        EXPECT_EQ(got, c.lines) << c.command;
        EXPECT_EQ(rt_close(n), c.result == RT_OK ? RT_OK : RT_NOT_ALLOWED) << c.command;
        opened += c.result == RT_OK;
        EXPECT_EQ(rt_free_file(), 1);
    }
    EXPECT_EQ(ServedPipes::commands, (Lines{"nmap 127.0.0.1", "ping a;b $(x) -c 1", "fail now"}));
    // A program's arguments reach a replaced opener joined by single blanks.
    int p = rt_free_file();
    EXPECT_EQ(rt_open_program(Lines{"nmap", "-6", "::1"}, p), RT_OK);
    EXPECT_EQ(rt_close(p), RT_OK);
    ++opened;
    EXPECT_EQ(ServedPipes::commands.back(), "nmap -6 ::1");
    ServedPipes::commands.pop_back();
    EXPECT_EQ(ServedPipes::closes, opened);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    // Putting the shell back hands out the replaced opener, and real commands run again.
    const PipeOpener served = rt_set_pipe_opener(shell);
    EXPECT_EQ(served.open, &ServedPipes::open);
    const int n = rt_free_file();
    ASSERT_EQ(rt_open_pipe("echo real", n), RT_OK);
    std::string line;
    rt_line_input(n, line);
    EXPECT_EQ(line, "real");
    EXPECT_EQ(rt_close(n), RT_OK);
    EXPECT_EQ(ServedPipes::commands.size(), 3u);
}

TEST(Shell, ExitCodes) {
    struct Case {
        const char* command;
        int result;
    } const cases[] = {
        {"", -1},
        {"true", 0},
        {"exit 3", 3},
        {"exit 255", 255},
        {"velmora-no-such-tool-xyz 2>/dev/null", -1},
        {"exit 127", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(rt_shell(c.command), c.result) << '"' << c.command << '"';
    // A command killed by a signal reports the raw status.
    int raw = rt_shell("kill -TERM $$");
    EXPECT_TRUE(raw == 15 || raw == (128 + 15)) << raw; // shells differ in how they report it
}

// system("") would start a shell and reap it itself; the time of reaped children shows whether one ran.
TEST(Shell, EmptyCommandRunsNothing) {
    rusage before{}, after{};
    ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &before), 0);
    EXPECT_EQ(rt_shell(std::string()), -1);
    ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &after), 0);
    EXPECT_EQ(after.ru_minflt, before.ru_minflt) << "a child ran";
    EXPECT_EQ(after.ru_nvcsw + after.ru_nivcsw, before.ru_nvcsw + before.ru_nivcsw) << "a child ran";
    // The measure does see a shell that did nothing.
    EXPECT_EQ(rt_shell(":"), 0);
    ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &after), 0);
    EXPECT_GT(after.ru_minflt, before.ru_minflt);
}

// The terminal command is the user's session: a stop no longer waits for it, and never ends it.
TEST(Shell, AStopEndsTheWaitNotTheCommand) {
    const std::string base =
        (fs::temp_directory_path() / ("rt_shell_" + std::to_string(::getpid()))).string();
    const fs::path pid_file = base + ".pid", signals_file = base + ".signals";
    fs::remove(pid_file);
    fs::remove(signals_file);
    rt_clear_stop_request();
    std::thread requester([&] {
        // Once the command runs: before that there would be nothing to wait for.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!fs::exists(pid_file) && std::chrono::steady_clock::now() < deadline) ::usleep(1000);
        rt_request_stop();
    });
    // The command notes every signal that would end it, and ends on SIGUSR1 from the test alone. Signals
    // sent to it before that one have all been noted by the time it ends.
    const std::string command =
        "trap 'echo TERM >> " + signals_file.string() + "' TERM; trap 'echo INT >> " + signals_file.string() +
        "' INT; trap 'echo HUP >> " + signals_file.string() + "' HUP; trap 'done=1' USR1; echo $$ > " + base +
        ".part; mv " + base + ".part " + pid_file.string() + "; while [ -z \"$done\" ]; do sleep 0.05; done";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(rt_shell(command), -1);
    requester.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, STOP_BOUND);
    pid_t pid = 0;
    std::ifstream(pid_file) >> pid;
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), 0) << "the command has ended";
    ASSERT_EQ(::kill(pid, SIGUSR1), 0);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::ifstream noted(signals_file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(noted), {}), "") << "signals the command was sent";
    fs::remove(pid_file);
    fs::remove(signals_file);
    rt_clear_stop_request();
}

// The command starts with SIGINT and SIGQUIT at their defaults, whatever its caller does with them, and the
// caller does not ignore SIGINT while it waits: Ctrl+C on the terminal reaches both.
TEST(Shell, InterruptIsNeitherIgnoredByTheCommandNorByItsCaller) {
    const fs::path out = fs::temp_directory_path() / ("rt_sigign_" + std::to_string(::getpid()));
    struct Case {
        const char* what;
        void (*caller)(int); // what the caller does with SIGINT and SIGQUIT
        const char* status;  // whose ignored signals are read
    } const cases[] = {
        {"the command, while its caller ignores them", SIG_IGN, "/proc/self/status"},
        {"the caller, while it waits", SIG_DFL, "/proc/$PPID/status"},
    };
    for (const Case& c : cases) {
        struct sigaction saved[2]{};
        struct sigaction wanted {};
        wanted.sa_handler = c.caller;
        sigemptyset(&wanted.sa_mask);
        ::sigaction(SIGINT, &wanted, &saved[0]);
        ::sigaction(SIGQUIT, &wanted, &saved[1]);
        const int result = rt_shell(std::string("sed -n 's/^SigIgn:[[:space:]]*//p' ") + c.status + " > '" +
                                    out.string() + "'");
        ::sigaction(SIGINT, &saved[0], nullptr);
        ::sigaction(SIGQUIT, &saved[1], nullptr);
        EXPECT_EQ(result, 0) << c.what;
        std::ifstream in(out);
        std::string mask;
        in >> mask;
        ASSERT_FALSE(mask.empty()) << c.what;
        const unsigned long long ignored = std::stoull(mask, nullptr, 16);
        EXPECT_EQ(ignored & (1ULL << (SIGINT - 1)), 0u) << c.what << ": SIGINT ignored, " << mask;
        if (c.caller == SIG_IGN) {
            EXPECT_EQ(ignored & (1ULL << (SIGQUIT - 1)), 0u) << c.what << ": " << mask;
        }
    }
    fs::remove(out);
}

// Sets the locale variables for a while; unset ones stay unset, set ones get their old values back.
class LocaleEnvironment {
  public:
    LocaleEnvironment(std::optional<std::string> all, std::optional<std::string> lang,
                      std::optional<std::string> numeric) {
        set("LC_ALL", all);
        set("LANG", lang);
        set("LC_NUMERIC", numeric);
    }
    ~LocaleEnvironment() {
        for (auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    LocaleEnvironment(const LocaleEnvironment&) = delete;
    LocaleEnvironment& operator=(const LocaleEnvironment&) = delete;

  private:
    void set(const std::string& name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A German desktop groups thousands with "." and writes decimal commas; the tools we parse must print as in
// the C locale however the user's locale is set, while a command run through the shell keeps it.
TEST_F(Files, ToolsRunInTheCLocaleTheShellInTheUsers) {
    const locale_t german = ::newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
    if (german == nullptr) GTEST_SKIP() << "no de_DE.UTF-8 locale (scripts/install-deps generates it)";
    ::freelocale(german);
    // The grouping flag of coreutils' printf follows LC_NUMERIC: 1.234.567 in German, 1234567 in C.
    ASSERT_EQ(rt_shell("LC_ALL=de_DE.UTF-8 /usr/bin/printf \"%'d\" 1234567 | grep -qx 1.234.567"), 0);
    struct Case {
        std::optional<std::string> all, lang, numeric;
    } const cases[] = {
        {"de_DE.UTF-8", "de_DE.UTF-8", std::nullopt}, {std::nullopt, "de_DE.UTF-8", std::nullopt},
        {std::nullopt, std::nullopt, "de_DE.UTF-8"},  {"", "de_DE.UTF-8", "de_DE.UTF-8"},
        {std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("LC_ALL " + c.all.value_or("(unset)") + ", LANG " + c.lang.value_or("(unset)") +
                     ", LC_NUMERIC " + c.numeric.value_or("(unset)"));
        LocaleEnvironment env(c.all, c.lang, c.numeric);
        EXPECT_EQ(pipe_lines("/usr/bin/printf \"%'d\\n\" 1234567"), std::vector<std::string>{"1234567"});
        EXPECT_EQ(pipe_lines("env | grep -c '^LC_ALL='"), std::vector<std::string>{"1"});
        // The shell's commands, such as the terminal of the FTP and SSH buttons, see the user's own setting.
        const std::string mine =
            c.all ? "[ \"${LC_ALL-unset}\" = '" + *c.all + "' ]" : "[ -z \"${LC_ALL+set}\" ]";
        EXPECT_EQ(rt_shell(mine), 0) << mine;
    }
}

} // namespace
