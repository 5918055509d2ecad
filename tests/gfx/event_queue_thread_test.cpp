// The event queue between a driver's thread, which posts, and the thread that reads.
#include "gfx/driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(EventQueueThreads, ReaderSeesPostsInOrderWithoutDuplicates) {
    EventQueue queue;
    constexpr int POSTS = 20000;
    std::atomic<bool> done{false};
    std::thread poster([&] {
        for (int i = 1; i <= POSTS; ++i) gfx_post_event(queue, WindowEvent{EVENT_KEY_PRESS, i, 0, 0, 0});
        done = true;
    });

    // A full ring drops its oldest events, so the reader may miss some, but what it sees stays in order.
    int last = 0, seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    WindowEvent e{};
    for (;;) {
        const bool finished = done; // read before draining, so the last posts are not missed
        while (gfx_take_event(queue, e)) {
            ASSERT_GT(e.a, last);
            last = e.a;
            ++seen;
        }
        if (finished || std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::yield();
    }
    poster.join();
    while (gfx_take_event(queue, e)) {
        ASSERT_GT(e.a, last);
        last = e.a;
        ++seen;
    }
    EXPECT_EQ(last, POSTS);
    EXPECT_GE(seen, EVENT_QUEUE_SIZE);
}

TEST(EventQueueThreads, FullRingKeepsTheNewest) {
    EventQueue queue;
    std::thread poster([&] {
        for (int i = 1; i <= 3 * EVENT_QUEUE_SIZE; ++i)
            gfx_post_event(queue, WindowEvent{EVENT_WHEEL, i, 0, 0, 0});
    });
    poster.join();
    WindowEvent e{};
    for (int expect = 2 * EVENT_QUEUE_SIZE + 1; expect <= 3 * EVENT_QUEUE_SIZE; ++expect) {
        ASSERT_TRUE(gfx_take_event(queue, e));
        EXPECT_EQ(e.a, expect);
    }
    EXPECT_FALSE(gfx_take_event(queue, e));
}

} // namespace
