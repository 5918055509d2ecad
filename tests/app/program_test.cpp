// The built program end to end, without a display: options, the German refusals, and the snapshot with the
// fake tools. Each run gets a deadline; a program that outlives it is killed and the test fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <optional>
#include <pty.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/app/test_support.h"

namespace {

struct ProgramRun {
    int status = -1; // exit status; -1 when it did not exit on its own
    std::string out;
    std::string err;
};

// Runs the program in dir with the given arguments and the test's environment. stderr goes to a file, or to a
// terminal when err_on_terminal is set.
ProgramRun run_velmora(const std::string& dir, std::vector<std::string> args, bool err_on_terminal = false) {
    ProgramRun run;
    TempDir io;
    const std::string out_path = io.path() + "/out", err_path = io.path() + "/err";
    int master = -1, slave = -1;
    if (err_on_terminal && openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "openpty: " << std::strerror(errno);
        return run;
    }
    std::vector<char*> argv;
    std::string program = VELMORA_BIN;
    argv.push_back(program.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = err_on_terminal ? slave : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (slave >= 0) close(slave);
    if (master >= 0) fcntl(master, F_SETFL, O_NONBLOCK);
    std::string terminal;
    auto drain = [&] {
        char buffer[4096];
        for (ssize_t n; master >= 0 && (n = read(master, buffer, sizeof buffer)) > 0;)
            terminal.append(buffer, n);
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int wstatus = 0;
    for (;;) {
        drain();
        const pid_t done = waitpid(pid, &wstatus, WNOHANG);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            ADD_FAILURE() << "velmora did not end within 60 s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    drain();
    if (master >= 0) close(master);
    if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
    run.out = read_file(out_path);
    run.err = err_on_terminal ? terminal : read_file(err_path);
    return run;
}

// A home folder of the test's own, so that no run looks at or writes into the real one.
struct ScratchHome {
    TempDir home;
    ScopedEnv home_env{"HOME", home.path()};
    ScopedEnv xdg{"XDG_CONFIG_HOME", std::nullopt};
    [[nodiscard]] std::string user_config() const { return home.path() + "/.config/velmora/velmora.cfg"; }
};

// A directory with a configuration of these server lines; every tool answers with a recorded output.
struct ProgramDir {
    FakeTools fakes;
    TempDir dir;
    ScratchHome home;
    ScopedEnv display{"DISPLAY", std::nullopt};
    ScopedEnv korvid{"KORVID", std::nullopt};
    explicit ProgramDir(const std::string& servers) {
        fakes.replay("nslookup", fixture("nslookup_localhost.txt"));
        fakes.replay("nmap", fixture("nmap_ftp_ssh.txt"));
        fakes.replay("ping", fixture("ping_127.txt"));
        fakes.replay("httping", fixture("httping_127.txt"));
        dir.write("velmora.cfg", "Terminal:setsid -f xterm -e\nProxy:\n" + servers);
    }
};

std::string servers(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "host" + std::to_string(i) + "\nport=22/tcp\nhttp=host" + std::to_string(i) + "\n";
    return text;
}

uint32_t big_endian(const std::string& bytes, std::size_t at) {
    uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(bytes[at + i]);
    return v;
}

TEST(Program, HelpAndVersion) {
    ProgramDir s(servers(1));
    const ProgramRun help = run_velmora(s.dir.path(), {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(
        help.out.starts_with("Aufruf: velmora [-c DATEI] [--example-if-missing] [--snapshot DATEI.png"))
        << help.out;
    EXPECT_EQ(help.err, "");
    const ProgramRun version = run_velmora(s.dir.path(), {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "velmora Version " VELMORA_VERSION "\n");
    EXPECT_EQ(version.err, "");
    // Both sides come from the project version; an empty one would pass the comparison above unnoticed.
    const std::string_view number = VELMORA_VERSION;
    EXPECT_TRUE(!number.empty() && number.front() != '.' && number.back() != '.' &&
                number.find("..") == std::string_view::npos &&
                number.find_first_not_of("0123456789.") == std::string_view::npos)
        << VELMORA_VERSION;
    EXPECT_TRUE(s.fakes.calls().empty());
}

TEST(Program, BadOptionsEndWithStatusTwoBeforeAnyProbe) {
    ProgramDir s(servers(1));
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"--bogus"}, "velmora: Unbekannte Option \"--bogus\". Hilfe: velmora --help\n"},
        {{"--snapshot"}, "velmora: Option --snapshot braucht einen Wert. Hilfe: velmora --help\n"},
        {{"--seconds", "3"}, "velmora: --seconds gilt nur zusammen mit --snapshot. Hilfe: velmora --help\n"},
        {{"--snapshot", "a.png", "--seconds", "x"},
         "velmora: --seconds erwartet eine ganze Zahl von 0 bis 86400, nicht \"x\". Hilfe: velmora --help\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const ProgramRun r = run_velmora(s.dir.path(), c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(s.fakes.calls().empty());
}

TEST(Program, NoDisplaySaysWhatIsMissingBeforeAnyProbe) {
    ProgramDir s(servers(2));
    const ProgramRun r = run_velmora(s.dir.path(), {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "velmora: Keine X-Anzeige: DISPLAY ist nicht gesetzt. Starten Sie velmora in einer grafischen "
              "Sitzung oder geben Sie die Anzeige an (z. B. DISPLAY=:0); ohne Anzeige schreibt \"velmora "
              "--snapshot bild.png\" ein Bild.\n");
    EXPECT_TRUE(s.fakes.calls().empty());
    // An empty DISPLAY names no display either.
    ScopedEnv empty("DISPLAY", "");
    EXPECT_EQ(run_velmora(s.dir.path(), {}).err, r.err);
}

TEST(Program, ConfigurationProblemsEndWithStatusOne) {
    struct Case {
        const char* name;
        std::optional<std::string> config; // nothing: no file
        std::vector<std::string> args;
        std::string err_end;
    };
    const Case cases[] = {
        {"no servers, window", "Terminal:x\nProxy:\n# nur ein Kommentar\n", {}, "nennt keinen Server.\n"},
        {"no servers, snapshot", "Terminal:x\nProxy:\n", {"--snapshot", "a.png"}, "nennt keinen Server.\n"},
        {"a folder, snapshot", std::nullopt, {"--snapshot", "a.png"}, "fehlt oder ist nicht lesbar.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTools fakes;
        TempDir dir;
        ScratchHome home;
        if (c.config) {
            dir.write("velmora.cfg", *c.config);
        } else {
            ASSERT_EQ(mkdir((dir.path() + "/velmora.cfg").c_str(), 0700), 0);
        }
        ScopedEnv display("DISPLAY", ":64999");
        const ProgramRun r = run_velmora(dir.path(), c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err.starts_with("velmora: Konfigurationsdatei " + dir.path() + "/velmora.cfg "))
            << r.err;
        EXPECT_TRUE(r.err.ends_with(c.err_end)) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
        EXPECT_EQ(access((dir.path() + "/a.png").c_str(), F_OK), -1);
    }
}

TEST(Program, SnapshotIsTheWindowsPicture) {
    for (int count : {1, 2, 6}) {
        SCOPED_TRACE(count);
        ProgramDir s(servers(count));
        const std::string png = s.dir.path() + "/shot.png";
        const ProgramRun r = run_velmora(s.dir.path(), {"--snapshot", "shot.png", "--seconds", "0"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, ""); // not a terminal: no progress lines
        EXPECT_EQ(r.out, "");
        const std::string bytes = read_file(png);
        ASSERT_GE(bytes.size(), 33u);
        EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n");
        EXPECT_EQ(bytes.substr(12, 4), "IHDR");
        EXPECT_EQ(big_endian(bytes, 16), 800u);
        EXPECT_EQ(big_endian(bytes, 20), 200u * count);
        EXPECT_EQ(bytes[24], 8);
        EXPECT_EQ(bytes[25], 2);
        const auto picture = decode_png(png);
        ASSERT_TRUE(picture);
        // The line that closes the last panel, in its colour across the whole width.
        const uint32_t closing = 200u * count - 3;
        for (uint32_t x = 0; x < 800; ++x) ASSERT_EQ(picture->at(x, closing), 0xFF888B8Bu) << "x " << x;
        // The start-up probes ran for every server before the snapshot: each its lookup, then its scan.
        const std::vector<std::string> calls = s.fakes.calls();
        for (int i = 0; i < count; ++i) {
            const std::string host = "host" + std::to_string(i);
            EXPECT_EQ(calls_for_host(calls, host),
                      (std::vector<std::string>{"nslookup [" + host + "]", "nmap [" + host + "]"}));
        }
    }
}

TEST(Program, SnapshotRunsForItsSeconds) {
    ProgramDir s(servers(1));
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun r = run_velmora(s.dir.path(), {"--snapshot", "shot.png", "--seconds", "1"});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(r.status, 0) << r.err;
    // The loop cannot end before its stop time; how much later it ends is the machine's business.
    EXPECT_GE(elapsed, std::chrono::seconds(1));
    EXPECT_TRUE(decode_png(s.dir.path() + "/shot.png"));
}

TEST(Program, SnapshotToAPlaceThatCannotTakeItIsRefusedFirst) {
    ProgramDir s(servers(1));
    struct Case {
        std::string path;
        std::string why;
    };
    const Case cases[] = {
        {s.dir.path() + "/missing/shot.png", "das Verzeichnis existiert nicht"},
        {s.dir.path(), "der Name gehört zu einem Verzeichnis"},
        {s.dir.path() + "/velmora.cfg/shot.png", "das Verzeichnis existiert nicht"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const ProgramRun r = run_velmora(s.dir.path(), {"--snapshot", c.path, "--seconds", "0"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "velmora: Das Bild " + c.path + " lässt sich nicht schreiben: " + c.why + ".\n");
    }
    EXPECT_TRUE(s.fakes.calls().empty());
}

// The program started in dir as run_velmora starts it, without waiting for it; stderr goes to err_path.
pid_t start_velmora(const std::string& dir, std::vector<std::string> args, const std::string& err_path) {
    std::vector<char*> argv;
    std::string program = VELMORA_BIN;
    argv.push_back(program.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // As a shell starts its foreground program: the signals at their defaults, none blocked.
        for (int s : {SIGTERM, SIGINT, SIGHUP}) std::signal(s, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = open("/dev/null", O_RDWR);
        if (err < 0 || null < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(null, 0);
        dup2(null, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// The display is tried before any tool runs: a start-up scan that would take seconds does not delay the
// message, and never starts.
TEST(Program, DisplayThatCannotBeOpenedSaysSoBeforeAnyTool) {
    ProgramDir s(servers(1));
    s.fakes.hold("nslookup");
    s.fakes.hold("nmap");
    // No X server listens on this display number: the window cannot be opened.
    ScopedEnv display("DISPLAY", ":64999");
    const std::string err = s.dir.path() + "/err";
    const pid_t pid = start_velmora(s.dir.path(), {}, err);
    ASSERT_GT(pid, 0);
    int wstatus = 0;
    const bool ended =
        within(std::chrono::seconds(1), [&] { return waitpid(pid, &wstatus, WNOHANG) == pid; });
    EXPECT_TRUE(ended) << "no end within a second";
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
    }
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 1);
    EXPECT_EQ(read_file(err),
              "velmora: X11: Keine Verbindung zur Anzeige \":64999\" (kein X-Server dort, oder "
              "dieser Benutzer darf ihn nicht nutzen).\n");
    EXPECT_TRUE(s.fakes.calls().empty());
    s.fakes.release("nslookup");
    s.fakes.release("nmap");
}

// What the program promises for a stop, from the first signal to its end.
constexpr auto STOP_LIMIT = std::chrono::seconds(1);

// Stop signals while a tool stalls (it would for 20 s), at start-up and in the frames, in the window (the
// null driver stands in for a display) and in the snapshot: the tool is ended, the program ends within a
// second, as a closed window ends it or, for a snapshot cut short, without a picture; a second signal
// changes nothing.
TEST(ProgramStop, ASignalEndsTheRunWithinASecondWhateverToolRuns) {
    struct Case {
        const char* what;
        bool snapshot;
        const char* held; // stalls when the signals come
        std::vector<int> signals;
        int status;
    } const cases[] = {
        {"window, start-up scan, SIGTERM", false, "nmap", {SIGTERM}, 0},
        {"window, start-up lookup, SIGINT", false, "nslookup", {SIGINT}, 0},
        {"window, ping, SIGTERM SIGTERM SIGINT", false, "ping", {SIGTERM, SIGTERM, SIGINT}, 0},
        {"window, ping, SIGHUP", false, "ping", {SIGHUP}, 0},
        {"window, HTTP ping, SIGINT", false, "httping", {SIGINT}, 0},
        {"snapshot, start-up scan, SIGTERM", true, "nmap", {SIGTERM}, 1},
        {"snapshot, ping, SIGINT SIGTERM", true, "ping", {SIGINT, SIGTERM}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramDir s(servers(2));
        ScopedEnv korvid("KORVID", c.snapshot ? std::nullopt : std::optional<std::string>("null"));
        s.fakes.hold(c.held);
        const std::string err = s.dir.path() + "/err";
        std::vector<std::string> args;
        if (c.snapshot) args = {"--snapshot", "shot.png", "--seconds", "60"};
        pid_t pid = start_velmora(s.dir.path(), args, err);
        ASSERT_GT(pid, 0);
        const std::string held = std::string(c.held) + " ";
        const bool stalled = within(std::chrono::seconds(30), [&] {
            const std::vector<std::string> calls = s.fakes.calls();
            return std::any_of(calls.begin(), calls.end(), [&](const std::string& call) {
                return call.starts_with(held) && call.find("[host0]") != std::string::npos;
            });
        });
        EXPECT_TRUE(stalled) << "no " << c.held << " ran";
        for (int signal : c.signals) kill(pid, signal);
        int wstatus = 0;
        const bool ended = within(STOP_LIMIT, [&] { return waitpid(pid, &wstatus, WNOHANG) == pid; });
        EXPECT_TRUE(ended) << "still running " << STOP_LIMIT.count() << " s after the signal";
        if (!ended) {
            // Only for the report: how long it did take, if it ends before the held tool gives up.
            within(std::chrono::seconds(30), [&] { return waitpid(pid, &wstatus, WNOHANG) == pid; });
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
        }
        EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == c.status)
            << (WIFSIGNALED(wstatus) ? "ended by signal " + std::to_string(WTERMSIG(wstatus))
                                     : "status " + std::to_string(WEXITSTATUS(wstatus)))
            << "\n"
            << read_file(err);
        // A tool killed at the end may take a moment to be gone from the process list: a killed process
        // runs nothing of its own, however long the kernel takes to finish it.
        EXPECT_TRUE(within(STOP_LIMIT, [&] { return s.fakes.running().empty(); }))
            << "a tool of ours outlived us";
        // Nothing after a stalled run started: each server's remaining probes were skipped. The servers'
        // tools run side by side, so only each server's own calls keep an order.
        const std::vector<std::string> calls = s.fakes.calls();
        ASSERT_FALSE(calls.empty());
        for (const char* host : {"[host0]", "[host1]"}) {
            std::vector<std::string> own;
            for (const std::string& call : calls)
                if (call.find(host) != std::string::npos) own.push_back(call);
            const auto stalled_run = std::find_if(
                own.begin(), own.end(), [&](const std::string& call) { return call.starts_with(held); });
            if (stalled_run != own.end()) {
                EXPECT_EQ(stalled_run + 1, own.end()) << host << ": " << own.back();
            }
        }
        if (c.snapshot) {
            EXPECT_FALSE(std::filesystem::exists(s.dir.path() + "/shot.png"));
            EXPECT_EQ(read_file(err),
                      "velmora: Abgebrochen, bevor die Laufzeit um war; kein Bild geschrieben.\n");
        } else {
            EXPECT_EQ(read_file(err), "");
        }
        s.fakes.release(c.held);
    }
}

TEST(Program, ProgressOnATerminalOneLinePerServer) {
    ProgramDir s("alpha\nbeta\nport=21/tcp\ngamma\n");
    const ProgramRun r = run_velmora(s.dir.path(), {"--snapshot", "shot.png", "--seconds", "0"}, true);
    ASSERT_EQ(r.status, 0) << r.err;
    // The terminal turns each newline into CR LF. The servers are probed at once and named as they are done,
    // in whichever order that is: one whole line each.
    const std::string start = "velmora: Prüfe 3 Server (Namensauflösung und Portscan) ...\r\n";
    ASSERT_TRUE(r.err.starts_with(start)) << r.err;
    std::vector<std::string> done;
    for (std::size_t at = start.size(), end; (end = r.err.find("\r\n", at)) != std::string::npos;
         at = end + 2)
        done.push_back(r.err.substr(at, end - at));
    std::sort(done.begin(), done.end());
    EXPECT_EQ(done,
              (std::vector<std::string>{"velmora: Server alpha geprüft.", "velmora: Server beta geprüft.",
                                        "velmora: Server gamma geprüft."}));
    EXPECT_TRUE(r.err.ends_with("\r\n")) << r.err;
}

// A launcher's start-up id belongs to the window, which ends the launch once it is there: the tools the
// program starts, the start-up probes first among them, never see it.
TEST(Program, TheToolsNeverSeeTheLaunchersStartupId) {
    ProgramDir s(servers(1));
    const std::string seen = s.fakes.dir().path() + "/startup_id";
    const std::string tool = s.fakes.dir().path() + "/bin/nslookup";
    std::filesystem::remove(tool);
    std::ofstream(tool) << "#!/bin/sh\nprintf '%s\\n' \"${DESKTOP_STARTUP_ID-none}\" >>'" << seen << "'\n";
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    ScopedEnv id("DESKTOP_STARTUP_ID", "menu-4711-0-host-velmora-1_TIME8077");
    const ProgramRun r = run_velmora(s.dir.path(), {"--snapshot", "shot.png", "--seconds", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(seen), "none\n");
}

// --- Where the configuration comes from ---

const std::string GOOD = "Terminal:xterm -e\nProxy:\nalpha\nport=22/tcp\n";

// Every file under the folder with its bytes, and for each its inode and change time: a file that was
// replaced or written to shows up as different.
std::string tree(const std::string& folder) {
    std::string text;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        struct stat info {};
        lstat(entry.path().c_str(), &info);
        text += entry.path().string() + " " + std::to_string(info.st_ino) + " " +
                std::to_string(info.st_ctim.tv_sec) + "." + std::to_string(info.st_ctim.tv_nsec);
        if (entry.is_regular_file()) text += " [" + read_file(entry.path().string()) + "]";
        text += "\n";
    }
    return text;
}

std::string parent_of(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

std::string example_file() {
    return read_file(std::string(VELMORA_APP_TEST_DIR) + "/../../examples/velmora.cfg");
}

TEST(ProgramConfig, LookupOrder) {
    FakeTools fakes;
    TempDir work, xdg;
    ScratchHome home;
    struct Case {
        const char* name;
        bool here, in_home, in_xdg;
        std::optional<std::string> xdg_env; // XDG_CONFIG_HOME
        std::vector<std::string> args;
        std::string read; // the file --check names
    };
    const std::string here = work.path() + "/velmora.cfg", user = home.user_config(),
                      other = xdg.path() + "/velmora/velmora.cfg", given = work.path() + "/given.cfg";
    const Case cases[] = {
        {"working folder first", true, true, true, xdg.path(), {}, here},
        {"then the user's place", false, true, false, std::nullopt, {}, user},
        {"XDG_CONFIG_HOME moves it", false, true, true, xdg.path(), {}, other},
        {"a relative XDG_CONFIG_HOME is ignored", false, true, false, "relative", {}, user},
        {"an empty XDG_CONFIG_HOME is ignored", false, true, false, "", {}, user},
        {"--config replaces them", true, true, true, std::nullopt, {"--config", "given.cfg"}, given},
        {"-c as well", true, true, true, std::nullopt, {"-c", given}, given},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(work.path() + "/velmora.cfg");
        std::filesystem::remove_all(home.home.path() + "/.config");
        std::filesystem::remove_all(xdg.path() + "/velmora");
        work.write("given.cfg", GOOD + "given\n");
        if (c.here) work.write("velmora.cfg", GOOD + "here\n");
        for (const auto& [wanted, file] : {std::pair{c.in_home, user}, std::pair{c.in_xdg, other}}) {
            if (!wanted) continue;
            std::filesystem::create_directories(std::filesystem::path(file).parent_path());
            std::ofstream(file) << GOOD;
        }
        ScopedEnv xdg_env("XDG_CONFIG_HOME", c.xdg_env);
        std::vector<std::string> args = c.args;
        args.push_back("--check");
        const ProgramRun r = run_velmora(work.path(), args);
        EXPECT_EQ(r.status, 0) << r.err;
        const int servers = c.read == here || c.read == given ? 2 : 1;
        EXPECT_EQ(r.out, c.read + ": " + std::to_string(servers) + " Server, alle Zeilen angenommen.\n");
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(fakes.calls().empty());
}

// A snapshot of a named file reads that file, with its probes.
TEST(ProgramConfig, ConfigCombinesWithSnapshot) {
    ProgramDir s(servers(1));
    TempDir elsewhere;
    const std::string file = elsewhere.write("other.cfg", GOOD);
    const ProgramRun r = run_velmora(s.dir.path(), {"--snapshot", "shot.png", "--seconds", "0", "-c", file});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(decode_png(s.dir.path() + "/shot.png"));
    const std::vector<std::string> calls = s.fakes.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "nslookup [alpha]");
    EXPECT_EQ(calls[1], "nmap [alpha]");
}

TEST(ProgramConfig, NoFileAnywhereNamesEveryPlaceAndWritesNothing) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--snapshot", "a.png"}, std::vector<std::string>{"--check"},
          std::vector<std::string>{}}) {
        SCOPED_TRACE(args.empty() ? "window" : args[0]);
        ProgramDir s("");
        std::filesystem::remove(s.dir.path() + "/velmora.cfg");
        ScopedEnv display("DISPLAY", ":64999");
        const std::string home_before = tree(s.home.home.path()), dir_before = tree(s.dir.path());
        const ProgramRun r = run_velmora(s.dir.path(), args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "velmora: Keine Konfigurationsdatei gefunden. Gesucht in dieser Reihenfolge:\n  " +
                             s.dir.path() + "/velmora.cfg\n  " + s.home.user_config() +
                             "\nMit --example-if-missing legt velmora " + s.home.user_config() +
                             " als Beispiel an.\n");
        EXPECT_EQ(tree(s.home.home.path()), home_before);
        EXPECT_EQ(tree(s.dir.path()), dir_before);
        EXPECT_TRUE(s.fakes.calls().empty());
    }
}

TEST(ProgramConfig, ExampleIfMissingWritesTheExampleOnceThenRunsOnIt) {
    ProgramDir s("");
    std::filesystem::remove(s.dir.path() + "/velmora.cfg");
    const std::string file = s.home.user_config();
    const ProgramRun first =
        run_velmora(s.dir.path(), {"--example-if-missing", "--snapshot", "shot.png", "--seconds", "0"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err,
              "velmora: Keine Konfigurationsdatei gefunden; das Beispiel (nur dieser Rechner) steht "
              "jetzt in " +
                  file + " und kann dort angepasst werden.\n");
    EXPECT_EQ(read_file(file), example_file());
    EXPECT_NE(example_file().find("\nlocalhost\n"), std::string::npos);
    // The run went on with the example: its servers were probed and drawn, two panels high.
    const auto picture = decode_png(s.dir.path() + "/shot.png");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->height, 400u);
    EXPECT_EQ(calls_for_host(s.fakes.calls(), "localhost"),
              (std::vector<std::string>{"nslookup [localhost]", "nmap [localhost]"}));
    struct stat folder {};
    ASSERT_EQ(stat((s.home.home.path() + "/.config/velmora").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);

    // The second time the file is there: read, not written.
    const std::string before = tree(s.home.home.path());
    const ProgramRun second = run_velmora(s.dir.path(), {"--example-if-missing", "--check"});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.err, "");
    EXPECT_EQ(second.out, file + ": 2 Server, alle Zeilen angenommen.\n");
    EXPECT_EQ(tree(s.home.home.path()), before);
}

TEST(ProgramConfig, ExampleIfMissingLeavesEveryExistingFileAlone) {
    struct Case {
        const char* name;
        std::string user_file; // what is at the user's place; empty: a folder
        bool here;             // a velmora.cfg in the working folder
        bool given;            // --config names a missing file
        int status;
        std::string err_start;
    };
    const Case cases[] = {
        {"the user's own file", "Terminal:x\nProxy:\nmine\n", false, false, 0, ""},
        {"an empty file", "\n", false, false, 1, "velmora: Konfigurationsdatei "},
        {"a folder in its place", "", false, false, 1, "velmora: Konfigurationsdatei "},
        {"a file in the working folder", "-", true, false, 0, ""},
        {"a named file that is missing", "-", false, true, 1, "velmora: Konfigurationsdatei "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramDir s("");
        if (!c.here) std::filesystem::remove(s.dir.path() + "/velmora.cfg");
        if (c.here) s.dir.write("velmora.cfg", GOOD);
        const std::string file = s.home.user_config();
        if (c.user_file != "-") {
            std::filesystem::create_directories(
                c.user_file.empty() ? file : s.home.home.path() + "/.config/velmora");
            if (!c.user_file.empty()) std::ofstream(file) << c.user_file;
        }
        std::vector<std::string> args = {"--example-if-missing", "--check"};
        if (c.given) args.insert(args.end(), {"-c", "missing.cfg"});
        const std::string before = tree(s.home.home.path());
        const ProgramRun r = run_velmora(s.dir.path(), args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(r.err.starts_with(c.err_start)) << r.err;
        EXPECT_EQ(r.err.find("Beispiel"), std::string::npos) << r.err;
        EXPECT_EQ(tree(s.home.home.path()), before);
    }
}

// Even root cannot make a folder below a plain file.
TEST(ProgramConfig, AnUnwritablePlaceIsReportedLikeAMissingFile) {
    ProgramDir s("");
    std::filesystem::remove(s.dir.path() + "/velmora.cfg");
    const std::string blocker = s.home.home.path() + "/plain";
    std::ofstream(blocker) << "not a folder";
    ScopedEnv xdg("XDG_CONFIG_HOME", blocker);
    const std::string file = blocker + "/velmora/velmora.cfg";
    const ProgramRun r = run_velmora(s.dir.path(), {"--example-if-missing", "--snapshot", "a.png"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "velmora: Das Beispiel lässt sich nicht als " + file +
                         " anlegen: ein Teil des Pfads ist kein Verzeichnis.\n"
                         "velmora: Keine Konfigurationsdatei gefunden. Gesucht in dieser Reihenfolge:\n  " +
                         s.dir.path() + "/velmora.cfg\n  " + file +
                         "\nMit --example-if-missing legt velmora " + file + " als Beispiel an.\n");
    EXPECT_EQ(read_file(blocker), "not a folder");
    EXPECT_EQ(access((s.dir.path() + "/a.png").c_str(), F_OK), -1);
    EXPECT_TRUE(s.fakes.calls().empty());
}

// A home folder that is not there is not made up; only the folders below it would be made.
TEST(ProgramConfig, AMissingHomeIsNotCreated) {
    ProgramDir s("");
    std::filesystem::remove(s.dir.path() + "/velmora.cfg");
    const std::string home = s.home.home.path() + "/gone";
    ScopedEnv home_env("HOME", home);
    const std::string file = home + "/.config/velmora/velmora.cfg";
    const ProgramRun r = run_velmora(s.dir.path(), {"--example-if-missing", "--check"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with(
        "velmora: Das Beispiel lässt sich nicht als " + file +
        " anlegen: ein Teil des Pfads fehlt.\nvelmora: Keine Konfigurationsdatei gefunden."))
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(home));
}

// A backslash is part of the name: the file that was looked up and written is the file read, never the one
// its backslashes would name as slashes.
TEST(ProgramConfig, ThePlaceLookedUpIsThePlaceRead) {
    struct Case {
        const char* name;
        bool with_backslash, with_slash; // files "a\b" and "a/b" in the working folder
        std::vector<std::string> args;
        int status;
        std::string out_end; // after the file's name
    };
    const Case cases[] = {
        {"both there", true, true, {"-c", "a\\b", "--check"}, 0, ": 2 Server, alle Zeilen angenommen.\n"},
        {"only the backslash one",
         true,
         false,
         {"-c", "a\\b", "--check"},
         0,
         ": 2 Server, alle Zeilen angenommen.\n"},
        {"only the slash one", false, true, {"-c", "a\\b", "--check"}, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramDir s("");
        std::filesystem::remove(s.dir.path() + "/velmora.cfg");
        if (c.with_backslash) s.dir.write("a\\b", GOOD + "backslash\n");
        if (c.with_slash) {
            std::filesystem::create_directory(s.dir.path() + "/a");
            s.dir.write("a/b", GOOD);
        }
        const ProgramRun r = run_velmora(s.dir.path(), c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        const std::string file = s.dir.path() + "/a\\b";
        if (c.status == 0) {
            EXPECT_EQ(r.out, file + c.out_end);
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(r.err, "velmora: Konfigurationsdatei " + file + " fehlt oder ist nicht lesbar.\n");
        }
    }
    // The example goes to a configuration folder with a backslash in its name and is read from there.
    ProgramDir s("");
    std::filesystem::remove(s.dir.path() + "/velmora.cfg");
    const std::string xdg = s.home.home.path() + "/x\\y";
    ScopedEnv xdg_env("XDG_CONFIG_HOME", xdg);
    const ProgramRun r = run_velmora(s.dir.path(), {"--example-if-missing", "--check"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, xdg + "/velmora/velmora.cfg: 2 Server, alle Zeilen angenommen.\n");
    EXPECT_EQ(read_file(xdg + "/velmora/velmora.cfg"), example_file());
    EXPECT_FALSE(std::filesystem::exists(s.home.home.path() + "/x"));
}

// A configuration folder too long to be made leaves none of the folders that could be made behind.
TEST(ProgramConfig, AFolderChainThatCannotBeMadeLeavesNothing) {
    std::string deep = "/deep";
    while (deep.size() < 4200) deep += "/" + std::string(200, 'd');
    for (const std::string& below : {"/long/" + std::string(300, 'n'), deep}) {
        ProgramDir s("");
        std::filesystem::remove(s.dir.path() + "/velmora.cfg");
        const std::string xdg = s.home.home.path() + below;
        ScopedEnv xdg_env("XDG_CONFIG_HOME", xdg);
        const std::string before = tree(s.home.home.path());
        const ProgramRun r = run_velmora(s.dir.path(), {"--example-if-missing", "--check"});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err.starts_with("velmora: Das Beispiel lässt sich nicht als " + xdg +
                                      "/velmora/velmora.cfg anlegen: der Pfad ist zu lang.\n"))
            << r.err.substr(0, 200);
        EXPECT_EQ(tree(s.home.home.path()), before);
    }
}

// A link to nowhere where the user's file or its folder should be is named as what it is, and nothing is
// written through it.
TEST(ProgramConfig, ADanglingLinkIsReportedAsOne) {
    struct Case {
        const char* name;
        std::string link;   // below the home folder
        std::string target; // below the home folder, missing
    };
    const Case cases[] = {
        {"in place of the folder", "/.config/velmora", "/elsewhere"},
        {"in place of the file", "/.config/velmora/velmora.cfg", "/gone.cfg"},
    };
    for (const Case& c : cases) {
        for (bool example : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (example ? ", --example-if-missing" : ""));
            ProgramDir s("");
            std::filesystem::remove(s.dir.path() + "/velmora.cfg");
            const std::string home = s.home.home.path();
            std::filesystem::create_directories(std::filesystem::path(home + c.link).parent_path());
            std::filesystem::create_symlink(home + c.target, home + c.link);
            std::vector<std::string> args = {"--check"};
            if (example) args.push_back("--example-if-missing");
            const std::string before = tree(home);
            const ProgramRun r = run_velmora(s.dir.path(), args);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "velmora: Konfigurationsdatei " + s.home.user_config() + " ist nicht lesbar: " +
                                 home + c.link + " ist eine symbolische Verknüpfung ins Leere (ihr Ziel " +
                                 home + c.target + " gibt es nicht).\n");
            EXPECT_EQ(tree(home), before);
        }
    }
}

// A double click on the menu entry: two starts at once with --example-if-missing. Each reads the example
// whole, whichever of them writes it.
TEST(ProgramConfig, TwoStartsAtOnceBothReadTheWholeExample) {
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        ProgramDir s("");
        std::filesystem::remove(s.dir.path() + "/velmora.cfg");
        ProgramRun first, second;
        std::thread other([&] { second = run_velmora(s.dir.path(), {"--example-if-missing", "--check"}); });
        first = run_velmora(s.dir.path(), {"--example-if-missing", "--check"});
        other.join();
        const std::string file = s.home.user_config();
        for (const ProgramRun* r : {&first, &second}) {
            EXPECT_EQ(r->status, 0) << r->err;
            EXPECT_EQ(r->out, file + ": 2 Server, alle Zeilen angenommen.\n");
        }
        EXPECT_EQ(read_file(file), example_file());
        // One of them wrote it and said so; the other found it.
        const int said = static_cast<int>(first.err.find("Beispiel") != std::string::npos) +
                         static_cast<int>(second.err.find("Beispiel") != std::string::npos);
        EXPECT_EQ(said, 1) << first.err << second.err;
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(parent_of(file)))
            names.push_back(entry.path().filename());
        EXPECT_EQ(names, std::vector<std::string>{"velmora.cfg"});
    }
}

TEST(ProgramConfig, CheckJudgesEveryLineAndRunsNoTool) {
    struct Case {
        const char* name;
        std::string config;
        int status;
        std::string out_end; // after "<path>: "
        std::string err;     // after "velmora: velmora.cfg, " on each line
    };
    const Case cases[] = {
        {"good", GOOD + "# note\nbeta\nhttp=beta\n", 0, "2 Server, alle Zeilen angenommen.\n", ""},
        {"refused lines", "Terminal:x\nProxy:-x\nalpha;id\nport=22/tcp\nbeta\n", 1,
         "1 Server, 3 Zeilen nicht angenommen.\n",
         "Zeile 2: Proxy beginnt mit '-', das ein Werkzeug als Option lesen würde (Stelle 7); es wird "
         "kein Proxy verwendet.\n"
         "Zeile 3: Servername enthält das unzulässige Zeichen ';' (Stelle 6); Zeile wird übersprungen.\n"
         "Zeile 4: \"port=\"-Zeile ohne gültigen Server davor; wird ignoriert.\n"},
        {"no server", "Terminal:x\nProxy:\n# leer\n", 1, "kein Server, alle Zeilen angenommen.\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramDir s("");
        s.dir.write("velmora.cfg", c.config);
        const ProgramRun r = run_velmora(s.dir.path(), {"--check"}, true);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, s.dir.path() + "/velmora.cfg: " + c.out_end);
        // On a terminal, so that the start-up progress lines would show if any server were probed.
        std::string err;
        for (std::size_t at = 0; at < c.err.size();) {
            const std::size_t end = c.err.find('\n', at);
            err += "velmora: velmora.cfg, " + c.err.substr(at, end - at) + "\r\n";
            at = end + 1;
        }
        if (c.status == 1 && c.out_end.starts_with("kein Server"))
            err += "velmora: Konfigurationsdatei " + s.dir.path() + "/velmora.cfg nennt keinen Server.\r\n";
        EXPECT_EQ(r.err, err);
        EXPECT_TRUE(s.fakes.calls().empty());
    }
}

// --- Ends that do not go the normal way ---

// How long an end took, for the record of the run.
long long milliseconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

// A stop that nothing in the program's way looks at (here: the display's server accepts the connection and
// never answers, so Xlib waits) is carried out a second later: every tool ended, one line, status 1.
constexpr auto FORCED_STOP_LIMIT = std::chrono::milliseconds(1500);
const std::string FORCED_END_LINE =
    "velmora: Das Programm hat sich nach dem Stoppsignal nicht binnen einer Sekunde beendet; es wird jetzt "
    "abgebrochen.\n";

// A loopback listener on the port of a free TCP display number, 127.0.0.1:N.
struct SilentDisplay {
    int listener = -1;
    int number = -1;
    SilentDisplay() {
        for (int n = 40; n < 100 && number < 0; ++n) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(6000 + n));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 4) == 0) {
                listener = fd;
                number = n;
                fcntl(fd, F_SETFL, O_NONBLOCK);
            } else {
                close(fd);
            }
        }
    }
    ~SilentDisplay() {
        for (int fd : accepted) close(fd);
        if (listener >= 0) close(listener);
    }
    // True once a client has connected; what it sends is never answered.
    bool connected() {
        const int fd = accept(listener, nullptr, nullptr);
        if (fd >= 0) accepted.push_back(fd);
        return !accepted.empty();
    }
    std::vector<int> accepted;
};

TEST(ProgramStop, AStopWhileTheDisplayNeverAnswersIsCarriedOutWithinASecond) {
    SilentDisplay silent;
    ASSERT_GE(silent.number, 0) << "no free display port on loopback";
    ProgramDir s(servers(1));
    ScopedEnv korvid("KORVID", std::nullopt);
    ScopedEnv display("DISPLAY", "127.0.0.1:" + std::to_string(silent.number));
    const std::string err = s.dir.path() + "/err";
    const pid_t pid = start_velmora(s.dir.path(), {}, err);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(within(std::chrono::seconds(30), [&] { return silent.connected(); })) << read_file(err);
    const auto stopped = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    int wstatus = 0;
    const bool ended = within(FORCED_STOP_LIMIT, [&] { return waitpid(pid, &wstatus, WNOHANG) == pid; });
    std::printf("display that never answers: ended %lld ms after SIGTERM\n", milliseconds_since(stopped));
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
    }
    ASSERT_TRUE(ended) << "still running " << FORCED_STOP_LIMIT.count() << " ms after SIGTERM";
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 1);
    EXPECT_EQ(read_file(err), FORCED_END_LINE);
}

// A stop while a configuration file of 8 GB (all zeros, one line without end) is read: the reading ends
// within a second, says so, and the program fails, as it has read no server.
TEST(ProgramStop, AStopWhileAHugeConfigurationIsReadEndsTheReading) {
    ProgramDir s("");
    const std::string file = s.dir.path() + "/velmora.cfg";
    ASSERT_EQ(truncate(file.c_str(), 8LL << 30), 0) << std::strerror(errno);
    ScopedEnv korvid("KORVID", "null");
    const std::string err = s.dir.path() + "/err";
    const pid_t pid = start_velmora(s.dir.path(), {}, err);
    ASSERT_GT(pid, 0);
    // Reading the whole file takes far longer than this second.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_TRUE(process_running(pid)) << read_file(err);
    const auto stopped = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    int wstatus = 0;
    const bool ended = within(STOP_LIMIT, [&] { return waitpid(pid, &wstatus, WNOHANG) == pid; });
    if (!ended) {
        within(std::chrono::seconds(60), [&] { return waitpid(pid, &wstatus, WNOHANG) == pid; });
        kill(pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
    }
    std::printf("8 GB configuration: ended %lld ms after SIGTERM, status %d\n", milliseconds_since(stopped),
                WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1);
    EXPECT_TRUE(ended) << "still reading " << STOP_LIMIT.count() << " s after SIGTERM";
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 1);
    EXPECT_EQ(read_file(err), "velmora: Das Lesen der Konfigurationsdatei " + file + " wurde abgebrochen.\n");
    EXPECT_TRUE(s.fakes.calls().empty());
}

// The program as a job of an interactive shell on a terminal set to "stty tostop": its foreground process
// group, the terminal its controlling terminal. A tool that writes to standard error (nmap's "Failed to
// resolve") must neither be stopped by the terminal nor be silenced.
TEST(ProgramStop, ATerminalWithTostopStopsNoTool) {
    ProgramDir s(servers(1));
    const std::string nmap = s.fakes.dir().path() + "/bin/nmap";
    std::filesystem::remove(nmap);
    std::ofstream(nmap) << "#!/bin/sh\necho 'Failed to resolve \"host0\".' >&2\n";
    std::filesystem::permissions(nmap, std::filesystem::perms::owner_all);
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios modes{};
    ASSERT_EQ(tcgetattr(slave, &modes), 0);
    modes.c_lflag |= TOSTOP;
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &modes), 0);
    std::string program = VELMORA_BIN;
    std::vector<std::string> args = {program, "--snapshot", "shot.png", "--seconds", "1"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // A session whose controlling terminal is the pty, the program its foreground group, as a shell's
        // job control makes it.
        setsid();
        if (ioctl(slave, TIOCSCTTY, 0) != 0 || chdir(s.dir.path().c_str()) != 0) _exit(126);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(slave, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(slave);
    fcntl(master, F_SETFL, O_NONBLOCK);
    std::string terminal;
    int wstatus = 0;
    const bool ended = within(std::chrono::seconds(20), [&] {
        char buffer[4096];
        for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) terminal.append(buffer, n);
        return waitpid(pid, &wstatus, WNOHANG) == pid;
    });
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
    }
    close(master);
    EXPECT_TRUE(ended) << "the snapshot of 1 s did not end within 20 s: a tool was stopped";
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << terminal;
    EXPECT_NE(terminal.find("Failed to resolve \"host0\"."), std::string::npos) << terminal;
}

// A tool that is not on the search path is named once, at start and by --check, for the tools the
// configuration needs (httping only with an HTTP target); the run goes on as it would without the tool.
TEST(Program, AToolNotOnTheSearchPathIsNamedOnce) {
    struct Case {
        const char* what;
        std::initializer_list<std::string_view> present;
        const char* config;
        std::vector<std::string> args;
        std::vector<std::string> named;
    } const cases[] = {
        {"snapshot, no scan or ping",
         {"nslookup", "httping"},
         "host0\n",
         {"--snapshot", "shot.png", "--seconds", "2"},
         {"nmap", "ping"}},
        {"snapshot, no tool at all",
         {},
         "host0\nhttp=host0\n",
         {"--snapshot", "shot.png", "--seconds", "0"},
         {"nslookup", "nmap", "ping", "httping"}},
        {"snapshot, httping not needed",
         {"nslookup", "nmap", "ping"},
         "host0\n",
         {"--snapshot", "shot.png", "--seconds", "0"},
         {}},
        {"check", {"nslookup"}, "host0\nhttp=host0\n", {"--check"}, {"nmap", "ping", "httping"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        FakeTools fakes(c.present);
        dir.write("velmora.cfg", std::string("Terminal:xterm -e\nProxy:\n") + c.config);
        const ProgramRun r = run_velmora(dir.path(), c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        // The shell's own "not found" lines for each run come besides ours.
        std::vector<std::string> named;
        std::istringstream lines(r.err);
        for (std::string line; std::getline(lines, line);)
            if (line.starts_with("velmora: Das Werkzeug")) named.push_back(line);
        std::vector<std::string> expected;
        for (const std::string& tool : c.named)
            expected.push_back(
                "velmora: Das Werkzeug " + tool +
                " ist im Suchpfad (PATH) nicht zu finden; was es misst, fehlt in der Anzeige.");
        EXPECT_EQ(named, expected) << r.err;
    }
}

} // namespace
