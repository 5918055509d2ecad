// The key queue, input_read_key, input_get_mouse through the null driver, and how a sleep learns of keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "gfx/input.h"
#include "gfx/screen.h"
#include "rt/result.h"
#include "rt/sleep.h"

namespace {

std::vector<int32_t> drain(KeyQueue& queue) {
    std::vector<int32_t> codes;
    for (int32_t code; (code = next_key(queue)) != 0;) codes.push_back(code);
    return codes;
}

TEST(KeyQueue, KeepsOrderAndDropsTheOldest) {
    struct Case {
        int posted; // codes 1..posted
        std::vector<int32_t> read;
    } cases[] = {
        {0, {}},
        {1, {1}},
        {3, {1, 2, 3}},
        {15, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
        // The 16th key drops the first; the 17th the second.
        {16, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
        {17, {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}},
        {40, {26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40}},
    };
    for (const Case& c : cases) {
        KeyQueue queue;
        for (int32_t i = 1; i <= c.posted; ++i) post_key(queue, i);
        EXPECT_EQ(drain(queue), c.read) << c.posted << " posted";
        EXPECT_EQ(queue.read_pos, queue.write_pos);
    }
}

TEST(KeyQueue, WrapsAroundTheRing) {
    KeyQueue queue;
    // Walk the positions round the ring several times with a few keys in flight.
    int32_t next = 1, expected = 1;
    for (int round = 0; round < 50; ++round) {
        for (int i = 0; i < 3; ++i) post_key(queue, next++);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(next_key(queue), expected++) << "round " << round;
        ASSERT_LT(queue.write_pos, KEY_QUEUE_SLOTS);
    }
    EXPECT_EQ(next_key(queue), 0);
}

TEST(KeyQueue, ACloseRequestOutlivesTheKeysThatPushItOut) {
    KeyQueue queue;
    post_key(queue, KEY_WINDOW_CLOSE);
    for (int32_t i = 1; i <= 20; ++i) post_key(queue, 'a');
    std::vector<int32_t> read = drain(queue);
    EXPECT_EQ(std::count(read.begin(), read.end(), KEY_WINDOW_CLOSE), 0); // the ring lost it ...
    EXPECT_TRUE(queue.close_requested);                                   // ... the request did not
    post_key(queue, 'b');
    EXPECT_TRUE(queue.close_requested);
}

TEST(KeyQueue, KeyPostedFlag) {
    KeyQueue queue;
    EXPECT_FALSE(queue.key_posted);
    post_key(queue, 'a');
    EXPECT_TRUE(queue.key_posted);
    EXPECT_EQ(next_key(queue), 'a');
    EXPECT_FALSE(queue.key_posted);
    // next_key clears it even when the queue was empty already.
    queue.key_posted = true;
    EXPECT_EQ(next_key(queue), 0);
    EXPECT_FALSE(queue.key_posted);
}

void drain_queue() {
    SharedLock held;
    (void)drain(key_queue().in(held));
}

// A 32-bit mode on the null driver; the process-wide queue drained before and after.
class ModeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("KORVID");
        gfx_set_mode(8, 4, 32, 1, -1, 0);
        ASSERT_NE(gfx_screen(), nullptr);
        drain_queue();
        null_driver_set_pointer(false, 0, 0, 0, 0);
    }
    void TearDown() override {
        drain_queue();
        null_driver_set_pointer(false, 0, 0, 0, 0);
        gfx_close_mode();
    }
};

TEST_F(ModeTest, ReadKeyTexts) {
    struct Case {
        int32_t code;
        std::string text;
    } cases[] = {
        {'a', "a"},
        {13, "\r"},
        {255, "\xff"},
        {0xE4, "\xe4"},
        {0x48FF, "\xffH"},
        {0x44FF, "\xff"
                 "D"},
        {0x53FF, "\xffS"},
        {KEY_WINDOW_CLOSE, "\xffk"},
    };
    for (const Case& c : cases) {
        post_key(SharedLock{}, c.code);
        EXPECT_EQ(input_read_key(), c.text) << std::hex << c.code;
        EXPECT_EQ(input_read_key(), "") << "one key per read";
    }
}

TEST_F(ModeTest, TypingBetweenFramesReadsOneKeyPerFrame) {
    for (char c : std::string("abc")) post_key(SharedLock{}, c);
    EXPECT_EQ(input_read_key(), "a");
    EXPECT_EQ(input_read_key(), "b");
    EXPECT_EQ(input_read_key(), "c");
    EXPECT_EQ(input_read_key(), "");
}

TEST_F(ModeTest, ReadKeyLeavesTheLockBalanced) {
    post_key(SharedLock{}, 'x');
    gfx_lock(); // next_key nests inside a held lock
    EXPECT_EQ(next_key(), 'x');
    EXPECT_EQ(gfx_screen()->lock_count, 1u);
    gfx_unlock(NO_LINES);
    EXPECT_EQ(gfx_screen()->lock_count, 0u);
}

TEST_F(ModeTest, QueueOutlivesTheMode) {
    post_key(SharedLock{}, 'q');
    gfx_close_mode();
    EXPECT_EQ(input_read_key(), "") << "without a mode no key is read";
    gfx_set_mode(8, 4, 32, 1, -1, 0);
    EXPECT_EQ(input_read_key(), "q") << "opening a mode does not clear the queue";
}

struct Mouse {
    int64_t x = 7, y = 7, wheel = 7, buttons = 7, confined = 7;
    bool operator==(const Mouse&) const = default;
};
Mouse read_mouse() {
    Mouse m;
    input_get_mouse(&m.x, &m.y, &m.wheel, &m.buttons, &m.confined);
    return m;
}

TEST_F(ModeTest, MouseThroughTheDriver) {
    struct Case {
        bool valid;
        int x, y, wheel, buttons;
        Mouse expected;
        int error;
    } cases[] = {
        {true, 3, 2, 0, 1, {3, 2, 0, 1, 0}, 0},
        {true, 0, 0, 2, 2, {0, 0, 2, 2, 0}, 0},
        {true, 7, 3, -4, 4, {7, 3, -4, 4, 0}, 0},
        {true, 1, 1, 0, 3, {1, 1, 0, 3, 0}, 0},
        // Negative values widen with their sign.
        {true, -2, 5, -2147483647 - 1, 0, {-2, 5, -2147483648LL, 0, 0}, 0},
        {false, 3, 2, 0, 1, {-1, -1, -1, -1, -1}, 1},
    };
    for (const Case& c : cases) {
        null_driver_set_pointer(c.valid, c.x, c.y, c.wheel, c.buttons);
        rt_set_error(c.error == 0 ? 1 : 0);
        EXPECT_EQ(read_mouse(), c.expected) << c.x << "," << c.y;
        EXPECT_EQ(rt_last_error(), c.error);
        EXPECT_EQ(gfx_screen()->lock_count, 0u);
    }
}

TEST_F(ModeTest, MouseMarksNoLineDirty) {
    null_driver_set_pointer(true, 1, 1, 0, 0);
    SharedLock held; // the test plays the presenter, which reads the table under the lock
    auto& entries = gfx_screen()->shared.in(held).dirty_lines.entries;
    std::fill(entries.begin(), entries.end(), 0);
    (void)read_mouse();
    for (uint8_t entry : entries) EXPECT_EQ(entry, 0);
}

// A driver whose pointer query scribbles over its outputs and still refuses.
int scribbling_query(int* x, int* y, int* wheel, int* buttons, int* confined) {
    *x = *y = *wheel = *buttons = *confined = 5;
    return -1;
}
int open_anything(const char*, int, int, int, int, int) {
    return 0;
}
const ScreenDriver scribbling_driver = {
    .name = "Scribble", .open = open_anything, .query_pointer = scribbling_query};
const DriverChoice scribbling_choice[] = {{&scribbling_driver, nullptr}};

TEST(Mouse, RefusedQueryGivesMinusOneWhateverTheDriverWrote) {
    unsetenv("KORVID");
    gfx_use_drivers(scribbling_choice);
    gfx_set_mode(8, 4, 32, 1, 0, 0);
    ASSERT_NE(gfx_screen(), nullptr);
    rt_set_error(RT_OK);
    EXPECT_EQ(read_mouse(), (Mouse{-1, -1, -1, -1, -1}));
    EXPECT_EQ(rt_last_error(), 1);
    gfx_close_mode();
    gfx_use_drivers({});
}

TEST(Mouse, WithoutAModeAllMinusOne) {
    gfx_close_mode();
    null_driver_set_pointer(true, 1, 1, 0, 0);
    rt_set_error(RT_OK);
    EXPECT_EQ(read_mouse(), (Mouse{-1, -1, -1, -1, -1}));
    EXPECT_EQ(rt_last_error(), 1);
    null_driver_set_pointer(false, 0, 0, 0, 0);
    // Null outputs are skipped, not written through.
    input_get_mouse(nullptr, nullptr, nullptr, nullptr, nullptr);
}

// The real steps: a check takes the flag under the lock and clears it; a key posted before the sleep
// began ends it at the first check.
TEST_F(ModeTest, SystemCheckReadsAndClearsKeyPosted) {
    EXPECT_FALSE(input_take_key_posted());
    post_key(SharedLock{}, 'z');
    EXPECT_TRUE(input_take_key_posted());
    EXPECT_FALSE(input_take_key_posted()) << "the check clears the flag";
    EXPECT_EQ(gfx_screen()->lock_count, 0u);
    EXPECT_EQ(input_read_key(), "z") << "the key itself stays queued";

    post_key(SharedLock{}, 'y');
    rt_set_error(RT_NOT_ALLOWED);
    rt_sleep(100000, 0); // would pause 100 s if the posted key did not end it at the first check
    EXPECT_EQ(rt_last_error(), 0);
    post_key(SharedLock{}, 'w');
    rt_sleep(-1, 0); // would wait forever
    EXPECT_EQ(input_read_key(), "y");
    EXPECT_EQ(input_read_key(), "w");
}

} // namespace
