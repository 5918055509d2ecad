// The screen set-up and the frame loop on the null driver, and the start-up notice of the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/config.h"
#include "app/dashboard.h"
#include "app/panel.h"
#include "gfx/fonts.h"
#include "gfx/input.h"
#include "gfx/screen.h"
#include "rt/clock.h"
#include "rt/runtime.h"
#include "tests/app/test_support.h"
#include "tests/gfx/frame_reference.h"

namespace {

constexpr int NULL_DRIVER = -1;

uint32_t pixel(int x, int y) {
    const ScreenContext& screen = *gfx_screen();
    uint32_t colour;
    std::memcpy(&colour, screen.visible_pixels + static_cast<std::size_t>(y) * screen.pitch + 4 * x, 4);
    return colour;
}

// The first pixel of line y that is not colour, or -1.
int first_other_in_line(int y, uint32_t colour) {
    for (int x = 0; x < gfx_screen()->width; ++x)
        if (pixel(x, y) != colour) return x;
    return -1;
}

void drain_keys() {
    while (next_key() != 0) {
    }
}

class Dashboard : public testing::Test {
  protected:
    void TearDown() override {
        drain_keys();
        gfx_close_mode();
        rt_clear_stop_request(); // a close request posted here is also a stop request
    }
    // No tool may reach the network; records that are up would probe in their first frame.
    FakeTools fakes_;
    ScopedEnv korvid_{"KORVID", std::nullopt};
    ScopedEnv display_{"DISPLAY", std::nullopt};
    DashboardState state_;
};

TEST_F(Dashboard, SetupScreenOpensOnePanelPerServer) {
    struct Case {
        uint8_t count;
        int height;
        const char* title;
        int rows;
    };
    const Case cases[] = {
        {1, 200, "Zeige 1 Server", 14},
        {3, 600, "Zeige 3 Server", 42},
        {6, 1200, "Zeige 6 Server", 85},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        ASSERT_TRUE(setup_screen(state_, c.count, NULL_DRIVER));
        const ScreenContext* screen = gfx_screen();
        ASSERT_NE(screen, nullptr);
        EXPECT_EQ(state_.screen_width, 800);
        EXPECT_EQ(state_.screen_height, c.height);
        EXPECT_EQ(screen->width, 800);
        EXPECT_EQ(screen->height, c.height);
        EXPECT_EQ(screen->depth, 32);
        EXPECT_EQ(screen->page_count, 1);
        EXPECT_EQ(gfx_title(), c.title);
        EXPECT_EQ(screen->text_columns, 100);
        EXPECT_EQ(screen->text_rows, c.rows);
        EXPECT_EQ(screen->font, &gfx_font_8x14());
    }
}

TEST_F(Dashboard, SetupScreenChoosesTheNullDriverThroughKorvidToo) {
    ScopedEnv korvid("KORVID", "null");
    ASSERT_TRUE(setup_screen(state_, 2));
    EXPECT_EQ(gfx_screen()->driver, &null_driver);
    EXPECT_EQ(gfx_screen()->height, 400);
}

TEST_F(Dashboard, SetupScreenReportsWhenNoModeOpens) {
    // No servers: a window of height 0 is refused.
    EXPECT_FALSE(setup_screen(state_, 0, NULL_DRIVER));
    EXPECT_EQ(gfx_screen(), nullptr);
    EXPECT_EQ(state_.screen_height, 0);
    // No display and no null driver asked for: no driver opens.
    EXPECT_FALSE(setup_screen(state_, 1));
    EXPECT_EQ(gfx_screen(), nullptr);
    EXPECT_EQ(state_.screen_height, 200);
}

TEST_F(Dashboard, SetFontHeightTakesOnlyTheThreeFonts) {
    ASSERT_TRUE(setup_screen(state_, 6, NULL_DRIVER));
    struct Case {
        int64_t h;
        int result;
        int rows;             // after the call
        const FontDesc* font; // after the call
    };
    const Case cases[] = {
        {8, 1, 150, &gfx_font_8x8()},   {14, 1, 85, &gfx_font_8x14()},
        {16, 1, 75, &gfx_font_8x16()},  {0, 0, 75, &gfx_font_8x16()},
        {7, 0, 75, &gfx_font_8x16()},   {15, 0, 75, &gfx_font_8x16()},
        {-14, 0, 75, &gfx_font_8x16()}, {14 + (int64_t{1} << 32), 0, 75, &gfx_font_8x16()},
        {14, 1, 85, &gfx_font_8x14()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.h);
        EXPECT_EQ(set_font_height(c.h), c.result);
        EXPECT_EQ(gfx_screen()->text_columns, 100);
        EXPECT_EQ(gfx_screen()->text_rows, c.rows);
        EXPECT_EQ(gfx_screen()->font, c.font);
    }
}

TEST_F(Dashboard, FrameClearsFillsAndClosesTheLastPanel) {
    struct Case {
        uint8_t count;
        int closing_line;
    };
    for (const Case c : {Case{1, 197}, Case{6, 1197}}) {
        SCOPED_TRACE(c.closing_line);
        ServerTable table;
        table.server_count = c.count;
        ASSERT_TRUE(setup_screen(state_, c.count, NULL_DRIVER));
        // Whatever the last frame left must be gone: nothing of the dashboard is drawn in this colour.
        const uint32_t stale = 0xFF123456;
        ScreenContext& screen = *gfx_screen();
        for (int y = 0; y < screen.height; ++y)
            for (int x = 0; x < screen.width; ++x)
                std::memcpy(screen.visible_pixels + static_cast<std::size_t>(y) * screen.pitch + 4 * x,
                            &stale, 4);
        EXPECT_EQ(main_loop(table, state_, 0.0), 1u);
        EXPECT_EQ(first_other_in_line(c.closing_line, RULE_COLOUR), -1);
        for (int y = 0; y < screen.height; ++y) {
            for (int x = 0; x < screen.width; ++x) {
                if (pixel(x, y) == stale) FAIL() << "stale pixel left at (" << x << ", " << y << ")";
            }
        }
        EXPECT_EQ(screen.lock_count, 0u);
    }
}

TEST_F(Dashboard, KeysAreTakenOnePerFrameUntilTheCloseCode) {
    ServerTable table;
    table.server_count = 1;
    ASSERT_TRUE(setup_screen(state_, 1, NULL_DRIVER));
    drain_keys();
    struct Case {
        std::vector<int32_t> queued; // posted before the loop starts
        bool ring_only;              // the request noted beside the ring already taken: the ring decides
        uint64_t frames;             // frames the loop draws
        std::vector<int32_t> left;   // still queued after it returned
    };
    const Case cases[] = {
        {{KEY_WINDOW_CLOSE}, true, 1, {}},
        {{'a', 'b', 0x3BFF, KEY_WINDOW_CLOSE}, true, 4, {}},
        {{'x', KEY_WINDOW_CLOSE, 'y', 0x48FF}, true, 2, {'y', 0x48FF}},
        // Byte 255 alone, and an extended key with another second byte, are not the close code.
        {{0xFF, 0x6AFF, 0x6CFF, KEY_WINDOW_CLOSE}, true, 4, {}},
        {{KEY_WINDOW_CLOSE, KEY_WINDOW_CLOSE}, true, 1, {KEY_WINDOW_CLOSE}},
        // As the window posts it, the request ends the next frame, however many keys wait before it.
        {{'a', 'b', 0x3BFF, KEY_WINDOW_CLOSE}, false, 1, {'b', 0x3BFF, KEY_WINDOW_CLOSE}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frames);
        for (int32_t code : c.queued) post_key(SharedLock{}, code);
        if (c.ring_only) {
            SharedLock held;
            key_queue().in(held).close_requested = false;
            rt_clear_stop_request();
        }
        EXPECT_EQ(main_loop(table, state_), c.frames);
        std::vector<int32_t> left;
        for (int32_t code; (code = next_key()) != 0;) left.push_back(code);
        EXPECT_EQ(left, c.left);
    }
}

TEST_F(Dashboard, EndsAfterTheFrameThatPassesTheStopTime) {
    ServerTable table;
    table.server_count = 1;
    ASSERT_TRUE(setup_screen(state_, 1, NULL_DRIVER));
    // A stop time already past ends the loop after one whole frame; a queued close code ends it the same.
    EXPECT_EQ(main_loop(table, state_, -1.0), 1u);
    post_key(SharedLock{}, 'q');
    EXPECT_EQ(main_loop(table, state_, 0.0), 1u);
    EXPECT_EQ(next_key(), 0);
}

// The window's close request while a panel's probe waits for its tool: the tool is ended, the frame starts
// no other (the second panel's ping never runs), and the loop ends after that frame. The test's thread
// stands in for the presenter.
TEST_F(Dashboard, ACloseDuringAProbeEndsTheToolAndTheFrameStartsNoOther) {
    fakes_.replay("ping", fixture("ping_127.txt"));
    fakes_.hold("ping"); // 20 s unless ended
    ASSERT_TRUE(setup_screen(state_, 2, NULL_DRIVER));
    ServerTable table;
    table.server_count = 2;
    for (int i = 0; i < 2; ++i) {
        ServerRecord& r = table.servers[static_cast<std::size_t>(i)];
        r.name = "127.0.0." + std::to_string(i + 1);
        r.up = 1;
        r.interval = 1;
        r.last_probe = 0; // due
    }
    std::thread presenter([&] {
        (void)within(std::chrono::seconds(20), [&] { return !fakes_.calls().empty(); });
        // The null driver's lock is empty: the thread holds it as a presenter would.
        struct PresenterHold : DriverHeld {
            PresenterHold() = default;
        };
        post_key(PresenterHold{}, KEY_WINDOW_CLOSE);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(main_loop(table, state_), 1u);
    const auto took = std::chrono::steady_clock::now() - start;
    presenter.join();
    // The held tool would keep the frame 20 s; ending it takes little, the bound leaves room for a loaded
    // machine.
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(fakes_.calls(), std::vector<std::string>{"ping [127.0.0.1] [-c] [1] [-W] [1]"});
    // A killed tool may take a moment to leave the process list; it runs nothing of its own meanwhile.
    EXPECT_TRUE(within(std::chrono::seconds(1), [&] { return fakes_.running().empty(); }));
    EXPECT_EQ(table.servers[0].ping_history[HISTORY_LENGTH], 0.0) << "a sample from the ended tool";
}

TEST_F(Dashboard, MouseIsSampledOncePerFrameIntoTheState) {
    ServerTable table;
    table.server_count = 1;
    ASSERT_TRUE(setup_screen(state_, 1, NULL_DRIVER));
    struct Case {
        bool inside;
        int x, y, wheel, buttons;
        int64_t want_x, want_y, want_wheel, want_buttons;
    };
    // The middle button is held: no panel acts on it, whatever lies under the pointer.
    const Case cases[] = {
        {true, 123, 45, 2, 4, 123, 45, 2, 4},
        {false, 5, 6, 7, 4, -1, -1, -1, -1}, // outside the window every value reads -1
        {true, 799, 199, -3, 0, 799, 199, -3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        null_driver_set_pointer(c.inside, c.x, c.y, c.wheel, c.buttons);
        state_.mouse_x = state_.mouse_y = state_.mouse_wheel = state_.mouse_buttons = 99;
        EXPECT_EQ(main_loop(table, state_, 0.0), 1u);
        EXPECT_EQ(state_.mouse_x, c.want_x);
        EXPECT_EQ(state_.mouse_y, c.want_y);
        EXPECT_EQ(state_.mouse_wheel, c.want_wheel);
        EXPECT_EQ(state_.mouse_buttons, c.want_buttons);
    }
    null_driver_set_pointer(false, 0, 0, 0, 0);
}

// The clock the panels read in the frame test below.
double g_frame_clock = 0;
double frame_clock() {
    return g_frame_clock;
}

// Random sequences of frames, each a step a user or a probe could take: the pointer stays or moves (over
// the window, outside it, onto a graph's samples for the read-out, onto a button), a button clicks, a probe
// lands, a host goes down or comes back. Each recorded frame leaves the page the frame drawn whole leaves,
// with every changed line marked, and a frame that repeats the one before marks nothing.
TEST_F(Dashboard, RecordedFramesShowWhatFramesDrawnWholeShow) {
    constexpr int COUNT = 3;
    constexpr int64_t NOT_DUE = int64_t{1} << 40; // the panels' own schedule never runs a probe
    fakes_.replay("nslookup", fixture("nslookup_localhost.txt"));
    fakes_.replay("nmap", fixture("nmap_ftp_ssh.txt"));
    CommandLog commands;
    panel_clock = frame_clock;
    g_frame_clock = 1000;
    ASSERT_TRUE(setup_screen(state_, COUNT, NULL_DRIVER));
    state_.terminal_command = "true";
    ServerTable table;
    table.server_count = COUNT;
    std::mt19937 rng(20261207);
    for (int i = 0; i < COUNT; ++i) {
        ServerRecord& r = table.servers[static_cast<std::size_t>(i)];
        r.name = "srv" + std::to_string(i);
        r.ip = "127.0.0." + std::to_string(i + 1);
        r.nmap_lines[1] = "21/tcp    open   ftp";
        r.nmap_lines[2] = i == 1 ? "80/tcp    open   http" : "22/tcp    open   ssh";
        r.expected_ports[1] = "8080/tcp";
        if (i != 1) r.http_target = r.name;
        r.up = 1;
        r.interval = 3;
        r.last_probe = NOT_DUE;
    }
    auto probe_lands = [&](ServerRecord& r) {
        for (int k = 1; k < HISTORY_LENGTH; ++k) {
            r.ping_history[k] = r.ping_history[k + 1];
            r.http_history[k] = r.http_history[k + 1];
            r.ping_times[k] = r.ping_times[k + 1];
        }
        r.ping_history[HISTORY_LENGTH] = static_cast<double>(rng() % 5000) / 100;
        r.http_history[HISTORY_LENGTH] = static_cast<double>(rng() % 20000) / 100;
        r.ping_times[HISTORY_LENGTH] = "12:00:" + std::to_string(10 + rng() % 50);
    };
    for (int i = 0; i < 40; ++i) probe_lands(table.servers[static_cast<std::size_t>(i % COUNT)]);

    int quiet = 0, partly = 0;
    bool last_was_quiet = false;
    for (int frame = 0; frame < 300; ++frame) {
        SCOPED_TRACE(testing::Message() << "frame " << frame);
        bool changed = frame == 0;
        const int64_t top = PANEL_HEIGHT * static_cast<int64_t>(rng() % COUNT);
        ServerRecord& some = table.servers[static_cast<std::size_t>(top / PANEL_HEIGHT)];
        state_.mouse_buttons = 0;
        switch (rng() % 12) {
        case 0:
        case 1:
        case 2:
        case 3: break; // the pointer stays, nothing lands
        case 4:
            state_.mouse_x = rng() % 4 == 0 ? -1 : rng() % 800;
            state_.mouse_y = state_.mouse_x < 0 ? -1 : rng() % (COUNT * PANEL_HEIGHT);
            changed = true;
            break;
        case 5: // onto a sample of a graph: the read-out
            state_.mouse_x = 450 + 3 * (2 + rng() % 99) + static_cast<int64_t>(rng() % 3) - 1;
            state_.mouse_y = top + 1 + rng() % 198;
            changed = true;
            break;
        case 6: { // onto a button: reload, interval, or a session button
            const int64_t xs[] = {50, 175, 345, 345};
            const int64_t ys[] = {10, 10, 52 + 15 + 7, 52 + 30 + 7};
            const auto b = rng() % 4;
            state_.mouse_x = xs[b];
            state_.mouse_y = top + ys[b];
            changed = true;
            break;
        }
        case 7:
            probe_lands(some);
            changed = true;
            break;
        case 8: // a click wherever the pointer is
            state_.mouse_buttons = 1;
            g_frame_clock += 1.5;
            changed = true;
            break;
        case 9:
            some.up = some.up ? 0 : 1;
            changed = true;
            break;
        case 10:
            some.nmap_lines[3] = some.nmap_lines[3].empty() ? "443/tcp   open   https" : "";
            changed = true;
            break;
        default:
            g_frame_clock += 0.1; // only clicks read the clock
            break;
        }
        ServerTable table_copy = table;
        DashboardState state_copy = state_;
        const FrameOutcome o =
            compare_frame([&] { draw_frame(table, state_); }, [&] { draw_frame(table_copy, state_copy); });
        ASSERT_EQ(o.problem, "");
        // Both ways the frame acted alike: the same click taken, the same interval stepped.
        EXPECT_EQ(state_copy.last_click, state_.last_click);
        EXPECT_EQ(table_copy.servers[0].interval, table.servers[0].interval);
        const bool quiet_now = !changed && state_.mouse_buttons == 0;
        if (quiet_now && last_was_quiet) {
            EXPECT_EQ(o.marked_lines(), 0) << "a frame that repeats the one before marked lines";
            ++quiet;
        } else if (o.marked_lines() > 0 && o.marked_lines() < COUNT * PANEL_HEIGHT) {
            ++partly;
        }
        last_was_quiet = quiet_now;
    }
    panel_clock = rt_timer;
    EXPECT_GT(quiet, 40);
    EXPECT_GT(partly, 40);
    // The clicks reached every kind of button: a reload ran its tools, a session its command, and an
    // interval stepped.
    EXPECT_FALSE(fakes_.calls().empty());
    EXPECT_FALSE(commands.commands().empty());
    EXPECT_TRUE(std::any_of(table.servers.begin(), table.servers.end(),
                            [](const ServerRecord& r) { return r.interval != 3 && r.interval != 0; }));
}

// The frame loop's rule for leaving a frame undrawn, step by step: a frame is left out only when the last
// one drawn read the same inputs and was itself a repeat; a held button never repeats.
TEST(FrameSkip, LeavesOutOnlyARepeatOfARepeat) {
    const FrameInputs away{
        .mouse_x = -1, .mouse_y = -1, .mouse_wheel = -1, .mouse_buttons = -1, .clock_second = 1001};
    FrameInputs on_graph = away;
    on_graph.mouse_x = 600, on_graph.mouse_y = 120, on_graph.mouse_wheel = 0, on_graph.mouse_buttons = 0;
    FrameInputs next_second = on_graph;
    next_second.clock_second = 1002;
    FrameInputs pressed = on_graph;
    pressed.mouse_buttons = 1;
    FrameInputs wheeled = on_graph;
    wheeled.mouse_wheel = 1;
    FrameInputs landed = on_graph; // a worker's results changed the records
    landed.landings = 1;
    struct Step {
        const FrameInputs* in;
        bool drawn;
    };
    const Step steps[] = {
        {&away, true},        {&away, true},         {&away, false},       {&away, false},
        {&on_graph, true},    {&on_graph, true},     {&on_graph, false},   {&next_second, true},
        {&next_second, true}, {&next_second, false}, {&pressed, true},     {&pressed, true},
        {&pressed, true},     {&next_second, true},  {&next_second, true}, {&next_second, false},
        {&wheeled, true},     {&wheeled, true},      {&wheeled, false},    {&on_graph, true},
        {&on_graph, true},    {&on_graph, false},    {&landed, true},      {&landed, true},
        {&landed, false},
    };
    FrameSkip skip;
    int n = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(n++);
        EXPECT_EQ(frame_needed(skip, *step.in), step.drawn);
    }
}

// Random frames as the loop runs them, with probes falling due on the panels' clock and a host that goes
// down in its probe: every frame the loop leaves out, drawn anyway on copies of what it reads, leaves the
// page as it is, takes no click and runs no tool.
TEST_F(Dashboard, AFrameLeftOutIsOneThatWouldChangeNothing) {
    constexpr int COUNT = 2;
    fakes_.replay("nslookup", fixture("nslookup_localhost.txt"));
    fakes_.replay("nmap", fixture("nmap_ftp_ssh.txt"));
    fakes_.replay_for_host("ping", "srv0", fixture("ping_loss.txt"));
    fakes_.replay_for_host("ping", "srv1", fixture("ping_127.txt"));
    fakes_.replay("httping", fixture("httping_127.txt"));
    CommandLog commands;
    panel_clock = frame_clock;
    g_frame_clock = 1000.25;
    ASSERT_TRUE(setup_screen(state_, COUNT, NULL_DRIVER));
    state_.terminal_command = "true";
    ServerTable table;
    table.server_count = COUNT;
    for (int i = 0; i < COUNT; ++i) {
        ServerRecord& r = table.servers[static_cast<std::size_t>(i)];
        r.name = "srv" + std::to_string(i);
        r.http_target = r.name;
        r.up = 1;
        r.interval = static_cast<int8_t>(1 + i);
        r.last_probe = 1000;
    }
    std::mt19937 rng(20261209);
    ScreenContext& screen = *gfx_screen();
    const std::size_t bytes =
        static_cast<std::size_t>(screen.pitch) * static_cast<std::size_t>(screen.height);
    FrameSkip skip;
    int drawn = 0, left_out = 0, downs = 0;
    for (int frame = 0; frame < 600; ++frame) {
        SCOPED_TRACE(testing::Message() << "frame " << frame);
        const int64_t top = PANEL_HEIGHT * static_cast<int64_t>(rng() % COUNT);
        state_.mouse_buttons = 0;
        switch (rng() % 12) {
        case 0: // onto the reload button, whose click brings a host that went down back up
            state_.mouse_x = 50, state_.mouse_y = top + 10;
            break;
        case 1: // onto a sample of a graph: the read-out
            state_.mouse_x = 450 + 3 * (2 + rng() % 99), state_.mouse_y = top + 1 + rng() % 198;
            break;
        case 2: state_.mouse_x = state_.mouse_y = state_.mouse_wheel = state_.mouse_buttons = -1; break;
        case 3:
        case 4:
            state_.mouse_buttons = 1;
            g_frame_clock += 1.1;
            break;
        case 5: g_frame_clock += 0.4 + static_cast<double>(rng() % 100) / 100; break;
        default: break; // the pointer rests, the clock moves a little
        }
        g_frame_clock += 0.01;
        if (frame_needed(skip, frame_inputs(table, state_))) {
            const uint8_t was_up = table.servers[0].up;
            draw_frame(table, state_);
            downs += was_up == 1 && table.servers[0].up == 0;
            ++drawn;
            continue;
        }
        ++left_out;
        const std::vector<uint8_t> page(screen.visible_pixels, screen.visible_pixels + bytes);
        const std::size_t tools = fakes_.calls().size(), shells = commands.commands().size();
        ServerTable table_copy = table;
        DashboardState state_copy = state_;
        draw_frame(table_copy, state_copy);
        const std::vector<uint8_t> after(screen.visible_pixels, screen.visible_pixels + bytes);
        const auto wrong = std::mismatch(page.begin(), page.end(), after.begin());
        ASSERT_TRUE(wrong.first == page.end())
            << "the frame left out would change line " << (wrong.first - page.begin()) / screen.pitch;
        EXPECT_EQ(fakes_.calls().size(), tools);
        EXPECT_EQ(commands.commands().size(), shells);
        EXPECT_EQ(state_copy.last_click, state_.last_click);
        for (int i = 0; i < COUNT; ++i) {
            const std::size_t k = static_cast<std::size_t>(i);
            EXPECT_EQ(table_copy.servers[k].up, table.servers[k].up);
            EXPECT_EQ(table_copy.servers[k].last_probe, table.servers[k].last_probe);
            EXPECT_EQ(table_copy.servers[k].ping_times, table.servers[k].ping_times);
        }
    }
    panel_clock = rt_timer;
    EXPECT_GT(left_out, 100);
    EXPECT_GT(drawn, 150);
    EXPECT_GT(downs, 2) << "the host never went down in a frame's probe";
}

// Names handed to the notice, each with the runs of its own tools made before it: the notice comes after
// both.
std::vector<std::string> g_notices;
const FakeTools* g_fakes = nullptr;
void record_notice(std::string_view name) {
    g_notices.push_back(std::string(name) + " after " +
                        std::to_string(calls_for_host(g_fakes->calls(), name).size()));
}

TEST(StartupNotice, ComesWhenEachServersProbesAreDone) {
    FakeTools fakes;
    g_fakes = &fakes;
    g_notices.clear();
    TempDir dir;
    dir.write("velmora.cfg",
              "Terminal:xterm -e\nProxy:\nalpha\nport=22/tcp\n# x\nbad;name\nbeta\nhttp=beta\n");
    ScopedCwd cwd(dir.path());
    ServerTable table;
    DashboardState state;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(read_configuration(table, state, record_notice));
    testing::internal::GetCapturedStderr();
    // The refused line is never announced: nothing is probed for it. The two servers end in either order.
    std::sort(g_notices.begin(), g_notices.end());
    EXPECT_EQ(g_notices, (std::vector<std::string>{"alpha after 2", "beta after 2"}));
    g_fakes = nullptr;
}

} // namespace
