// The built program end to end, without a display: options, the German refusals, and the snapshot with the
// fake tools. Each run gets a deadline; a program that outlives it is killed and the test fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pty.h>
#include <regex>
#include <signal.h>
#include <string>
#include <sys/wait.h>
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

// A directory with a configuration of these server lines; every tool answers with a recorded output.
struct ProgramDir {
    FakeTools fakes;
    TempDir dir;
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
    EXPECT_TRUE(help.out.starts_with("Aufruf: velmora [--snapshot DATEI.png [--seconds N]]")) << help.out;
    EXPECT_EQ(help.err, "");
    const ProgramRun version = run_velmora(s.dir.path(), {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "velmora Version " VELMORA_VERSION "\n");
    EXPECT_EQ(version.err, "");
    // Both sides come from the project version; an empty one would pass the comparison above unnoticed.
    EXPECT_TRUE(std::regex_match(VELMORA_VERSION, std::regex("[0-9]+(\\.[0-9]+)*"))) << VELMORA_VERSION;
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

TEST(Program, DisplayThatCannotBeOpenedSaysSo) {
    ProgramDir s(servers(1));
    // No X server listens on this display number: the window cannot be opened.
    ScopedEnv display("DISPLAY", ":64999");
    const ProgramRun r = run_velmora(s.dir.path(), {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "velmora: X11: Keine Verbindung zur Anzeige \":64999\" (kein X-Server dort, oder dieser "
                     "Benutzer darf ihn nicht nutzen).\n");
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
        {"no file, snapshot", std::nullopt, {"--snapshot", "a.png"}, "fehlt oder ist nicht lesbar.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTools fakes;
        TempDir dir;
        if (c.config) dir.write("velmora.cfg", *c.config);
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
        // The start-up probes ran for every server before the snapshot, in file order.
        const std::vector<std::string> calls = s.fakes.calls();
        ASSERT_GE(calls.size(), 2u * count);
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(calls[2 * i], "nslookup [host" + std::to_string(i) + "]");
            EXPECT_EQ(calls[2 * i + 1], "nmap [host" + std::to_string(i) + "]");
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

TEST(Program, ProgressOnATerminalOneLinePerServer) {
    ProgramDir s("alpha\nbeta\nport=21/tcp\ngamma\n");
    const ProgramRun r = run_velmora(s.dir.path(), {"--snapshot", "shot.png", "--seconds", "0"}, true);
    ASSERT_EQ(r.status, 0) << r.err;
    // The terminal turns each newline into CR LF.
    EXPECT_EQ(r.err, "velmora: Prüfe Server alpha (Namensauflösung und Portscan) ...\r\n"
                     "velmora: Prüfe Server beta (Namensauflösung und Portscan) ...\r\n"
                     "velmora: Prüfe Server gamma (Namensauflösung und Portscan) ...\r\n");
}

} // namespace
