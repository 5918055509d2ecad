// The built program with a configuration written to attack it: a second word in a server name, braces that
// bash would expand, option words. Run once with bash bound over /bin/sh in a mount namespace of its own and
// once with dash: whatever /bin/sh is, the tools get the same words, and the refused lines run nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/app/test_support.h"

namespace fs = std::filesystem;

namespace {

using Words = std::vector<std::string>;

// Exit codes of the child that mean: this machine cannot bind a shell, the test is skipped.
constexpr int NO_NAMESPACE = 75;
constexpr int NO_BIND = 76;

struct Run {
    int status = -1;
    std::string out, err;
};

bool same_file(const char* a, const char* b) {
    struct stat x {
    }, y{};
    return ::stat(a, &x) == 0 && ::stat(b, &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

// Runs argv in dir; with shell set, that program is bound over /bin/sh first, seen by the child alone.
Run run_in(const std::string& dir, const char* shell, Words args) {
    Run run;
    TempDir io;
    const std::string out_path = io.path() + "/out", err_path = io.path() + "/err";
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (shell != nullptr) {
            if (::unshare(CLONE_NEWNS) != 0) _exit(NO_NAMESPACE);
            // Private, so that the bind never reaches the machine's own mount table.
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(NO_NAMESPACE);
            if (::mount(shell, "/bin/sh", nullptr, MS_BIND, nullptr) != 0) _exit(NO_BIND);
            if (!same_file(shell, "/bin/sh")) _exit(NO_BIND);
        }
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int wstatus = 0;
    for (;;) {
        if (waitpid(pid, &wstatus, WNOHANG) == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            ADD_FAILURE() << args[0] << " did not end within 60 s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
    run.out = read_file(out_path);
    run.err = read_file(err_path);
    return run;
}

// Every run of a fake tool: its name and arguments, one a line, as the fake wrote them; sorted, since the
// servers are probed at once.
std::vector<Words> runs_in(const std::string& folder) {
    std::vector<Words> runs;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::ifstream in(entry.path());
        Words words;
        for (std::string line; std::getline(in, line);) words.push_back(line);
        runs.push_back(words);
    }
    std::sort(runs.begin(), runs.end());
    return runs;
}

const std::string CONFIG = "Terminal:setsid -f xterm -e\n"
                           "Proxy:cache:3128\n"
                           "localhost\n"                            // 3
                           "http={-x,evil.example:8080}127.0.0.1\n" // 4
                           "web1 reboot\n"                          // 5
                           "port=22/tcp\n"                          // 6
                           "{--script=/tmp/x/evil.nse,127.0.0.1}\n" // 7
                           "http=web1:8080/status\n"                // 8
                           "-oN/tmp/x/pwned\n"                      // 9
                           "127.0.0.1\n"                            // 10
                           "http=web1:8080/q?a=1&b=(x);c=*$HOME\n"; // 11

const std::string REFUSALS =
    "velmora: velmora.cfg, Zeile 4: HTTP-Ziel enthält das unzulässige Zeichen '{' (Stelle 6); Zeile wird "
    "übersprungen.\n"
    "velmora: velmora.cfg, Zeile 5: Servername enthält ein Leerzeichen (Stelle 5); Zeile wird übersprungen.\n"
    "velmora: velmora.cfg, Zeile 6: \"port=\"-Zeile ohne gültigen Server davor; wird ignoriert.\n"
    "velmora: velmora.cfg, Zeile 7: Servername enthält das unzulässige Zeichen '{' (Stelle 1); Zeile wird "
    "übersprungen.\n"
    "velmora: velmora.cfg, Zeile 8: \"http=\"-Zeile ohne gültigen Server davor; wird ignoriert.\n"
    "velmora: velmora.cfg, Zeile 9: Servername beginnt mit '-', das ein Werkzeug als Option lesen würde "
    "(Stelle 1); Zeile wird übersprungen.\n";

// The accepted servers and nothing else: the lookup and scan at start-up, then in the first frame a ping
// for each and the HTTP probe of the one with a target.
const std::vector<Words> EXPECTED_RUNS = [] {
    std::vector<Words> runs = {
        // Words a shell would cut, expand or run, passed on as they stand.
        {"httping", "-h", "web1:8080/q?a=1&b=(x);c=*$HOME", "-x", "cache:3128", "-c", "1", "-t", "2", "-i",
         "0.01"},
        {"nmap", "127.0.0.1"},
        {"nmap", "localhost"},
        {"nslookup", "127.0.0.1"},
        {"nslookup", "localhost"},
        {"ping", "127.0.0.1", "-c", "1", "-W", "1"},
        {"ping", "localhost", "-c", "1", "-W", "1"},
    };
    std::sort(runs.begin(), runs.end());
    return runs;
}();

void attack_under(const char* shell, const char* shell_name) {
    FakeTools fakes;
    fakes.replay("nslookup", fixture("nslookup_localhost.txt"));
    fakes.replay("nmap", fixture("nmap_ftp_ssh.txt"));
    fakes.replay("ping", fixture("ping_127.txt"));
    fakes.replay("httping", fixture("httping_127.txt"));
    TempDir argv_dir, dir, home;
    ScopedEnv argv_env("VELMORA_FAKE_ARGV", argv_dir.path());
    ScopedEnv home_env("HOME", home.path());
    ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv display("DISPLAY", std::nullopt);
    ScopedEnv korvid("KORVID", std::nullopt);
    dir.write("velmora.cfg", CONFIG);

    // The shell in place is the one named: bash expands the braces that dash keeps. This is what the
    // configuration's texts met before the tools were started without a shell.
    const std::string probe = dir.path() + "/expanded";
    const Run control = run_in(dir.path(), shell, {"/bin/sh", "-c", "echo {a,b} >'" + probe + "'"});
    if (control.status == NO_NAMESPACE || control.status == NO_BIND)
        GTEST_SKIP() << "cannot bind " << shell_name << " over /bin/sh here (status " << control.status
                     << ")";
    ASSERT_EQ(control.status, 0) << control.err;
    EXPECT_EQ(read_file(probe), std::string(shell_name) == "bash" ? "a b\n" : "{a,b}\n");

    const Run check = run_in(dir.path(), shell, {VELMORA_BIN, "--check"});
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.out, dir.path() + "/velmora.cfg: 2 Server, 6 Zeilen nicht angenommen.\n");
    EXPECT_EQ(check.err, REFUSALS);
    EXPECT_TRUE(runs_in(argv_dir.path()).empty());

    const Run shot = run_in(dir.path(), shell, {VELMORA_BIN, "--snapshot", "shot.png", "--seconds", "0"});
    EXPECT_EQ(shot.status, 0) << shot.err;
    EXPECT_EQ(shot.err, REFUSALS);
    EXPECT_EQ(runs_in(argv_dir.path()), EXPECTED_RUNS);
    EXPECT_FALSE(fs::exists("/tmp/x/pwned"));
}

bool is_root() {
    return ::geteuid() == 0;
}

TEST(NoShell, AttackLinesRunNothingWithBashAsBinSh) {
    if (!is_root()) GTEST_SKIP() << "binding bash over /bin/sh needs root";
    attack_under("/bin/bash", "bash");
}

TEST(NoShell, AttackLinesRunNothingWithDashAsBinSh) {
    if (same_file("/bin/sh", "/bin/dash")) return attack_under(nullptr, "dash");
    if (!is_root()) GTEST_SKIP() << "/bin/sh is not dash, and binding dash over it needs root";
    attack_under("/bin/dash", "dash");
}

} // namespace
