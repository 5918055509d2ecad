// The screen set-up and the frame loop on the null driver, and the start-up notice of the reader.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/dashboard.h"
#include "app/panel.h"
#include "gfx/fonts.h"
#include "gfx/screen.h"
#include "tests/app/test_support.h"
#include "gfx/input.h"

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
    while (next_key(key_queue()) != 0) {
    }
}

class Dashboard : public testing::Test {
  protected:
    void TearDown() override {
        drain_keys();
        gfx_close_mode();
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
        for (int32_t code : c.queued) post_key(code);
        if (c.ring_only) key_queue().close_requested = false;
        EXPECT_EQ(main_loop(table, state_), c.frames);
        std::vector<int32_t> left;
        for (int32_t code; (code = next_key(key_queue())) != 0;) left.push_back(code);
        EXPECT_EQ(left, c.left);
    }
}

TEST_F(Dashboard, EndsAfterTheFrameThatPassesTheStopTime) {
    ServerTable table;
    table.server_count = 1;
    ASSERT_TRUE(setup_screen(state_, 1, NULL_DRIVER));
    // A stop time already past ends the loop after one whole frame; a queued close code ends it the same.
    EXPECT_EQ(main_loop(table, state_, -1.0), 1u);
    post_key('q');
    EXPECT_EQ(main_loop(table, state_, 0.0), 1u);
    EXPECT_EQ(next_key(key_queue()), 0);
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

// Names handed to the notice, with the number of tool runs made before each: the notice comes first.
std::vector<std::string> g_notices;
FakeTools* g_fakes = nullptr;
void record_notice(std::string_view name) {
    g_notices.push_back(std::string(name) + " after " + std::to_string(g_fakes->calls().size()));
}

TEST(StartupNotice, ComesBeforeEachServersProbes) {
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
    // The refused line is never announced: nothing is probed for it.
    EXPECT_EQ(g_notices, (std::vector<std::string>{"alpha after 0", "beta after 2"}));
    g_fakes = nullptr;
}

} // namespace
