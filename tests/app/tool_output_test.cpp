// Tool output the probes were never meant to see: they must neither crash nor hang.
#include <gtest/gtest.h>

#include <random>

#include "app/latency_probe.h"
#include "app/scan_probe.h"
#include "tests/app/test_support.h"

namespace {

constexpr std::size_t HUGE_LINE = 100 * 1024;

TEST(ToolOutput, HundredKilobyteLinesAreTakenWhole) {
    FakeTools fakes;
    const std::string filler(HUGE_LINE, 'x');
    fakes.replay_bytes("nslookup", "Address: " + filler + "\ncanonical name = " + filler + "\n");
    fakes.replay_bytes("nmap", "1/tcp " + filler + "\n" + filler + "\n");
    fakes.replay_bytes("ping", filler + " time=5.5 ms " + filler + "\n");
    fakes.replay_bytes("httping", filler + "\n" + filler + " time=  6.25 ms\n");
    ServerRecord record;
    record.name = "127.0.0.1";
    record.http_target = "127.0.0.1:8089";
    probe_lookup_and_scan(record);
    probe_ping(record);
    probe_http(record, "");
    EXPECT_EQ(record.ip, filler);
    EXPECT_EQ(record.alias, filler);
    EXPECT_EQ(record.nmap_lines[1], "1/tcp " + filler);
    EXPECT_EQ(record.nmap_lines[2], "");
    EXPECT_EQ(record.ping_history[100], 5.5);
    EXPECT_EQ(record.ping_history[99], 0);
    EXPECT_EQ(record.http_history[100], 6.25);
}

TEST(ToolOutput, LastLineWithoutNewlineCounts) {
    FakeTools fakes;
    fakes.replay_bytes("nslookup", "Name:\tlocalhost\nAddress: 127.0.0.1");
    fakes.replay_bytes("nmap", "PORT STATE SERVICE\n22/tcp open  ssh");
    fakes.replay_bytes("ping", "64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.058 ms");
    ServerRecord record;
    record.name = "localhost";
    probe_lookup_and_scan(record);
    probe_ping(record);
    EXPECT_EQ(record.ip, "127.0.0.1");
    EXPECT_EQ(record.nmap_lines[1], "22/tcp open  ssh");
    EXPECT_EQ(record.ping_history[100], 0.058);
}

TEST(ToolOutput, CarriageReturnLineEnds) {
    FakeTools fakes;
    fakes.replay_bytes("nslookup", "Address: 127.0.0.1\r\n");
    fakes.replay_bytes("ping", "time=0.5 ms\r\n1 packets transmitted, 0 received, 100% packet loss\r\n");
    ServerRecord record;
    record.name = "localhost";
    record.up = 1;
    probe_lookup_and_scan(record);
    probe_ping(record);
    EXPECT_EQ(record.ip, "127.0.0.1");
    EXPECT_EQ(record.ping_history[100], 0.5);
    EXPECT_EQ(record.up, 0);
}

TEST(ToolOutput, BinaryBytes) {
    std::mt19937 random(20261207);
    std::string noise;
    for (int i = 0; i < 64 * 1024; ++i) noise += static_cast<char>(random() & 0xFF);
    FakeTools fakes;
    fakes.replay_bytes("nslookup", noise);
    fakes.replay_bytes("nmap", noise);
    fakes.replay_bytes("ping", noise + "\ntime=\xFF\x01 ms\n\x1B[31mtime=3.25\x1B[0m\n");
    fakes.replay_bytes("httping", noise);
    ServerRecord record;
    record.name = "127.0.0.1";
    record.http_target = "127.0.0.1:8089";
    probe_lookup_and_scan(record);
    probe_ping(record);
    probe_http(record, "");
    EXPECT_EQ(record.ping_history[100], 3.25);
    EXPECT_EQ(record.ping_history[99], 0);
    EXPECT_EQ(fakes.calls().size(), 4u);
}

TEST(ToolOutput, ThousandsOfTimeLinesKeepTheNewestHundred) {
    std::string out;
    for (int i = 1; i <= 5000; ++i) out += "time=" + std::to_string(i) + " ms\n";
    FakeTools fakes;
    fakes.replay_bytes("httping", out);
    ServerRecord record;
    record.http_target = "127.0.0.1:8089";
    probe_http(record, "");
    for (int i = 1; i <= 100; ++i) EXPECT_EQ(record.http_history[i], 4900 + i) << i;
    EXPECT_EQ(record.http_history[0], 0);
    EXPECT_EQ(record.http_times[0], "");
}

TEST(ToolOutput, MissingToolsChangeNothing) {
    FakeTools fakes({}); // PATH holds no tool at all
    ServerRecord record;
    record.name = "127.0.0.1";
    record.http_target = "127.0.0.1:8089";
    record.ip = "kept";
    record.up = 1;
    testing::internal::CaptureStderr();
    probe_lookup_and_scan(record);
    probe_ping(record);
    probe_http(record, "cache:80");
    // The start names a missing tool once; a probe that cannot run it says nothing, however often it is due.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(record.ip, "kept");
    EXPECT_EQ(record.up, 1);
    EXPECT_EQ(record.nmap_lines[1], "");
    EXPECT_EQ(record.ping_history[100], 0);
    EXPECT_EQ(record.http_history[100], 0);
}

TEST(ToolOutput, EmptyOutputChangesNothing) {
    FakeTools fakes;
    ServerRecord record;
    record.name = "127.0.0.1";
    record.up = 1;
    probe_lookup_and_scan(record);
    probe_ping(record);
    EXPECT_EQ(record.up, 1);
    EXPECT_EQ(record.ping_history[100], 0);
    EXPECT_EQ(fakes.calls().size(), 3u);
}

} // namespace
