// Screen mode, drawing state, colours, clearing, the text grid and the screen lock.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gfx/screen.h"
#include "rt/result.h"
#include "tests/gfx/recording_driver.h"

namespace {

const DriverChoice recording_drivers[] = {{&recording_alpha, nullptr}};

class ScreenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("KORVID");
        reset_recording();
        gfx_use_drivers(recording_drivers);
    }
    void TearDown() override {
        gfx_close_mode();
        gfx_use_drivers({});
        unsetenv("KORVID");
    }
};

struct Info {
    int64_t width, height, depth, bytes_per_pixel, pitch, refresh_rate;
    std::string name;
};

Info screen_info() {
    Info info{};
    gfx_screen_info(&info.width, &info.height, &info.depth, &info.bytes_per_pixel, &info.pitch,
                    &info.refresh_rate, &info.name);
    return info;
}

uint32_t pixel32(int x, int y) {
    const ScreenContext& screen = *gfx_screen();
    uint32_t value;
    std::memcpy(&value, screen.visible_pixels + y * screen.pitch + x * 4, 4);
    return value;
}

void set_pixel32(int x, int y, uint32_t value) {
    const ScreenContext& screen = *gfx_screen();
    std::memcpy(screen.visible_pixels + y * screen.pitch + x * 4, &value, 4);
}

// Index of the first 32-bit pixel of the page that differs from value, -1 when none does.
long first_pixel_not(const uint8_t* page, std::size_t pixels, uint32_t value) {
    for (std::size_t i = 0; i < pixels; ++i) {
        uint32_t p;
        std::memcpy(&p, page + 4 * i, 4);
        if (p != value) return static_cast<long>(i);
    }
    return -1;
}

// The marked lines of the DirtyLineTable as "first-last" runs, e.g. "0-5" or "" for none.
std::string marked_lines() {
    SharedLock held;
    const auto& entries = gfx_screen()->shared.in(held).dirty_lines.entries;
    std::string runs;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i] || (i > 0 && entries[i - 1])) continue;
        std::size_t end = i;
        while (end + 1 < entries.size() && entries[end + 1]) ++end;
        runs += (runs.empty() ? "" : ",") + std::to_string(i) + "-" + std::to_string(end);
    }
    return runs;
}

// What the presenter would find, taken under the lock.
ScreenShared shared_copy(const ScreenContext& screen) {
    SharedLock held;
    return screen.shared.in(held);
}

void clear_marks() {
    SharedLock held;
    auto& entries = gfx_screen()->shared.in(held).dirty_lines.entries;
    std::fill(entries.begin(), entries.end(), 0);
}

TEST_F(ScreenTest, DefaultsOf800x600) {
    gfx_set_mode(800, 600, 32, 1, 0, 0);
    ASSERT_EQ(rt_last_error(), 0);
    Info info = screen_info();
    EXPECT_EQ(info.width, 800);
    EXPECT_EQ(info.height, 600);
    EXPECT_EQ(info.depth, 32);
    EXPECT_EQ(info.bytes_per_pixel, 4);
    EXPECT_EQ(info.pitch, 3200);
    EXPECT_EQ(info.name, "Alpha");

    const ScreenContext& screen = *gfx_screen();
    EXPECT_EQ(screen.page_count, 1);
    EXPECT_EQ(screen.mode_number, -1);
    EXPECT_EQ(screen.visible_pixels, screen.pages[0].get());
    EXPECT_EQ(first_pixel_not(screen.visible_pixels, 800 * 600, 0xFF000000), -1);
    EXPECT_EQ(gfx_set_text_grid(0, 0), 100 | 75 << 16);
    EXPECT_EQ(screen.font, &gfx_font_8x8());
    EXPECT_EQ(shared_copy(screen).dirty_lines.entries.size(), 600u);
    EXPECT_EQ(marked_lines(), "");
    EXPECT_EQ(screen.lock_count, 0u);

    const DrawContext& dc = *gfx_draw_context();
    EXPECT_EQ(dc.serial, screen.serial);
    EXPECT_EQ(dc.foreground, 0xFFFFFFFF);
    EXPECT_EQ(dc.background, 0xFF000000);
    EXPECT_EQ(dc.view.w, 800);
    EXPECT_EQ(dc.view.h, 600);
    ASSERT_EQ(dc.target_rows.size(), 600u);
    EXPECT_EQ(dc.target_rows[599], screen.visible_pixels + 599 * 3200);

    ASSERT_EQ(recording().opens.size(), 1u);
    const OpenCall& open = recording().opens[0];
    EXPECT_EQ(open.width, 800);
    EXPECT_EQ(open.height, 600);
    EXPECT_EQ(open.depth, 32);
    EXPECT_EQ(open.flags, 0);
}

TEST_F(ScreenTest, InvalidArgumentsKeepTheOpenMode) {
    struct Case {
        int width, height, depth;
    } cases[] = {{800, 0, 32},   {0, 600, 32},  {-8, 600, 32},  {800, -1, 32},      {800, 600, 3},
                 {800, 600, 12}, {800, 600, 0}, {800, 600, 64}, {0x40000000, 1, 32}};
    gfx_set_mode(64, 48, 32, 1, 0, 0);
    ASSERT_EQ(rt_last_error(), 0);
    int serial = gfx_screen()->serial;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.depth);
        rt_set_error(RT_OK);
        gfx_set_mode(c.width, c.height, c.depth, 1, 0, 0);
        EXPECT_EQ(rt_last_error(), 1);
        ASSERT_NE(gfx_screen(), nullptr);
        EXPECT_EQ(gfx_screen()->serial, serial);
    }
    EXPECT_EQ(recording().opens.size(), 1u);
    EXPECT_TRUE(recording().closes.empty());
}

TEST_F(ScreenTest, HeightZeroOpensNothing) {
    gfx_set_mode(800, 0, 32, 1, 0, 0);
    EXPECT_EQ(rt_last_error(), 1);
    EXPECT_EQ(gfx_screen(), nullptr);
    EXPECT_TRUE(recording().opens.empty());
}

TEST_F(ScreenTest, DepthNormalisation) {
    struct Case {
        int depth, flags;
        int depth_after, bytes_per_pixel;
        uint32_t default_colour, foreground;
    } cases[] = {
        {1, 0, 1, 1, 1, 1},
        {2, 0, 2, 1, 3, 3},
        {4, 0, 4, 1, 15, 15},
        {8, 0, 8, 1, 255, 15},
        {15, 0, 16, 2, 0xFFFF, 0xFFFF},
        {16, 0, 16, 2, 0xFFFF, 0xFFFF},
        {24, 0, 32, 4, 0xFFFFFFFF, 0xFFFFFFFF},
        {32, 0, 32, 4, 0xFFFFFFFF, 0xFFFFFFFF},
        {8, 0x02, 16, 2, 0xFFFF, 0xFFFF}, // flag 2 asks for at least 16 bits
        {32, 0x02, 32, 4, 0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "depth " << c.depth << " flags " << c.flags);
        gfx_set_mode(10, 6, c.depth, 1, c.flags, 0);
        ASSERT_EQ(rt_last_error(), 0);
        Info info = screen_info();
        EXPECT_EQ(info.depth, c.depth_after);
        EXPECT_EQ(info.bytes_per_pixel, c.bytes_per_pixel);
        EXPECT_EQ(info.pitch, 10 * c.bytes_per_pixel);
        EXPECT_EQ(gfx_screen()->default_colour, c.default_colour);
        EXPECT_EQ(gfx_draw_context()->foreground, c.foreground);
        EXPECT_EQ(recording().opens.back().depth, c.depth_after);
    }
}

TEST_F(ScreenTest, FlagNormalisation) {
    struct Case {
        int flags, flags_to_driver;
        uint32_t mode_flags;
    } cases[] = {{0, 0, 0}, {0x10, 0x1C, 0}, {0x40, 0x40, SET_MODE_ALPHA}, {0x51, 0x5D, 0x40}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        gfx_set_mode(8, 8, 32, 1, c.flags, 0);
        ASSERT_EQ(rt_last_error(), 0);
        EXPECT_EQ(recording().opens.back().flags, c.flags_to_driver);
        EXPECT_EQ(gfx_screen()->mode_flags, c.mode_flags);
    }
}

TEST_F(ScreenTest, PageCounts) {
    struct Case {
        int requested, expected;
    } cases[] = {{0, 1}, {-5, 1}, {1, 1}, {3, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        gfx_set_mode(13, 7, 32, c.requested, 0, 0); // 52-byte lines: pages must be aligned all the same
        ASSERT_EQ(rt_last_error(), 0);
        const ScreenContext& screen = *gfx_screen();
        ASSERT_EQ(screen.page_count, c.expected);
        ASSERT_EQ(screen.pages.size(), static_cast<std::size_t>(c.expected));
        for (const PageBuffer& page : screen.pages) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(page.get()) % 16, 0u);
            EXPECT_EQ(first_pixel_not(page.get(), 13 * 7, 0xFF000000), -1);
        }
    }
}

TEST_F(ScreenTest, NewModeClosesTheOldOneAndRebuildsTheDrawContext) {
    gfx_set_mode(32, 16, 32, 1, 0, 0);
    int first_serial = gfx_screen()->serial;
    gfx_set_color(0xFF123456, 0xFF654321, 0);
    gfx_lock();
    gfx_set_mode(16, 32, 32, 1, 0, 0);
    ASSERT_EQ(rt_last_error(), 0);
    EXPECT_EQ(recording().closes.size(), 1u);
    EXPECT_EQ(recording().locks, 0); // a frame holds no driver lock its close would wait for
    EXPECT_EQ(gfx_screen()->serial, first_serial + 1);
    EXPECT_EQ(gfx_screen()->lock_count, 0u);
    const DrawContext& dc = *gfx_draw_context();
    EXPECT_EQ(dc.serial, first_serial + 1);
    EXPECT_EQ(dc.foreground, 0xFFFFFFFF);
    EXPECT_EQ(dc.background, 0xFF000000);
    EXPECT_EQ(dc.target_rows.size(), 32u);
    EXPECT_EQ(dc.view.w, 16);
}

TEST_F(ScreenTest, FailedOpenLeavesNoMode) {
    gfx_set_mode(32, 16, 32, 1, 0, 0);
    recording().accept_open = [](const OpenCall&) { return false; };
    gfx_set_mode(64, 16, 32, 1, 0, 0);
    EXPECT_EQ(rt_last_error(), 1);
    EXPECT_EQ(gfx_screen(), nullptr);
    EXPECT_EQ(gfx_draw_context(), nullptr);
    // Without a mode the screen operations do nothing and do not fail.
    gfx_lock();
    gfx_unlock(ALL_LINES);
    gfx_clear(CLEAR_DEFAULT);
    EXPECT_EQ(recording().locks, 0);
    Info info = screen_info();
    EXPECT_EQ(info.width, 0);
    EXPECT_EQ(info.bytes_per_pixel, 0);
    EXPECT_EQ(info.name, "");
}

// A frame runs without the driver lock; its end takes it once, to mark and commit.
TEST_F(ScreenTest, NestedLocksEndTheFrameOnce) {
    gfx_set_mode(40, 30, 32, 1, 0, 0);
    gfx_lock();
    gfx_lock();
    EXPECT_EQ(gfx_screen()->lock_count, 2u);
    gfx_unlock(NO_LINES);
    EXPECT_EQ(recording().locks, 0);
    EXPECT_EQ(marked_lines(), "");
    const int locks = recording().locks;
    gfx_unlock(ALL_LINES);
    EXPECT_EQ(recording().locks, locks + 1);
    EXPECT_EQ(recording().unlocks, locks + 1);
    EXPECT_EQ(marked_lines(), "0-29");
    EXPECT_EQ(gfx_screen()->lock_count, 0u);
}

TEST_F(ScreenTest, UnlockRanges) {
    struct Case {
        int first, last;
        const char* marked;
    } cases[] = {
        {10, 5, ""},       {-1, 5, "0-5"}, {0, 30, ""},      {-1, -1, "0-29"}, {5, -1, "5-29"},
        {29, 29, "29-29"}, {1, 0, ""},     {-7, -3, "0-29"}, {40, 50, ""},
    };
    gfx_set_mode(40, 30, 32, 1, 0, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << ".." << c.last);
        clear_marks();
        const int locks = recording().locks, unlocks = recording().unlocks;
        gfx_lock();
        gfx_unlock(c.first, c.last);
        EXPECT_EQ(recording().locks, locks + 1);
        EXPECT_EQ(recording().unlocks, unlocks + 1);
        EXPECT_EQ(marked_lines(), c.marked);
        EXPECT_EQ(gfx_screen()->lock_count, 0u);
    }
}

TEST_F(ScreenTest, UnmatchedUnlockDoesNothing) {
    gfx_set_mode(40, 30, 32, 1, 0, 0);
    gfx_unlock(ALL_LINES);
    EXPECT_EQ(recording().unlocks, 0);
    EXPECT_EQ(gfx_screen()->lock_count, 0u);
    EXPECT_EQ(marked_lines(), "");
}

TEST_F(ScreenTest, TextGridChoosesTheFontAndClears) {
    struct Case {
        int columns, rows;
        int font_height; // 0: refused
    } cases[] = {
        {100, 42, 14}, {100, 40, 0}, {100, 37, 16}, {100, 75, 8}, {50, 42, 0}, {101, 42, 0},
        {100, 46, 0},  {100, 54, 0}, {-3, 42, 14},  {100, 0, 8},  {0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.columns << "x" << c.rows);
        gfx_set_mode(800, 600, 32, 1, 0, 0);
        set_pixel32(5, 5, 0xFFFFFFFF);
        DrawContext& dc = *gfx_draw_context();
        dc.cursor_x = 1.5f;
        int result = gfx_set_text_grid(c.columns, c.rows);
        const ScreenContext& screen = *gfx_screen();
        if (c.font_height) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(screen.font->glyph_height, c.font_height);
            EXPECT_EQ(screen.text_columns, 100);
            EXPECT_EQ(screen.text_rows, c.rows > 0 ? c.rows : 75);
            EXPECT_EQ(pixel32(5, 5), 0xFF000000u);
            EXPECT_EQ(marked_lines(), "0-599");
            EXPECT_EQ(dc.cursor_x, 400.0f);
            EXPECT_EQ(dc.cursor_y, 300.0f);
        } else {
            EXPECT_EQ(result, c.columns > 0 || c.rows > 0 ? 0 : 100 | 75 << 16);
            EXPECT_EQ(screen.font, &gfx_font_8x8());
            EXPECT_EQ(screen.text_rows, 75);
            EXPECT_EQ(pixel32(5, 5), 0xFFFFFFFFu);
            EXPECT_EQ(marked_lines(), "");
            EXPECT_EQ(dc.cursor_x, 1.5f);
        }
    }
}

TEST_F(ScreenTest, DashboardGridSelects8x14ForEveryPanelCount) {
    for (int servers = 1; servers <= 6; ++servers) {
        gfx_set_mode(800, servers * 200, 32, 1, 0, 0);
        gfx_set_text_grid(800 / 8, servers * 200 / 14);
        EXPECT_EQ(gfx_screen()->font, &gfx_font_8x14()) << servers;
    }
}

TEST_F(ScreenTest, SetColor) {
    gfx_set_mode(8, 8, 32, 1, 0, 0);
    DrawContext& dc = *gfx_draw_context();
    EXPECT_EQ(gfx_set_color(0xFFF5FFFF, 0, 2), 0xFFFFFFFFu);
    EXPECT_EQ(dc.foreground, 0xFFF5FFFFu);
    EXPECT_EQ(dc.background, 0xFF000000u);
    EXPECT_EQ(gfx_set_color(0x11223344, 0x55667788, 1), 0xFFF5FFFFu);
    EXPECT_EQ(dc.foreground, 0xFFF5FFFFu);
    EXPECT_EQ(dc.background, 0x55667788u); // alpha byte kept as given
    EXPECT_EQ(gfx_set_color(0x80ABCDEF, 0x01020304, 0), 0xFFF5FFFFu);
    EXPECT_EQ(dc.foreground, 0x80ABCDEFu);
    EXPECT_EQ(dc.background, 0x01020304u);

    gfx_set_mode(8, 8, 16, 1, 0, 0);
    DrawContext& dc16 = *gfx_draw_context();
    EXPECT_EQ(gfx_set_color(0xFFFF8040, 0xFF0000FF, 0), 0xFFFFFFFFu);
    EXPECT_EQ(dc16.foreground, 0xFC08u); // 11111 100000 01000
    EXPECT_EQ(dc16.background, 0x001Fu);
    EXPECT_EQ(gfx_set_color(0, 0, 3), 0xFFFF8242u);

    gfx_set_mode(8, 8, 8, 1, 0, 0);
    DrawContext& dc8 = *gfx_draw_context();
    EXPECT_EQ(gfx_set_color(0x1234, 0x5678, 0), 15u);
    EXPECT_EQ(dc8.foreground, 0x34u);
    EXPECT_EQ(dc8.background, 0x78u);
    EXPECT_EQ(gfx_set_color(0, 0, 3), 0x78u << 16 | 0x34u);
}

TEST_F(ScreenTest, ClearModes) {
    struct Case {
        uint32_t mode;
        const char* marked;
        int painted_lines; // from the top, full width
        bool cursor_to_centre;
    } cases[] = {
        {CLEAR_DEFAULT, "0-599", 600, true},    {CLEAR_SCREEN, "0-599", 600, true},
        {CLEAR_TEXT_ROWS, "0-587", 588, false}, // 42 rows of 14 lines
        {CLEAR_VIEW, "0-599", 600, true},       {7, "0-599", 600, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        gfx_set_mode(800, 600, 32, 1, 0, 0);
        gfx_set_text_grid(100, 42);
        gfx_set_color(0, 0xFF112233, 1);
        clear_marks();
        DrawContext& dc = *gfx_draw_context();
        dc.cursor_x = 7.0f, dc.cursor_y = 9.0f;
        int locks = recording().locks;
        gfx_clear(c.mode);
        EXPECT_EQ(recording().locks, locks + 1);
        const ScreenContext& screen = *gfx_screen();
        EXPECT_EQ(first_pixel_not(screen.visible_pixels, 800u * c.painted_lines, 0xFF112233), -1);
        if (c.painted_lines < 600) {
            EXPECT_EQ(first_pixel_not(screen.visible_pixels + c.painted_lines * 3200,
                                      800u * (600 - c.painted_lines), 0xFF000000),
                      -1);
        }
        EXPECT_EQ(marked_lines(), c.marked);
        EXPECT_EQ(dc.cursor_x, c.cursor_to_centre ? 400.0f : 7.0f);
        EXPECT_EQ(dc.cursor_y, c.cursor_to_centre ? 300.0f : 9.0f);
        EXPECT_EQ(screen.lock_count, 0u);
    }
}

TEST_F(ScreenTest, ClearOfOddViewCentreRoundsDown) {
    gfx_set_mode(13, 7, 32, 1, 0, 0);
    gfx_clear(CLEAR_SCREEN);
    EXPECT_EQ(gfx_draw_context()->cursor_x, 6.0f);
    EXPECT_EQ(gfx_draw_context()->cursor_y, 3.0f);
}

TEST_F(ScreenTest, PaletteDepthLoadsTheDefaultPalette) {
    gfx_set_mode(8, 8, 8, 1, 0, 0);
    const ScreenContext& screen = *gfx_screen();
    EXPECT_EQ(recording().palette_entries, 256);
    EXPECT_EQ(recording().palette_entries_unlocked, 0);     // a presenter converts through the palette
    EXPECT_EQ(shared_copy(screen).palette[6], 0x000055AAu); // 0x00BBGGRR of AA5500
    EXPECT_EQ(shared_copy(screen).palette[15], 0x00FFFFFFu);
    EXPECT_EQ(screen.default_palette, gfx_palette(256));
    EXPECT_EQ(screen.visible_pixels[0], 0); // background: index 15 AND 0xFF000000

    gfx_set_mode(8, 8, 32, 1, 0, 0);
    EXPECT_EQ(recording().palette_entries, 256); // no palette at 32 bits
}

TEST_F(ScreenTest, TitleIsCutAt127Bytes) {
    gfx_set_mode(8, 8, 32, 1, 0, 0);
    std::string long_title(200, 'x');
    long_title[126] = 'y';
    gfx_set_title(long_title);
    std::string expected = long_title.substr(0, 127);
    ASSERT_EQ(recording().captions.size(), 1u);
    EXPECT_EQ(recording().captions[0], expected);
    EXPECT_EQ(gfx_title(), expected);
    gfx_set_mode(8, 8, 32, 1, 0, 0);
    EXPECT_EQ(recording().opens.back().title, expected);

    gfx_set_title("Zeige 3 Server");
    EXPECT_EQ(recording().captions.back(), "Zeige 3 Server");
    EXPECT_EQ(gfx_title(), "Zeige 3 Server");
}

TEST_F(ScreenTest, TitleSetWithoutModeIsUsedByTheNextMode) {
    gfx_set_title("Zeige 1 Server");
    EXPECT_TRUE(recording().captions.empty());
    gfx_set_mode(8, 8, 32, 1, 0, 0);
    EXPECT_EQ(recording().opens.back().title, "Zeige 1 Server");
}

void open_mode_and_exit_with_default_title() {
    gfx_set_mode(8, 8, 32, 1, 0, 0);
    std::exit(recording().opens.back().title == "gfx_tests" ? 0 : 1);
}

// The death-test style "threadsafe" runs the child in a fresh process, so no title has been set there yet.
TEST_F(ScreenTest, DefaultTitleIsTheExecutableName) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(open_mode_and_exit_with_default_title(), testing::ExitedWithCode(0), "");
}

// The exit action closes the mode: the driver's close runs, and the leak checker of a sanitizer build finds
// every page freed.
void open_null_mode_and_exit() {
    setenv("KORVID", "null", 1);
    gfx_set_mode(1234, 567, 32, 2, 0, 0);
    std::exit(rt_last_error());
}

void open_mode_and_exit_locked() {
    static const ScreenDriver closing = {
        .name = "Closing",
        .open = [](const char*, int, int, int, int, int) { return 0; },
        .close = [] { std::fputs("closed at exit\n", stderr); },
    };
    static const DriverChoice choice[] = {{&closing, nullptr}};
    gfx_use_drivers(choice);
    gfx_set_mode(64, 64, 32, 1, 0, 0);
    gfx_lock(); // ends in the middle of a frame
    std::exit(rt_last_error());
}

TEST_F(ScreenTest, ExitClosesTheMode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(open_null_mode_and_exit(), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(open_mode_and_exit_locked(), testing::ExitedWithCode(0), "closed at exit");
}

} // namespace
