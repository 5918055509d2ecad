// The configuration file, read from a fresh working directory with the fake tools on PATH.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/config.h"
#include "app/latency_probe.h"
#include "app/shell_text.h"
#include "tests/app/test_support.h"

#include <fstream>
#include <sys/resource.h>

namespace {

struct ConfigRun {
    bool ok = false;
    ServerTable table;
    DashboardState state;
    std::string messages;
    std::vector<std::string> calls;
};

// Writes velmora.cfg (unless bytes is null) into a fresh directory and reads it there.
std::unique_ptr<ConfigRun> read_config(const char* bytes, std::size_t size, FakeTools& fakes) {
    TempDir dir;
    if (bytes != nullptr) dir.write("velmora.cfg", std::string_view(bytes, size));
    auto run = std::make_unique<ConfigRun>();
    ScopedCwd cwd(dir.path());
    testing::internal::CaptureStderr();
    run->ok = read_configuration(run->table, run->state);
    run->messages = testing::internal::GetCapturedStderr();
    run->calls = fakes.calls();
    return run;
}

std::unique_ptr<ConfigRun> read_config(std::string_view text) {
    FakeTools fakes;
    return read_config(text.data(), text.size(), fakes);
}

const std::string HEAD = "Terminal:xterm -e\nProxy:cache:80\n";

TEST(Config, WorkedExample) {
    FakeTools fakes;
    fakes.replay_for_host("nslookup", "alpha", fixture("nslookup_cname.txt"));
    fakes.replay_for_host("nmap", "alpha", fixture("nmap_ftp_ssh.txt"));
    fakes.replay_for_host("nmap", "beta", fixture("nmap_host_down.txt"));
    const std::string text =
        HEAD + "a remark # here\nalpha\nport=22/tcp\nport=80/tcp\nhttp=alpha\nbeta\nport=21/tcp\n";
    const auto run = read_config(text.data(), text.size(), fakes);
    ASSERT_TRUE(run->ok) << run->messages;
    EXPECT_EQ(run->messages, "");
    EXPECT_EQ(run->state.terminal_command, "xterm -e");
    EXPECT_EQ(run->state.proxy, "cache:80");
    ASSERT_EQ(run->table.server_count, 2);
    const ServerRecord& alpha = run->table.servers[0];
    const ServerRecord& beta = run->table.servers[1];
    EXPECT_EQ(alpha.name, "alpha");
    EXPECT_EQ(alpha.expected_ports[1], "22/tcp");
    EXPECT_EQ(alpha.expected_ports[2], "80/tcp");
    EXPECT_EQ(alpha.expected_ports[3], "");
    EXPECT_EQ(alpha.http_target, "alpha");
    EXPECT_EQ(alpha.ip, "127.0.0.2");
    EXPECT_EQ(alpha.nmap_lines[2], "22/tcp open  ssh");
    EXPECT_EQ(alpha.up, 1);
    EXPECT_EQ(alpha.last_probe, 0);
    EXPECT_EQ(alpha.interval, 3);
    EXPECT_EQ(beta.name, "beta");
    EXPECT_EQ(beta.expected_ports[1], "21/tcp");
    EXPECT_EQ(beta.http_target, "");
    EXPECT_EQ(beta.up, 0);
    EXPECT_EQ(beta.last_probe, 1);
    EXPECT_EQ(beta.interval, 3);
    // Each server its lookup, then its scan; the two servers at once.
    EXPECT_EQ(run->calls.size(), 4u);
    EXPECT_EQ(calls_for_host(run->calls, "alpha"),
              (std::vector<std::string>{"nslookup [alpha]", "nmap [alpha]"}));
    EXPECT_EQ(calls_for_host(run->calls, "beta"),
              (std::vector<std::string>{"nslookup [beta]", "nmap [beta]"}));
}

TEST(Config, LineRules) {
    struct Case {
        const char* body; // from line 3 on
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"alpha\nbe#ta\nhttp=web#1\n", {"alpha"}},
        {"alpha  \n", {"alpha  "}},
        {"\n\nalpha\n\n   \nbeta\n", {"alpha", "beta"}},
        {"alpha\nhttp=one\nhttp=two\n", {"alpha"}},
    };
    for (const Case& c : cases) {
        const auto run = read_config(HEAD + c.body);
        std::vector<std::string> names;
        for (int i = 0; i < run->table.server_count; ++i) names.push_back(run->table.servers[i].name);
        EXPECT_EQ(names, c.names) << c.body;
        EXPECT_EQ(run->messages, "") << c.body;
    }
    const auto run = read_config(HEAD + "alpha\nhttp=one\nhttp=two \n");
    EXPECT_EQ(run->table.servers[0].http_target, "two ");
    EXPECT_EQ(run->table.servers[0].expected_ports[1], "");
    // Not port lines: each is a server line, and no host is called so.
    const auto keys = read_config(HEAD + "alpha\nPort=22/tcp\n port=22/tcp\n");
    ASSERT_EQ(keys->table.server_count, 1);
    EXPECT_EQ(keys->table.servers[0].expected_ports[1], "");
    EXPECT_EQ(
        keys->messages,
        "velmora: velmora.cfg, Zeile 4: Servername enthält das unzulässige Zeichen '=' (Stelle 5); Zeile "
        "wird übersprungen.\n"
        "velmora: velmora.cfg, Zeile 5: Servername enthält ein Leerzeichen (Stelle 1); Zeile wird "
        "übersprungen.\n");
}

TEST(Config, TrailingSpacesStayInTheNameAndAreNoWord) {
    CommandLog log;
    const auto run = read_config(HEAD + "127.0.0.1 \n");
    ASSERT_EQ(run->table.server_count, 1);
    EXPECT_EQ(run->table.servers[0].name, "127.0.0.1 ");
    // The shell never passed them on as a word; the tools still get the host alone.
    EXPECT_EQ(log.commands(),
              (std::vector<std::vector<std::string>>{{"nslookup", "127.0.0.1"}, {"nmap", "127.0.0.1"}}));
    EXPECT_EQ(run->calls, (std::vector<std::string>{"nslookup [127.0.0.1]", "nmap [127.0.0.1]"}));
}

TEST(Config, HeadLines) {
    struct Case {
        const char* text;
        const char* terminal;
        const char* proxy;
    };
    const Case cases[] = {
        {"123456789\n123456\nalpha\n", "", ""},
        {"12345678\n12345\nalpha\n", "", ""},
        {"Terminal:x-terminal-emulator -e \n#roxy:cache:80\nalpha\n", "x-terminal-emulator -e ", "cache:80"},
        {"Terminal:xterm -e\r\nProxy:cache:80\r\nalpha\r\nport=22/tcp\r\n", "xterm -e", "cache:80"},
        {"\xEF\xBB\xBFTerminal:xterm -e\nProxy:cache:80\nalpha\n", "xterm -e", "cache:80"},
        {"Terminal:xterm -e", "xterm -e", ""},
        {"", "", ""},
        {"Terminal:xterm\nProxy: \nalpha\n", "xterm", ""},
        {"Terminal:xterm\nProxy:    \nalpha\n", "xterm", ""},
    };
    for (const Case& c : cases) {
        const auto run = read_config(c.text);
        EXPECT_EQ(run->state.terminal_command, c.terminal) << c.text;
        EXPECT_EQ(run->state.proxy, c.proxy) << c.text;
    }
    const auto crlf = read_config(cases[3].text);
    EXPECT_EQ(crlf->table.servers[0].name, "alpha");
    EXPECT_EQ(crlf->table.servers[0].expected_ports[1], "22/tcp");
}

TEST(Config, MissingOrEmptyConfiguration) {
    FakeTools fakes;
    const auto missing = read_config(nullptr, 0, fakes);
    EXPECT_FALSE(missing->ok);
    EXPECT_TRUE(missing->messages.starts_with("velmora: Konfigurationsdatei /")) << missing->messages;
    EXPECT_TRUE(missing->messages.ends_with("/velmora.cfg fehlt oder ist nicht lesbar.\n"))
        << missing->messages;

    {
        TempDir dir;
        std::filesystem::create_directory(dir.path() + "/velmora.cfg");
        ScopedCwd cwd(dir.path());
        ServerTable table;
        DashboardState state;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(read_configuration(table, state));
        EXPECT_TRUE(
            testing::internal::GetCapturedStderr().ends_with("/velmora.cfg fehlt oder ist nicht lesbar.\n"));
    }

    const auto empty = read_config(HEAD + "# only a remark\nport=22/tcp\n");
    EXPECT_FALSE(empty->ok);
    EXPECT_TRUE(empty->messages.ends_with("/velmora.cfg nennt keinen Server.\n")) << empty->messages;
    EXPECT_TRUE(empty->calls.empty());
}

TEST(Config, LinesWithoutRoomAreIgnoredWithAMessage) {
    std::string text = HEAD + "port=1/tcp\nhttp=early\n";                          // lines 3, 4
    text += "alpha\n";                                                             // line 5
    for (int p = 1; p <= 11; ++p) text += "port=" + std::to_string(p) + "/tcp\n";  // lines 6..16
    for (const char* s : {"b", "c", "d", "e", "f"}) text += std::string(s) + "\n"; // lines 17..21
    text += "seventh\nport=7/tcp\nhttp=seventh\n";                                 // lines 22..24
    const auto run = read_config(text);
    ASSERT_TRUE(run->ok);
    EXPECT_EQ(run->table.server_count, 6);
    const ServerRecord& alpha = run->table.servers[0];
    for (int p = 1; p <= 10; ++p) EXPECT_EQ(alpha.expected_ports[p], std::to_string(p) + "/tcp");
    const ServerRecord& sixth = run->table.servers[5];
    EXPECT_EQ(sixth.name, "f");
    EXPECT_EQ(sixth.expected_ports[1], "");
    EXPECT_EQ(sixth.http_target, "");
    EXPECT_EQ(
        run->messages,
        "velmora: velmora.cfg, Zeile 3: \"port=\"-Zeile ohne gültigen Server davor; wird ignoriert.\n"
        "velmora: velmora.cfg, Zeile 4: \"http=\"-Zeile ohne gültigen Server davor; wird ignoriert.\n"
        "velmora: velmora.cfg, Zeile 16: mehr als 10 \"port=\"-Zeilen für diesen Server; wird ignoriert.\n"
        "velmora: velmora.cfg, Zeile 22: mehr als 6 Server; Zeile wird ignoriert.\n"
        "velmora: velmora.cfg, Zeile 23: \"port=\"-Zeile ohne gültigen Server davor; wird ignoriert.\n"
        "velmora: velmora.cfg, Zeile 24: \"http=\"-Zeile ohne gültigen Server davor; wird ignoriert.\n");
    EXPECT_EQ(run->calls.size(), 12u);
}

std::vector<std::string> refused_bytes() {
    std::vector<std::string> bytes;
    for (char c : std::string_view(";&|`$<>()\\\"'*?[")) bytes.emplace_back(1, c);
    for (int c = 1; c < 0x20; ++c) {
        if (c != '\n' && c != '\r') bytes.emplace_back(1, static_cast<char>(c)); // these end the line
    }
    bytes.emplace_back(1, '\x7F');
    return bytes;
}

TEST(Config, EveryMetacharacterIsRefusedAndNothingRuns) {
    for (const std::string& bad : refused_bytes()) {
        const std::string text = "Terminal:xterm -e\nProxy:cache" + bad + "80\nalpha" + bad +
                                 "touch pwned\n" + "port=22/tcp\nbeta\nhttp=web" + bad + "x\n";
        const auto run = read_config(text);
        const std::string shown = describe_byte(bad[0]);
        const char* kind =
            (bad[0] < 0x20 || bad[0] == 0x7F) ? "das Steuerzeichen " : "das unzulässige Zeichen ";
        EXPECT_EQ(run->messages,
                  "velmora: velmora.cfg, Zeile 2: Proxy enthält " + std::string(kind) + shown +
                      " (Stelle 12); es wird kein Proxy verwendet.\n"
                      "velmora: velmora.cfg, Zeile 3: Servername enthält " +
                      kind + shown +
                      " (Stelle 6); Zeile wird übersprungen.\n"
                      "velmora: velmora.cfg, Zeile 4: \"port=\"-Zeile ohne gültigen Server davor; "
                      "wird ignoriert.\n"
                      "velmora: velmora.cfg, Zeile 6: HTTP-Ziel enthält " +
                      kind + shown + " (Stelle 9); Zeile wird übersprungen.\n")
            << shown;
        EXPECT_EQ(run->state.proxy, "");
        ASSERT_EQ(run->table.server_count, 1) << shown;
        EXPECT_EQ(run->table.servers[0].name, "beta");
        EXPECT_EQ(run->table.servers[0].http_target, "");
        EXPECT_EQ(run->calls, (std::vector<std::string>{"nslookup [beta]", "nmap [beta]"})) << shown;
    }
}

// Only the proxy line may hold a '#' (elsewhere it makes a comment); in the HTTP command it could make the
// rest a comment, " -c 1" included, and httping would run for ever. A proxy names no fragment: every '#' is
// refused.
TEST(Config, ProxyWithACommentSignIsRefused) {
    struct Case {
        const char* proxy_line;
        const char* proxy;
        const char* messages;
    } const cases[] = {
        {"Proxy:cache:80 #x", "",
         "velmora: velmora.cfg, Zeile 2: Proxy enthält ein Leerzeichen (Stelle 15); es wird kein "
         "Proxy verwendet.\n"},
        {"Proxy:#", "",
         "velmora: velmora.cfg, Zeile 2: Proxy enthält das unzulässige Zeichen '#' (Stelle 7); es wird kein "
         "Proxy verwendet.\n"},
        {"Proxy:cache:80/#x", "",
         "velmora: velmora.cfg, Zeile 2: Proxy enthält das unzulässige Zeichen '/' (Stelle 15); es wird kein "
         "Proxy verwendet.\n"},
    };
    for (const Case& c : cases) {
        const auto run = read_config("Terminal:xterm -e\n" + std::string(c.proxy_line) + "\nalpha\n");
        EXPECT_EQ(run->messages, c.messages) << c.proxy_line;
        EXPECT_EQ(run->state.proxy, c.proxy) << c.proxy_line;
        EXPECT_EQ(run->table.server_count, 1) << c.proxy_line;
    }
}

// A word that starts with '-' would reach the tools as an option (nmap --script runs code).
TEST(Config, OptionWordsAreRefusedAndNothingRuns) {
    const std::string text = "Terminal:xterm -e\nProxy:-h x\nalpha --script=evil \nport=22/tcp\n-iL\nbeta\n"
                             "http=web -x y\nhttp=good-name\n";
    const auto run = read_config(text);
    EXPECT_EQ(run->messages,
              "velmora: velmora.cfg, Zeile 2: Proxy beginnt mit '-', das ein Werkzeug als Option "
              "lesen würde (Stelle 7); es wird kein Proxy verwendet.\n"
              "velmora: velmora.cfg, Zeile 3: Servername enthält ein Leerzeichen (Stelle 6); Zeile wird "
              "übersprungen.\n"
              "velmora: velmora.cfg, Zeile 4: \"port=\"-Zeile ohne gültigen Server davor; wird ignoriert.\n"
              "velmora: velmora.cfg, Zeile 5: Servername beginnt mit '-', das ein Werkzeug als Option "
              "lesen würde (Stelle 1); Zeile wird übersprungen.\n"
              "velmora: velmora.cfg, Zeile 7: HTTP-Ziel enthält ein Leerzeichen (Stelle 9); Zeile wird "
              "übersprungen.\n");
    EXPECT_EQ(run->state.proxy, "");
    ASSERT_EQ(run->table.server_count, 1);
    EXPECT_EQ(run->table.servers[0].name, "beta");
    EXPECT_EQ(run->table.servers[0].http_target, "good-name"); // a '-' inside a word is fine
    EXPECT_EQ(run->calls, (std::vector<std::string>{"nslookup [beta]", "nmap [beta]"}));
}

// A blank "http=" target or proxy counts as none: httping would otherwise read "-c" as the value it
// lacks and run forever. A "#" in the proxy would make the shell drop " -c 1".
TEST(Config, BlankTargetsAndProxiesCountAsNone) {
    struct Case {
        const char* proxy_line;
        const char* proxy;
        const char* message;
    };
    const Case cases[] = {
        {"Proxy:", "", ""},
        {"Proxy: ", "", ""},
        {"Proxy:      ", "", ""},
        {"Proxy:cache:80 ", "cache:80 ", ""},
        {"Proxy:cache:80 #note", "",
         "velmora: velmora.cfg, Zeile 2: Proxy enthält ein Leerzeichen (Stelle 15); es wird kein "
         "Proxy verwendet.\n"},
        {"Proxy:#", "",
         "velmora: velmora.cfg, Zeile 2: Proxy enthält das unzulässige Zeichen '#' (Stelle 7); es wird kein "
         "Proxy verwendet.\n"},
    };
    for (const Case& c : cases) {
        const std::string text = "Terminal:xterm\n" + std::string(c.proxy_line) +
                                 "\nalpha\nhttp=    \nbeta\nhttp=beta\ngamma\nhttp=gamma\nhttp= \n";
        const auto run = read_config(text);
        EXPECT_EQ(run->state.proxy, c.proxy) << c.proxy_line;
        EXPECT_EQ(run->messages, c.message) << c.proxy_line;
        ASSERT_EQ(run->table.server_count, 3);
        EXPECT_EQ(run->table.servers[0].http_target, "");
        EXPECT_EQ(run->table.servers[1].http_target, "beta");
        EXPECT_EQ(run->table.servers[2].http_target, ""); // a blank one replaces the earlier target

        FakeTools fakes;
        CommandLog log;
        for (int i = 0; i < run->table.server_count; ++i) probe_http(run->table.servers[i], run->state.proxy);
        std::vector<std::string> httping = {"httping", "-h", "beta"};
        if (*c.proxy) httping.insert(httping.end(), {"-x", "cache:80"}); // its trailing blank is no word
        httping.insert(httping.end(), {"-c", "1", "-t", "2", "-i", "0.01"});
        EXPECT_EQ(log.commands(), std::vector<std::vector<std::string>>{httping}) << c.proxy_line;
    }
}

// A name, target or proxy that the shell would expand against the working directory or the home directory.
TEST(Config, PatternsAndTildesAreRefusedAndNothingRuns) {
    FakeTools fakes;
    TempDir dir;
    for (const char* name : {"--script=evil", "-oNPWNED", "a", "~"}) dir.write(name, "");
    dir.write("velmora.cfg",
              "Terminal:xterm\nProxy:~proxy\n*\n[-]*\nbet?\n~\n~root\nbeta\nhttp=w*\nhttp=a b~\n");
    ScopedCwd cwd(dir.path());
    ServerTable table;
    DashboardState state;
    CommandLog log;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(read_configuration(table, state));
    const std::string messages = testing::internal::GetCapturedStderr();
    const std::string refused = "; Zeile wird übersprungen.\n";
    EXPECT_EQ(
        messages,
        "velmora: velmora.cfg, Zeile 2: Proxy enthält das unzulässige Zeichen '~' (Stelle 7); es wird kein "
        "Proxy verwendet.\n"
        "velmora: velmora.cfg, Zeile 3: Servername enthält das unzulässige Zeichen '*' (Stelle 1)" +
            refused +
            "velmora: velmora.cfg, Zeile 4: Servername enthält das unzulässige Zeichen '[' (Stelle 1)" +
            refused +
            "velmora: velmora.cfg, Zeile 5: Servername enthält das unzulässige Zeichen '?' (Stelle 4)" +
            refused +
            "velmora: velmora.cfg, Zeile 6: Servername enthält das unzulässige Zeichen '~' (Stelle 1)" +
            refused +
            "velmora: velmora.cfg, Zeile 7: Servername enthält das unzulässige Zeichen '~' (Stelle 1)" +
            refused +
            "velmora: velmora.cfg, Zeile 9: HTTP-Ziel enthält das unzulässige Zeichen '*' (Stelle 7)" +
            refused + "velmora: velmora.cfg, Zeile 10: HTTP-Ziel enthält ein Leerzeichen (Stelle 7)" +
            refused);
    EXPECT_EQ(state.proxy, "");
    ASSERT_EQ(table.server_count, 1);
    EXPECT_EQ(table.servers[0].name, "beta");
    EXPECT_EQ(table.servers[0].http_target, "");
    EXPECT_EQ(log.commands(),
              (std::vector<std::vector<std::string>>{{"nslookup", "beta"}, {"nmap", "beta"}}));
    EXPECT_EQ(fakes.calls(), (std::vector<std::string>{"nslookup [beta]", "nmap [beta]"}));
}

// A line past the bound is reported and ignored; the one at the bound is taken whole.
TEST(Config, OverlongLinesAreIgnoredWithAMessage) {
    const std::size_t bound = MAX_CONFIG_LINE;
    const std::string at_bound = "port=" + std::string(bound - 5, 'p');
    std::string text = "Terminal:" + std::string(bound, 't') + "\nProxy:cache:80\nalpha\n";
    text += at_bound + "\r\n";                                 // line 4
    text += "port=" + std::string(bound - 4, 'q') + "\n";      // line 5
    text += std::string(3 * 1024 * 1024, 's') + "\r\n";        // line 6: no server of that name
    text += "http=web\n" + std::string(bound + 1, 'u') + "\r"; // lines 7, 8
    const auto run = read_config(text);
    EXPECT_EQ(run->messages, "velmora: velmora.cfg, Zeile 1: länger als 4096 Bytes; Zeile wird ignoriert.\n"
                             "velmora: velmora.cfg, Zeile 5: länger als 4096 Bytes; Zeile wird ignoriert.\n"
                             "velmora: velmora.cfg, Zeile 6: länger als 4096 Bytes; Zeile wird ignoriert.\n"
                             "velmora: velmora.cfg, Zeile 8: länger als 4096 Bytes; Zeile wird ignoriert.\n");
    EXPECT_EQ(run->state.terminal_command, "");
    EXPECT_EQ(run->state.proxy, "cache:80");
    ASSERT_EQ(run->table.server_count, 1);
    EXPECT_EQ(run->table.servers[0].expected_ports[1], at_bound.substr(5));
    EXPECT_EQ(run->table.servers[0].expected_ports[2], "");
    EXPECT_EQ(run->table.servers[0].http_target, "web");
    EXPECT_EQ(run->calls, (std::vector<std::string>{"nslookup [alpha]", "nmap [alpha]"}));
}

// A gigabyte of NUL bytes is one endless line: read past with bounded memory, then no server.
TEST(Config, AGigabyteFileIsReadPastInBoundedMemory) {
    FakeTools fakes;
    TempDir dir;
    const std::string path = dir.path() + "/velmora.cfg";
    { std::ofstream(path).put('\0'); }
    std::filesystem::resize_file(path, std::uintmax_t{1} << 30); // sparse: no disk is used
    ScopedCwd cwd(dir.path());
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    ServerTable table;
    DashboardState state;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(read_configuration(table, state));
    const std::string messages = testing::internal::GetCapturedStderr();
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_NE(messages.find("Zeile 1: länger als 4096 Bytes"), std::string::npos) << messages;
    EXPECT_NE(messages.find("nennt keinen Server"), std::string::npos) << messages;
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024); // kB: nothing near the file's size was held
    EXPECT_TRUE(fakes.calls().empty());
}

// Only a regular file is read: a device never ends, a FIFO without writer would block before any message.
TEST(Config, NotARegularFileIsRefusedAtOnce) {
    const std::vector<std::string> targets = {"/dev/zero", "/dev/null", "fifo", "folder"};
    for (const std::string& target : targets) {
        FakeTools fakes;
        TempDir dir;
        std::filesystem::create_directory(dir.path() + "/folder");
        ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);
        std::filesystem::create_symlink(target, dir.path() + "/velmora.cfg");
        // In a child with an alarm, so that a read that blocks or never ends fails instead of hanging.
        EXPECT_EXIT(
            {
                ::alarm(10);
                ScopedCwd cwd(dir.path());
                ServerTable table;
                DashboardState state;
                std::_Exit(read_configuration(table, state) ? 1 : 0);
            },
            ::testing::ExitedWithCode(0),
            "velmora: Konfigurationsdatei .*/velmora.cfg fehlt oder ist nicht lesbar")
            << target;
        EXPECT_TRUE(fakes.calls().empty());
    }
}

TEST(Config, TenThousandLines) {
    std::string text = HEAD;
    for (int i = 3; i <= 10000; ++i)
        text += (i % 2 ? "host" + std::to_string(i) : "port=" + std::to_string(i)) + "\n";
    const auto run = read_config(text);
    EXPECT_TRUE(run->ok);
    EXPECT_EQ(run->table.server_count, 6);
    EXPECT_EQ(run->table.servers[5].name, "host13");
    EXPECT_EQ(run->table.servers[5].expected_ports[1], "14");
    EXPECT_EQ(std::count(run->messages.begin(), run->messages.end(), '\n'), 2 * (4999 - 6));
    EXPECT_EQ(run->calls.size(), 12u);
}

TEST(Config, BinaryGarbage) {
    for (unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 random(seed);
        std::string bytes;
        for (int i = 0; i < 32 * 1024; ++i) {
            const unsigned r = random();
            bytes += static_cast<char>((r >> 8) % 16 == 0 ? '\n' : r & 0xFF);
        }
        FakeTools fakes;
        const auto run = read_config(bytes.data(), bytes.size(), fakes);
        EXPECT_LE(run->table.server_count, MAX_SERVERS);
        for (int i = 0; i < run->table.server_count; ++i) {
            EXPECT_TRUE(check_host(run->table.servers[i].name).ok);
            const std::string& target = run->table.servers[i].http_target;
            EXPECT_TRUE(target.empty() || check_http_target(target).ok);
        }
        EXPECT_TRUE(run->state.proxy.empty() || check_proxy(run->state.proxy).ok);
        EXPECT_EQ(run->calls.size(), 2u * run->table.server_count);
    }
}

// The program itself: exit status and what it tells the user.
int run_velmora(const std::string& dir, std::string& messages) {
    const std::string command = "cd '" + dir + "' && '" VELMORA_BIN "' 2>stderr.txt";
    const int status = std::system(command.c_str());
    messages = read_file(dir + "/stderr.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Config, ProgramEndsWithStatusAndMessage) {
    FakeTools fakes;
    TempDir dir;
    // A display that cannot be opened: the configuration is read, the window then fails before any tool.
    ScopedEnv display("DISPLAY", ":64999");
    ScopedEnv korvid("KORVID", std::nullopt);
    // A home of its own: the user's configuration folder is the second place looked.
    TempDir home;
    ScopedEnv home_env("HOME", home.path());
    ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    std::string messages;
    EXPECT_EQ(run_velmora(dir.path(), messages), 1);
    const std::string user = home.path() + "/.config/velmora/velmora.cfg";
    EXPECT_EQ(messages, "velmora: Keine Konfigurationsdatei gefunden. Gesucht in dieser Reihenfolge:\n  " +
                            dir.path() + "/velmora.cfg\n  " + user +
                            "\nMit --example-if-missing legt velmora " + user + " als Beispiel an.\n");

    dir.write("velmora.cfg", HEAD);
    EXPECT_EQ(run_velmora(dir.path(), messages), 1);
    EXPECT_EQ(messages, "velmora: Konfigurationsdatei " + dir.path() + "/velmora.cfg nennt keinen Server.\n");

    dir.write("velmora.cfg", HEAD + "alpha\n");
    EXPECT_EQ(run_velmora(dir.path(), messages), 1);
    EXPECT_EQ(messages,
              "velmora: X11: Keine Verbindung zur Anzeige \":64999\" (kein X-Server dort, oder dieser "
              "Benutzer darf ihn nicht nutzen).\n");
    EXPECT_TRUE(fakes.calls().empty());
}

} // namespace
