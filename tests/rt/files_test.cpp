#include "rt/files.h"
#include "rt/runtime.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
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

TEST(FilesAtExit, OpenPipesAreClosedAndWaitedFor) {
    fs::path marker = fs::temp_directory_path() / ("rt_exit_" + std::to_string(::getpid()));
    fs::remove(marker);
    EXPECT_EXIT(
        {
            rt_init(0, nullptr);
            rt_open_pipe("sleep 0.2; echo x > '" + marker.string() + "'", 5);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(fs::exists(marker));
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

TEST(Shell, EmptyCommandRunsNothing) {
    // system("") would start a shell; the empty command must not.
    EXPECT_EQ(rt_shell(std::string()), -1);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

} // namespace
