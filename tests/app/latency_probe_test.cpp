// Ping and HTTP probes against recorded ping and httping output.
#include <gtest/gtest.h>

#include "app/latency_probe.h"

#include "tests/app/test_support.h"
#include <cmath>
#include <iterator>

namespace {

// hh:mm:ss, two digits each.
bool is_time_of_day(const std::string& text) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
    for (int i : {0, 1, 3, 4, 6, 7}) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return text.compare(0, 2, "24") < 0 && text[3] < '6' && text[6] < '6';
}

using Words = std::vector<std::string>;

// The words the shell made of today's command lines, now handed over as they are: one argument each.
TEST(LatencyProbe, ArgumentVectorsAreTheWordsOfTheCommandLines) {
    struct Case {
        const char* name;
        const char* target;
        const char* proxy;
        Words ping; // "ping " + name + " -c 1 -W 1"
        Words http; // "httping -h " + target [+ " -x " + proxy] + " -c 1 -t 2 -i 0.01"
    };
    const Words tail = {"-c", "1", "-t", "2", "-i", "0.01"};
    auto http = [&](Words head) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    const Case cases[] = {
        {"10.0.0.1",
         "web:8080",
         "",
         {"ping", "10.0.0.1", "-c", "1", "-W", "1"},
         http({"httping", "-h", "web:8080"})},
        {"localhost",
         "web1:8080/status",
         "cache:80",
         {"ping", "localhost", "-c", "1", "-W", "1"},
         http({"httping", "-h", "web1:8080/status", "-x", "cache:80"})},
        {"web-1.example.com",
         "https://web-1.example.com/",
         "127.0.0.1:3128",
         {"ping", "web-1.example.com", "-c", "1", "-W", "1"},
         http({"httping", "-h", "https://web-1.example.com/", "-x", "127.0.0.1:3128"})},
        {"::1",
         "[::1]:8080/status",
         "[::1]:3128",
         {"ping", "::1", "-c", "1", "-W", "1"},
         http({"httping", "-h", "[::1]:8080/status", "-x", "[::1]:3128"})},
        {"fe80::1%eth0",
         "http://[fe80::1%eth0]/",
         "",
         {"ping", "fe80::1%eth0", "-c", "1", "-W", "1"},
         http({"httping", "-h", "http://[fe80::1%eth0]/"})},
        // Blanks after a text were never a word; a blank proxy is none: "-x" would take "-c" for the proxy.
        {"alpha   ",
         "alpha ",
         "cache:80 ",
         {"ping", "alpha", "-c", "1", "-W", "1"},
         http({"httping", "-h", "alpha", "-x", "cache:80"})},
        {"alpha", "alpha", "   ", {"ping", "alpha", "-c", "1", "-W", "1"}, http({"httping", "-h", "alpha"})},
        // Refused: nothing runs.
        {"web1 reboot", "web1 reboot", "", {}, {}},
        {"{--script=/tmp/x/evil.nse,127.0.0.1}", "{-x,evil.example:8080}127.0.0.1", "", {}, {}},
        {"-iL", "-x", "", {}, {}},
        {"alpha", "alpha", "-h x", {"ping", "alpha", "-c", "1", "-W", "1"}, {}},
        {"alpha", "", "cache:80", {"ping", "alpha", "-c", "1", "-W", "1"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServerRecord record;
        record.name = c.name;
        record.http_target = c.target;
        EXPECT_EQ(ping_arguments(record), c.ping);
        EXPECT_EQ(http_arguments(record, c.proxy), c.http);
    }
}

// The tools get exactly those words, and a refused text starts none of them.
TEST(LatencyProbe, ToolsGetTheWordsAndRefusedTextsRunNothing) {
    FakeTools fakes;
    fakes.replay("ping", fixture("ping_127.txt"));
    fakes.replay("httping", fixture("httping_127.txt"));
    for (const char* name : {"web1 reboot", "a{b,c}", "-oN/tmp/x", "alpha;id"}) {
        ServerRecord record;
        record.name = name;
        record.http_target = name;
        probe_ping(record);
        probe_http(record, "");
        EXPECT_EQ(record.ping_history[100], 0) << name;
    }
    EXPECT_TRUE(fakes.calls().empty());
    ServerRecord record;
    record.name = "fe80::1%eth0";
    record.http_target = "http://[::1]:8080/a?b=1&c=2";
    probe_ping(record);
    probe_http(record, "cache:80");
    EXPECT_EQ(fakes.calls(),
              (std::vector<std::string>{"ping [fe80::1%eth0] [-c] [1] [-W] [1]",
                                        "httping [-h] [http://[::1]:8080/a?b=1&c=2] [-x] [cache:80] [-c] [1] "
                                        "[-t] [2] [-i] [0.01]"}));
    EXPECT_GT(record.ping_history[100], 0);
}

// A blank target would leave httping taking "-c" for its target and running forever: nothing runs.
TEST(LatencyProbe, BlankHttpTargetRunsNothing) {
    FakeTools fakes;
    fakes.replay_bytes("httping", "time=1 ms\n");
    CommandLog log;
    for (const char* target : {"", " ", "    "}) {
        ServerRecord record;
        record.name = "alpha";
        record.http_target = target;
        probe_http(record, "cache:80");
        EXPECT_EQ(record.http_history[100], 0);
    }
    EXPECT_TRUE(log.commands().empty());
    EXPECT_TRUE(fakes.calls().empty());
}

// A sample the graph cannot scale is kept out of the history, as a line without a number would be.
TEST(LatencyProbe, UnscalableSamplesAreStoredAsZero) {
    std::array<double, HISTORY_SLOTS> history{};
    std::array<std::string, HISTORY_SLOTS> times;
    const double samples[] = {HUGE_VAL, -HUGE_VAL, std::nan(""), 2.5, 1e308};
    const double stored[] = {0, 0, 0, 2.5, 1e308};
    for (std::size_t i = 0; i < std::size(samples); ++i) {
        push_sample(history, times, samples[i], "12:00:0" + std::to_string(i));
        EXPECT_EQ(history[HISTORY_LENGTH], stored[i]) << i;
        EXPECT_EQ(times[HISTORY_LENGTH], "12:00:0" + std::to_string(i));
    }

    FakeTools fakes;
    fakes.replay_bytes("ping", "64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=1" + std::string(400, '0') +
                                   " ms\n64 bytes from 127.0.0.1: icmp_seq=2 ttl=64 time=0." +
                                   std::string(400, '0') + "1 ms\n");
    ServerRecord record;
    record.name = "127.0.0.1";
    probe_ping(record);
    EXPECT_EQ(record.ping_history[99], 0);
    EXPECT_EQ(record.ping_history[100], 0);
    EXPECT_TRUE(is_time_of_day(record.ping_times[99]));
}

TEST(LatencyProbe, PingSampleFromRealOutput) {
    struct Case {
        const char* file;
        const char* host;
        double sample;
    };
    const Case cases[] = {{"ping_127.txt", "127.0.0.1", 0.058}, {"ping_localhost.txt", "localhost", 0.024}};
    for (const Case& c : cases) {
        FakeTools fakes;
        fakes.replay("ping", fixture(c.file));
        ServerRecord record;
        record.name = c.host;
        record.up = 1;
        probe_ping(record);
        EXPECT_EQ(fakes.calls(),
                  std::vector<std::string>{"ping [" + std::string(c.host) + "] [-c] [1] [-W] [1]"});
        EXPECT_DOUBLE_EQ(record.ping_history[100], c.sample) << c.file;
        EXPECT_TRUE(is_time_of_day(record.ping_times[100])) << record.ping_times[100];
        EXPECT_EQ(record.ping_history[99], 0);
        EXPECT_EQ(record.ping_times[99], "");
        EXPECT_EQ(record.http_history[100], 0);
        EXPECT_EQ(record.up, 1);
    }
}

TEST(LatencyProbe, HttpCommandWithAndWithoutProxy) {
    struct Case {
        const char* proxy;
        const char* file;
        const char* call;
        double sample;
    };
    const Case cases[] = {
        {"", "httping_127.txt", "httping [-h] [127.0.0.1:8089] [-c] [1] [-t] [2] [-i] [0.01]", 1.82},
        {"127.0.0.1:8089", "httping_proxy.txt",
         "httping [-h] [127.0.0.1:8089] [-x] [127.0.0.1:8089] [-c] [1] [-t] [2] [-i] [0.01]", 12.3},
    };
    for (const Case& c : cases) {
        FakeTools fakes;
        fakes.replay("httping", fixture(c.file));
        ServerRecord record;
        record.name = "127.0.0.1";
        record.http_target = "127.0.0.1:8089";
        probe_http(record, c.proxy);
        EXPECT_EQ(fakes.calls(), std::vector<std::string>{c.call});
        EXPECT_DOUBLE_EQ(record.http_history[100], c.sample) << c.file;
        EXPECT_TRUE(is_time_of_day(record.http_times[100]));
        EXPECT_EQ(record.ping_history[100], 0);
    }
}

// The value is the whole number after "time=", not a fixed slice of characters.
TEST(LatencyProbe, TimeValues) {
    struct Case {
        const char* line;
        double sample;
    };
    const Case cases[] = {
        {"64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.045 ms", 0.045},
        {"64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=12.3 ms", 12.3},
        {"64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=1.23 ms", 1.23},
        {"64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=113 ms", 113},
        {"connected to 127.0.0.1:8089 (159 bytes), seq=0 time=  1.75 ms ", 1.75},
        {"connected to 127.0.0.1:8089 (159 bytes), seq=0 time= 12.34 ms ", 12.34},
        {"connected to 127.0.0.1:8089 (159 bytes), seq=0 time=113.34 ms ", 113.34},
        {"connected to 127.0.0.1:8089 (159 bytes), seq=0 time=  0.53 ms ", 0.53},
        {"time=", 0},
        {"time=   ", 0},
        {"time=.", 0},
        {"time=ms", 0},
        {"time=\t7.5 ms", 7.5},
        {"time=-5 ms", 0},
        {"time=inf", 0},
        {"time=nan", 0},
        {"time=1e400 ms", 1},
        {"time=1.2.3", 1.2},
        {"time=2 time=3", 2},
        {"time=99999999999999999999", 99999999999999999999.0},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(parse_time_value(c.line), c.sample) << c.line;
}

// A digit run longer than any double is no time at all; the longest that still fits is kept.
TEST(LatencyProbe, TimeValuesBeyondADoubleAreZero) {
    struct Case {
        std::string line;
        double sample;
    };
    const Case cases[] = {
        {"time=1" + std::string(400, '0') + " ms", 0}, {"time=" + std::string(309, '9'), 0},
        {"time=2" + std::string(308, '0') + ".5", 0},  {"time=1" + std::string(308, '0') + ".5", 1e308},
        {"time=1" + std::string(307, '0'), 1e307},     {"time=0." + std::string(400, '0') + "1 ms", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_time_value(c.line), c.sample) << c.line.size();
}

std::string time_lines(int first, int last) {
    std::string out;
    for (int i = first; i <= last; ++i) out += "reply time=" + std::to_string(i) + " ms\n";
    return out;
}

TEST(LatencyProbe, HistoryFillsFromTheTopAndShiftsAfterAHundredSamples) {
    FakeTools fakes;
    ServerRecord record;
    record.name = "127.0.0.1";
    record.ping_history[0] = 42;
    record.ping_times[0] = "untouched";

    fakes.replay_bytes("ping", time_lines(1, 3));
    probe_ping(record);
    EXPECT_EQ(record.ping_history[97], 0);
    EXPECT_EQ(record.ping_times[97], "");
    EXPECT_EQ(record.ping_history[98], 1);
    EXPECT_EQ(record.ping_history[100], 3);

    fakes.replay_bytes("ping", time_lines(4, 101));
    probe_ping(record);
    for (int i = 1; i <= 100; ++i) {
        EXPECT_EQ(record.ping_history[i], i + 1) << i;
        EXPECT_TRUE(is_time_of_day(record.ping_times[i])) << i;
    }
    EXPECT_EQ(record.ping_history[0], 42);
    EXPECT_EQ(record.ping_times[0], "untouched");
    EXPECT_EQ(fakes.calls().size(), 2u);
}

TEST(LatencyProbe, StampsMoveWithTheirSamples) {
    ServerRecord record;
    for (int i = 1; i <= 101; ++i)
        push_sample(record.http_history, record.http_times, i, "s" + std::to_string(i));
    for (int i = 1; i <= 100; ++i) {
        EXPECT_EQ(record.http_history[i], i + 1);
        EXPECT_EQ(record.http_times[i], "s" + std::to_string(i + 1));
    }
    EXPECT_EQ(record.http_history[0], 0);
    EXPECT_EQ(record.http_times[0], "");
}

TEST(LatencyProbe, TotalLossClearsUp) {
    FakeTools fakes;
    fakes.replay("ping", fixture("ping_loss.txt"));
    ServerRecord record;
    record.name = "127.0.0.3";
    record.up = 1;
    probe_ping(record);
    EXPECT_EQ(record.up, 0);
    EXPECT_EQ(record.ping_history[100], 0);
    EXPECT_EQ(record.ping_times[100], "");
}

TEST(LatencyProbe, LossAndTimeOnOneLineAddsASampleAndKeepsUp) {
    FakeTools fakes;
    fakes.replay_bytes("httping", "time=4.5 ms, 100% packet loss\n");
    ServerRecord record;
    record.http_target = "127.0.0.1:1";
    record.up = 1;
    probe_http(record, "");
    EXPECT_EQ(record.up, 1);
    EXPECT_EQ(record.http_history[100], 4.5);
}

// httping reports a target that refused or never answered as "100.00% failed", not as packet loss; left
// unrecognised, the host would stay up and freeze every frame of its interval again.
TEST(LatencyProbe, HttpingFailureIsTotalLoss) {
    struct Case {
        const char* output;
        uint8_t up;
    };
    const Case cases[] = {
        {nullptr, 0}, // the recorded refused connection
        {"1 connects, 0 ok, 100.00% failed, time 2002ms\n", 0},
        {"100.00% failed", 0},
        {"1 connects, 1 ok, 0.00% failed, time 1002ms\n", 1},
        {"2 connects, 1 ok, 50.00% failed, time 2002ms\n", 1},
        {"100% failed\n", 1},
    };
    for (const Case& c : cases) {
        FakeTools fakes;
        if (c.output) {
            fakes.replay_bytes("httping", c.output);
        } else {
            fakes.replay("httping", fixture("httping_refused.txt"));
        }
        ServerRecord record;
        record.http_target = "127.0.0.1:1";
        record.up = 1;
        probe_http(record, "");
        EXPECT_EQ(record.up, c.up) << (c.output ? c.output : "httping_refused.txt");
        EXPECT_EQ(record.http_history[100], 0);
        EXPECT_EQ(record.http_times[100], "");
    }
}

TEST(LatencyProbe, UnsafeTextsRunNothing) {
    FakeTools fakes;
    fakes.replay_bytes("ping", "time=1 ms\n");
    fakes.replay_bytes("httping", "time=1 ms\n");
    ServerRecord record;
    record.name = "a;b";
    probe_ping(record);
    record.http_target = "$(id)";
    probe_http(record, "");
    record.http_target = "web";
    probe_http(record, "cache|x");
    probe_http(record, "cache:80 #"); // would comment out " -c 1": httping without end
    EXPECT_TRUE(fakes.calls().empty());
    EXPECT_EQ(record.ping_history[100], 0);
    EXPECT_EQ(record.http_history[100], 0);
}

} // namespace
