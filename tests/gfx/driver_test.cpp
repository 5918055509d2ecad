// Driver selection (KORVID, sweeps, the retry at rate 0), the null driver and the window-event ring.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/screen.h"
#include "rt/result.h"
#include "tests/gfx/recording_driver.h"

namespace {

const DriverChoice two_drivers[] = {{&recording_alpha, nullptr}, {&recording_beta, nullptr}};

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("KORVID");
        reset_recording();
        gfx_use_drivers(two_drivers);
    }
    void TearDown() override {
        gfx_close_mode();
        gfx_use_drivers({});
        unsetenv("KORVID");
    }
};

// Each open as "Driver/rate/flags", in call order.
std::string open_log() {
    std::string log;
    for (const OpenCall& call : recording().opens)
        log += (log.empty() ? "" : " ") + call.driver + "/" + std::to_string(call.refresh_rate) + "/" +
               std::to_string(call.flags);
    return log;
}

std::string driver_name() {
    int64_t w, h, d, b, p, r;
    std::string name;
    gfx_screen_info(&w, &h, &d, &b, &p, &r, &name);
    return name;
}

bool refuse_all(const OpenCall&) {
    return false;
}

TEST_F(DriverTest, SweepsAndRetries) {
    struct Case {
        const char* korvid; // nullptr: unset
        int flags;
        bool (*accept)(const OpenCall&);
        const char* opens;
        int closes;
        const char* chosen; // "" when set-mode fails
    } cases[] = {
        {nullptr, 0, [](const OpenCall&) { return true; }, "Alpha/60/0", 0, "Alpha"},
        // A failed open is retried once at rate 0 before the next driver.
        {nullptr, 0, [](const OpenCall& c) { return c.refresh_rate == 0; }, "Alpha/60/0 Alpha/0/0", 1,
         "Alpha"},
        {nullptr, 0, [](const OpenCall& c) { return c.driver == "Beta"; }, "Alpha/60/0 Alpha/0/0 Beta/60/0",
         2, "Beta"},
        // Second sweep with full screen toggled.
        {nullptr, 0, [](const OpenCall& c) { return c.flags == 1; },
         "Alpha/60/0 Alpha/0/0 Beta/60/0 Beta/0/0 Alpha/60/1", 4, "Alpha"},
        {nullptr, 1, refuse_all,
         "Alpha/60/1 Alpha/0/1 Beta/60/1 Beta/0/1 Alpha/60/0 Alpha/0/0 Beta/60/0 Beta/0/0", 8, ""},
        // A named driver first, then all, then both again with full screen toggled.
        {"beta", 0, refuse_all,
         "Beta/60/0 Beta/0/0 Alpha/60/0 Alpha/0/0 Beta/60/0 Beta/0/0 Beta/60/1 Beta/0/1 Alpha/60/1 Alpha/0/1 "
         "Beta/60/1 Beta/0/1",
         12, ""},
        {"BETA", 0, [](const OpenCall&) { return true; }, "Beta/60/0", 0, "Beta"},
        // An unknown name has no driver of its own; the sweeps over all drivers still run.
        {"Gamma", 0, [](const OpenCall&) { return true; }, "Alpha/60/0", 0, "Alpha"},
        {"", 0, [](const OpenCall&) { return true; }, "Alpha/60/0", 0, "Alpha"},
        // The null driver: by name in any case, or by flags -1; nothing is opened.
        {"null", 0, refuse_all, "", 0, "Null"},
        {"NuLL", 0, refuse_all, "", 0, "Null"},
        {nullptr, -1, refuse_all, "", 0, "Null"},
        {"Alpha", -1, refuse_all, "", 0, "Null"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.korvid ? c.korvid : "(unset)") << " flags " << c.flags);
        gfx_close_mode();
        reset_recording();
        recording().accept_open = c.accept;
        if (c.korvid)
            setenv("KORVID", c.korvid, 1);
        else
            unsetenv("KORVID");
        gfx_set_mode(64, 32, 32, 1, c.flags, 60);
        EXPECT_EQ(open_log(), c.opens);
        EXPECT_EQ(static_cast<int>(recording().closes.size()), c.closes);
        EXPECT_EQ(rt_last_error(), *c.chosen ? 0 : 1);
        EXPECT_EQ(gfx_screen() != nullptr, *c.chosen != '\0');
        EXPECT_EQ(driver_name(), c.chosen);
    }
}

// True when every byte of every page of the open mode repeats the pixel's bytes.
bool pages_hold_only(const ScreenContext& screen, uint32_t pixel) {
    for (const PageBuffer& page : screen.pages) {
        for (int32_t i = 0; i < screen.width * screen.height; ++i) {
            if (std::memcmp(page.get() + static_cast<std::ptrdiff_t>(i) * screen.bytes_per_pixel, &pixel,
                            static_cast<std::size_t>(screen.bytes_per_pixel)) != 0)
                return false;
        }
    }
    return true;
}

TEST_F(DriverTest, NullDriverKeepsTheModeInMemory) {
    setenv("KORVID", "Null", 1);
    gfx_set_mode(321, 123, 32, 1, 0, 0);
    ASSERT_EQ(rt_last_error(), 0);
    ScreenContext& screen = *gfx_screen();
    EXPECT_EQ(screen.driver, &null_driver);
    EXPECT_EQ(driver_name(), "Null");
    EXPECT_TRUE(pages_hold_only(screen, 0xFF000000));

    gfx_lock();
    EXPECT_EQ(screen.lock_count, 1u);
    gfx_set_color(0xFFFFFFFF, 0xFF123456, 0);
    gfx_clear(CLEAR_SCREEN);
    gfx_unlock(ALL_LINES);
    EXPECT_EQ(screen.lock_count, 0u);
    EXPECT_TRUE(pages_hold_only(screen, 0xFF123456)); // the clear lands in memory, nothing presents it
    {
        SharedLock held;
        const auto& entries = screen.shared.in(held).dirty_lines.entries;
        EXPECT_EQ(std::count(entries.begin(), entries.end(), 1), 123);
    }

    gfx_set_title("ohne Fenster"); // no caption slot: nothing to call, the title is kept for the next mode
    EXPECT_EQ(gfx_title(), "ohne Fenster");
    EXPECT_TRUE(recording().captions.empty());
    EXPECT_TRUE(recording().opens.empty());
    gfx_close_mode();
    EXPECT_EQ(gfx_screen(), nullptr);
    EXPECT_TRUE(recording().closes.empty());
}

// A driver presents from its open on: every page already holds the background there, never the previous
// mode's picture or whatever the allocator left.
TEST_F(DriverTest, PagesAreFilledBeforeTheDriverOpens) {
    static bool filled_at_open;
    static uint32_t expected;
    static const ScreenDriver inspecting = {
        .name = "Inspecting",
        .open =
            [](const char*, int, int, int, int, int) {
                filled_at_open = pages_hold_only(*gfx_screen(), expected);
                return 0;
            },
    };
    static const DriverChoice choice[] = {{&inspecting, nullptr}};
    struct Case {
        int depth, pages;
        uint32_t background; // as stored in the page
    } const cases[] = {{32, 1, 0xFF000000}, {32, 3, 0xFF000000}, {16, 2, 0}, {8, 2, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "depth " << c.depth << ", " << c.pages << " pages");
        // The previous mode of the same size leaves a colour behind in memory the new pages may reuse.
        setenv("KORVID", "Null", 1);
        gfx_set_mode(61, 47, c.depth, c.pages, 0, 0);
        ASSERT_NE(gfx_screen(), nullptr);
        for (const PageBuffer& page : gfx_screen()->pages)
            std::memset(page.get(), 0xAB, static_cast<std::size_t>(gfx_screen()->pitch) * 47);
        unsetenv("KORVID");
        gfx_use_drivers(choice);
        expected = c.background;
        filled_at_open = false;
        gfx_set_mode(61, 47, c.depth, c.pages, 0, 0);
        ASSERT_NE(gfx_screen(), nullptr);
        EXPECT_EQ(driver_name(), "Inspecting");
        EXPECT_TRUE(filled_at_open);
        EXPECT_TRUE(pages_hold_only(*gfx_screen(), c.background));
        gfx_close_mode();
        gfx_use_drivers(two_drivers);
    }
}

TEST_F(DriverTest, OpenGetsTheModeAlreadyInstalled) {
    static int seen_width;
    static const ScreenDriver probing = {
        .name = "Probing",
        .open =
            [](const char*, int, int, int, int, int) {
                seen_width = gfx_screen() ? gfx_screen()->width : -1;
                SharedLock held;
                gfx_screen()->shared.in(held).refresh_rate = 75;
                return 0;
            },
    };
    static const DriverChoice choice[] = {{&probing, nullptr}};
    gfx_use_drivers(choice);
    gfx_set_mode(99, 10, 32, 1, 0, 0);
    EXPECT_EQ(seen_width, 99);
    int64_t w, h, d, b, p, rate;
    std::string name;
    gfx_screen_info(&w, &h, &d, &b, &p, &rate, &name);
    EXPECT_EQ(rate, 75);
    EXPECT_EQ(name, "Probing");
}

TEST_F(DriverTest, DesktopQueryWithoutMode) {
    struct Case {
        std::vector<DriverChoice> drivers;
        int64_t width, height, depth, rate;
    };
    auto refuses = [](int*, int*, int*, int*) { return -1; };
    auto answers = [](int* w, int* h, int* d, int* r) {
        *w = 1920, *h = 1080, *d = 24, *r = 60;
        return 0;
    };
    Case cases[] = {
        {{{&recording_alpha, nullptr}}, 0, 0, 0, 0},
        {{{&recording_alpha, refuses}}, 0, 0, 0, 0},
        {{{&recording_alpha, refuses}, {&recording_beta, answers}}, 1920, 1080, 24, 60},
    };
    for (const Case& c : cases) {
        gfx_use_drivers(c.drivers);
        int64_t w = -1, h = -1, d = -1, b = -1, p = -1, rate = -1;
        std::string name = "x";
        gfx_screen_info(&w, &h, &d, &b, &p, &rate, &name);
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
        EXPECT_EQ(d, c.depth);
        EXPECT_EQ(rate, c.rate);
        EXPECT_EQ(b, 0);
        EXPECT_EQ(p, 0);
        EXPECT_EQ(name, "");
    }
    gfx_use_drivers(two_drivers);
}

TEST(EventQueue, FullRingDropsTheOldest) {
    static EventQueue queue; // holds a mutex: kept off the stack of the test body
    WindowEvent event{};
    EXPECT_FALSE(gfx_take_event(queue, event));
    for (int i = 0; i < EVENT_QUEUE_SIZE + 2; ++i)
        gfx_post_event(queue, {EVENT_POINTER_MOVED, i, 2 * i, 0, 0});
    for (int i = 2; i < EVENT_QUEUE_SIZE + 2; ++i) {
        ASSERT_TRUE(gfx_take_event(queue, event));
        EXPECT_EQ(event.type, EVENT_POINTER_MOVED);
        EXPECT_EQ(event.a, i);
        EXPECT_EQ(event.b, 2 * i);
    }
    EXPECT_FALSE(gfx_take_event(queue, event));
}

TEST(EventQueue, PositionsWrapAround) {
    static EventQueue queue;
    queue.read_pos = queue.write_pos = 0xFFFFFFF0u;
    for (int i = 0; i < 40; ++i) gfx_post_event(queue, {EVENT_KEY_PRESS, i, 0, 0, 0});
    WindowEvent event{};
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(gfx_take_event(queue, event));
        EXPECT_EQ(event.a, i);
    }
    EXPECT_FALSE(gfx_take_event(queue, event));
}

} // namespace
