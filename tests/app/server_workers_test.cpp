// The servers' workers beside the frame: a tool that is held stops no frame and no other server, a down host
// is watched by its ping until it answers, and a stop in the middle ends every tool. Fake tools that hold
// their answer make the held runs without any timing; the frames run on the test's thread as the main loop
// runs them, on the null driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "app/config.h"
#include "app/dashboard.h"
#include "app/panel.h"
#include "app/server_workers.h"
#include "gfx/screen.h"
#include "rt/clock.h"
#include "rt/runtime.h"
#include "rt/sleep.h"
#include "tests/app/test_support.h"

namespace {

using namespace std::chrono_literals;

constexpr int NULL_DRIVER = -1;
constexpr auto LIMIT = 20s;

// The clock of the panel and the workers running twenty times as fast as the real one, so that intervals of
// seconds pass in a twentieth.
double g_fast_start = 0;
double fast_clock() {
    return g_fast_start + (rt_timer() - g_fast_start) * 20;
}

std::size_t count_of(const std::vector<std::string>& calls, std::string_view start) {
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [&](const std::string& c) { return c.starts_with(start); }));
}

int samples(const ServerRecord& r) {
    return static_cast<int>(std::count_if(r.ping_times.begin(), r.ping_times.end(),
                                          [](const std::string& stamp) { return !stamp.empty(); }));
}

class Workers : public testing::Test {
  protected:
    FakeTools tools;
    ServerTable table;
    DashboardState state;
    ServerWorkers workers;
    bool started = false;

    void SetUp() override {
        tools.replay("nslookup", fixture("nslookup_localhost.txt"));
        tools.replay("nmap", fixture("nmap_one_port.txt"));
        tools.replay("ping", fixture("ping_127.txt"));
        tools.replay("httping", fixture("httping_127.txt"));
        state.mouse_x = state.mouse_y = -1;
        state.mouse_buttons = -1;
    }
    void TearDown() override {
        if (started) {
            rt_request_stop();
            stop_server_workers(workers);
        }
        rt_clear_stop_request();
        panel_clock = rt_timer;
        gfx_close_mode();
    }
    ServerRecord& add(const std::string& name, int interval) {
        add_unprobed_server(table, name);
        ServerRecord& r = table.servers[table.server_count - 1];
        r.interval = static_cast<int8_t>(interval);
        return r;
    }
    void start() {
        ASSERT_TRUE(setup_screen(state, table.server_count, NULL_DRIVER));
        start_server_workers(workers, table, "", true);
        started = true;
    }
    // A frame of the main loop.
    void frame() {
        rt_sleep(FRAME_PAUSE_MS, 1);
        draw_frame(table, state, &workers);
    }
    // Frames until the condition holds or the limit passes; true when it held.
    template <typename Condition>
    bool frames_until(Condition condition, std::chrono::milliseconds limit = LIMIT) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            frame();
        }
        return true;
    }
    bool ran(std::string_view start) const {
        const std::vector<std::string> calls = tools.calls();
        return count_of(calls, start) > 0;
    }
    void press(int64_t x, int64_t y, int64_t buttons) {
        state.mouse_x = x;
        state.mouse_y = y;
        state.mouse_buttons = buttons;
    }
};

// One server's ping held: the frames go on, the other server gets its samples at its interval, its interval
// button answers, and three reload clicks on the busy server run one reload, after its ping.
TEST_F(Workers, AHeldToolStopsNoFrameAndNoOtherServer) {
    add("alpha", 1);
    add("beta", 1);
    tools.hold_for_host("ping", "alpha");
    start();
    ASSERT_TRUE(frames_until([&] { return ran("ping [alpha]"); })) << "alpha was never pinged";
    const int beta_before = samples(table.servers[1]);
    uint64_t frames = 0;
    int reload_clicks = 0;
    double click_seen = state.last_click;
    // While alpha's ping is held: beta's interval button is held down, which steps it every quarter of a
    // second, then alpha's "Neuladen", which takes a click a second.
    const auto held_since = std::chrono::steady_clock::now();
    const bool all_seen = frames_until([&] {
        ++frames;
        if (state.last_click != click_seen) {
            if (state.mouse_x == 50) ++reload_clicks;
            click_seen = state.last_click;
        }
        if (table.servers[1].interval < 3) {
            press(170, 210, 1);
        } else if (reload_clicks < 3) {
            press(50, 10, 1);
        } else {
            press(-1, -1, -1);
        }
        return reload_clicks == 3 && frames > 20 && samples(table.servers[1]) >= beta_before + 2;
    });
    press(-1, -1, -1);
    // Its only ping is the held one: no sample of alpha's yet means it still runs.
    const int alpha_samples = samples(table.servers[0]);
    const double held_for =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - held_since).count();
    std::printf("while alpha's ping was held: %llu frames in %.1f s, beta %d samples\n",
                static_cast<unsigned long long>(frames), held_for, samples(table.servers[1]) - beta_before);
    EXPECT_TRUE(all_seen) << frames << " frames, beta's samples " << beta_before << " -> "
                          << samples(table.servers[1]) << ", beta's interval "
                          << int(table.servers[1].interval);
    EXPECT_EQ(alpha_samples, 0) << "alpha's ping was no longer held";
    EXPECT_EQ(count_of(tools.calls(), "nslookup [alpha]"), 1u) << "a reload ran while the ping was held";
    tools.release_for_host("ping", "alpha");
    ASSERT_TRUE(frames_until([&] { return count_of(tools.calls(), "nmap [alpha]") == 2; }));
    // The reload came after the ping, once; alpha's own calls keep their order.
    std::vector<std::string> alpha;
    for (const std::string& call : tools.calls())
        if (call.find("[alpha]") != std::string::npos) alpha.push_back(call);
    ASSERT_GE(alpha.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(alpha.begin(), alpha.begin() + 5),
              (std::vector<std::string>{"nslookup [alpha]", "nmap [alpha]", "ping [alpha] [-c] [1] [-W] [1]",
                                        "nslookup [alpha]", "nmap [alpha]"}));
    for (int i = 0; i < 50; ++i) frame();
    EXPECT_EQ(count_of(tools.calls(), "nmap [alpha]"), 2u) << "more than one reload for three clicks";
}

// The loop leaves out frames whose inputs repeat; a worker's results landing are such an input. With the
// clock standing still and the pointer away, only the scan's landing can make the frame that hands the due
// ping to the worker: left out, the ping would never run. The scan is held until the loop has run frames
// enough to leave them out.
std::atomic<int> g_still_clock_reads{0};
double still_clock() {
    ++g_still_clock_reads;
    return 1000.0;
}

TEST_F(Workers, ResultsThatLandAreDrawnByALoopThatLeavesOutIdleFrames) {
    panel_clock = still_clock;
    add("alpha", 10);
    tools.hold_for_host("nslookup", "alpha");
    tools.hold_for_host("ping", "alpha");
    start();
    std::atomic<bool> pinged{false};
    std::thread watch([&] {
        if (within(LIMIT, [&] { return ran("nslookup [alpha]") && g_still_clock_reads > 20; })) {
            tools.release_for_host("nslookup", "alpha");
            pinged = within(LIMIT, [&] { return ran("ping [alpha]"); });
        }
        rt_request_stop();
    });
    main_loop(table, state, std::numeric_limits<double>::infinity(), &workers);
    watch.join();
    EXPECT_TRUE(pinged) << "the scan landed and no frame handed over the ping that was due";
}

// What the frame reads is whole: a scan's lines and up, and each sample with its stamp, land together. The
// frame looks at every record in every frame while the workers write theirs.
TEST_F(Workers, TheFrameReadsOnlyWholeResults) {
    for (int i = 0; i < MAX_SERVERS; ++i) add("server" + std::to_string(i), 1);
    start();
    ASSERT_TRUE(frames_until([&] {
        for (int i = 0; i < MAX_SERVERS; ++i) {
            const ServerRecord& r = table.servers[i];
            // A scan landed with its port line and its flag, or not at all.
            if (!r.awaiting_scan && (r.up != 1 || r.nmap_lines[1].empty())) {
                ADD_FAILURE() << r.name << ": scan landed halfway";
                return true;
            }
            for (int k = 1; k <= HISTORY_LENGTH; ++k) {
                if ((r.ping_history[k] != 0) != !r.ping_times[k].empty()) {
                    ADD_FAILURE() << r.name << ": a sample without its stamp at " << k;
                    return true;
                }
            }
        }
        return std::all_of(table.servers.begin(), table.servers.end(),
                           [](const ServerRecord& r) { return samples(r) >= 3; });
    }));
}

// A stop in the middle of held tools, with the frames on a thread of their own as in the program: the loop
// ends, every worker ends, and no tool is left.
TEST_F(Workers, AStopInTheMiddleEndsEveryToolAndWorker) {
    for (int i = 0; i < 3; ++i) add("server" + std::to_string(i), 1);
    tools.hold("nmap");
    start();
    std::atomic<bool> loop_ended{false};
    std::thread frames([&] {
        main_loop(table, state, std::numeric_limits<double>::infinity(), &workers);
        loop_ended = true;
    });
    ASSERT_TRUE(within(LIMIT, [&] { return count_of(tools.calls(), "nmap [") == 3; }));
    const auto asked = std::chrono::steady_clock::now();
    rt_request_stop();
    stop_server_workers(workers);
    frames.join();
    started = false;
    EXPECT_TRUE(loop_ended);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    EXPECT_TRUE(within(1s, [&] { return tools.running().empty(); })) << "a tool outlived the stop";
    EXPECT_EQ(count_of(tools.calls(), "ping ["), 0u);
}

// A ping of its own in the fakes' folder: every third run loses its echo.
void ping_losing_every_third(const FakeTools& tools) {
    const std::string& dir = tools.dir().path();
    const std::string bin = dir + "/bin/ping";
    std::filesystem::remove(bin);
    tools.dir().write("bin/ping", "#!/bin/sh\nline=ping\nfor a in \"$@\"; do line=\"$line [$a]\"; done\n"
                                  "printf '%s\\n' \"$line\" >>\"$VELMORA_FAKE_LOG\"\n"
                                  "n=$(/bin/cat " +
                                      dir +
                                      "/count 2>/dev/null || echo 0)\nn=$((n + 1))\n"
                                      "echo $n >" +
                                      dir +
                                      "/count\n"
                                      "if [ $((n % 3)) -eq 0 ]; then exec /bin/cat " +
                                      fixture("ping_loss.txt") + "; fi\nexec /bin/cat " +
                                      fixture("ping_127.txt") + "\n");
    chmod(bin.c_str(), 0755);
}

// Every third echo lost: each loss shows the notice, the ping still runs at the interval, and the next ping
// that answers has the host looked up and scanned again, which brings it back.
TEST_F(Workers, APingThatLosesEveryThirdEchoKeepsRunning) {
    ping_losing_every_third(tools);
    g_fast_start = rt_timer();
    panel_clock = fast_clock;
    add("alpha", 1);
    start();
    bool down_seen = false, back_seen = false;
    ASSERT_TRUE(frames_until([&] {
        const ServerRecord& r = table.servers[0];
        if (r.up == 0 && !r.awaiting_scan) down_seen = true;
        if (down_seen && r.up == 1) back_seen = true;
        return count_of(tools.calls(), "ping [") >= 9;
    })) << tools.calls().size();
    EXPECT_TRUE(down_seen);
    EXPECT_TRUE(back_seen);
    const std::string ping = "ping [alpha] [-c] [1] [-W] [1]", lookup = "nslookup [alpha]",
                      scan = "nmap [alpha]";
    const std::vector<std::string> calls = tools.calls();
    ASSERT_GE(calls.size(), 13u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 13),
              (std::vector<std::string>{lookup, scan, ping, ping, ping, ping, lookup, scan, ping, ping, ping,
                                        lookup, scan}));
}

// An outage: while the host's echo is lost it is shown down and pinged once per interval, never more, and
// not scanned; once it answers it is scanned again and shown up, without a click.
TEST_F(Workers, AHostThatAnswersAgainAfterAnOutageComesBack) {
    g_fast_start = rt_timer();
    panel_clock = fast_clock;
    add("alpha", 1);
    tools.replay_for_host("ping", "alpha", fixture("ping_loss.txt"));
    start();
    ASSERT_TRUE(frames_until([&] { return count_of(tools.calls(), "ping [") >= 1; }));
    const double outage_start = fast_clock();
    ASSERT_TRUE(frames_until([&] { return count_of(tools.calls(), "ping [") >= 6; }));
    const double outage_seconds = fast_clock() - outage_start;
    EXPECT_EQ(table.servers[0].up, 0);
    EXPECT_EQ(count_of(tools.calls(), "nmap ["), 1u) << "scanned while the echo was lost";
    // Ping k of the outage runs more than k - 1 intervals after the first.
    EXPECT_LE(count_of(tools.calls(), "ping [") - 1, static_cast<std::size_t>(outage_seconds) + 1)
        << outage_seconds;
    tools.replay_for_host("ping", "alpha", fixture("ping_127.txt"));
    ASSERT_TRUE(frames_until([&] { return table.servers[0].up == 1; })) << "the host never came back";
    EXPECT_EQ(count_of(tools.calls(), "nmap ["), 2u);
    EXPECT_EQ(count_of(tools.calls(), "nslookup ["), 2u);
}

} // namespace
