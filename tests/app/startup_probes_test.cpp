// The start-up probes of all servers at once: every server's lookup and scan run side by side, each server's
// results land in its own record, and the notices come from the reading thread. Fake tools that hold their
// answer show the runs overlapping without any timing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/config.h"
#include "tests/app/test_support.h"

namespace {

constexpr int SERVERS = MAX_SERVERS;

std::string host(int i) {
    return "server" + std::to_string(i);
}

// How many runs of the tool the log holds.
std::size_t runs_of(const FakeTools& fakes, std::string_view tool) {
    const std::vector<std::string> calls = fakes.calls();
    return static_cast<std::size_t>(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
        return c.starts_with(std::string(tool) + " [");
    }));
}

// Polls until the tool has been started count times, or the deadline passes.
bool wait_for_runs(const FakeTools& fakes, std::string_view tool, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (runs_of(fakes, tool) < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The names the notice was told, in order, and whether one came from another thread than the reader's.
std::mutex g_lock;
std::vector<std::string> g_done;
std::thread::id g_reader;
bool g_notice_elsewhere = false;

void note_done(std::string_view name) {
    const std::lock_guard hold(g_lock);
    if (std::this_thread::get_id() != g_reader) g_notice_elsewhere = true;
    g_done.push_back(std::string(name));
}

std::vector<std::string> done_so_far() {
    const std::lock_guard hold(g_lock);
    return g_done;
}

void clear_notes() {
    const std::lock_guard hold(g_lock);
    g_done.clear();
    g_notice_elsewhere = false;
}

// Called by the thread that reads the configuration, before it reads.
void reader_is_this_thread() {
    const std::lock_guard hold(g_lock);
    g_reader = std::this_thread::get_id();
}

// Six servers, each answered with its own address and its own port line. All scans are held until every one
// of them has started: run one after the other, the first scan would wait alone (a held fake answers after
// 20 s at the latest, past the 15 s the test waits).
TEST(StartupProbes, AllServersAtOnceEachIntoItsOwnRecord) {
    FakeTools fakes;
    std::string config = "Terminal:xterm -e\nProxy:\n";
    for (int i = 0; i < SERVERS; ++i) {
        config += host(i) + "\n";
        fakes.replay_for_host(
            "nslookup", host(i),
            fakes.dir().write("lookup" + std::to_string(i),
                              "Name:\t" + host(i) + "\nAddress: 10.0.0." + std::to_string(i) + "\n"));
        fakes.replay_for_host("nmap", host(i),
                              fakes.dir().write("scan" + std::to_string(i), "PORT     STATE SERVICE\n" +
                                                                                std::to_string(8000 + i) +
                                                                                "/tcp open  http-alt\n"));
    }
    TempDir dir;
    dir.write("velmora.cfg", config);
    ScopedCwd cwd(dir.path());

    fakes.hold("nmap");
    ServerTable table;
    DashboardState state;
    bool ok = false;
    clear_notes();
    std::thread reader([&] {
        reader_is_this_thread();
        ok = read_configuration(table, state, note_done);
    });
    const bool overlapped = wait_for_runs(fakes, "nmap", SERVERS);
    // Nothing is done while every scan is held.
    const std::size_t done_while_held = done_so_far().size();
    fakes.release("nmap");
    reader.join();
    EXPECT_TRUE(overlapped) << "scans started together: " << runs_of(fakes, "nmap");
    EXPECT_EQ(done_while_held, 0u);

    ASSERT_TRUE(ok);
    ASSERT_EQ(table.server_count, SERVERS);
    const std::vector<std::string> calls = fakes.calls();
    EXPECT_EQ(calls.size(), 2u * SERVERS);
    for (int i = 0; i < SERVERS; ++i) {
        SCOPED_TRACE(host(i));
        const ServerRecord& r = table.servers[i];
        EXPECT_EQ(calls_for_host(calls, host(i)),
                  (std::vector<std::string>{"nslookup [" + host(i) + "]", "nmap [" + host(i) + "]"}));
        EXPECT_EQ(r.name, host(i));
        EXPECT_EQ(r.ip, "10.0.0." + std::to_string(i));
        EXPECT_EQ(r.nmap_lines[1], std::to_string(8000 + i) + "/tcp open  http-alt");
        EXPECT_EQ(r.nmap_lines[2], "");
        EXPECT_EQ(r.up, 1);
        EXPECT_EQ(r.last_probe, i);
        EXPECT_EQ(r.interval, DEFAULT_INTERVAL);
    }
    std::vector<std::string> names = done_so_far();
    std::sort(names.begin(), names.end());
    std::vector<std::string> want;
    for (int i = 0; i < SERVERS; ++i) want.push_back(host(i));
    EXPECT_EQ(names, want);
    EXPECT_FALSE(g_notice_elsewhere) << "a notice came from a probing thread";
}

// One server whose lookup is held: the other two finish and are named while it still waits, it comes last.
TEST(StartupProbes, EachServerIsNamedWhenItIsDone) {
    FakeTools fakes;
    TempDir dir;
    dir.write("velmora.cfg", "Terminal:xterm -e\nProxy:\nfast1\nslow\nfast2\n");
    ScopedCwd cwd(dir.path());
    fakes.hold_for_host("nslookup", "slow");
    ServerTable table;
    DashboardState state;
    clear_notes();
    std::thread reader([&] {
        reader_is_this_thread();
        (void)read_configuration(table, state, note_done);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (done_so_far().size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<std::string> first = done_so_far();
    const std::vector<std::string> slow_calls = calls_for_host(fakes.calls(), "slow");
    fakes.release_for_host("nslookup", "slow");
    reader.join();

    std::vector<std::string> all = done_so_far();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2], "slow");
    std::sort(first.begin(), first.end());
    EXPECT_EQ(first, (std::vector<std::string>{"fast1", "fast2"}));
    // The slow server's lookup was still held then: its scan had not started.
    EXPECT_EQ(slow_calls, std::vector<std::string>{"nslookup [slow]"});
    EXPECT_EQ(table.servers[1].name, "slow");
}

} // namespace
