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

// Rounds: the poster fills the ring past full and waits until the reader starts to drain, then posts the next
// round while the reader is still draining. At the start of each drain the ring can only hold the newest
// EVENT_QUEUE_SIZE events, so the first one taken must be among them, whatever the interleaving after that;
// events arrive whole and in order, and the last one posted is never lost.
TEST(EventQueueThreads, FullRingKeepsTheNewest) {
    static EventQueue queue; // holds a mutex: kept off the stack of the test body
    constexpr int ROUNDS = 100;
    constexpr int PER_ROUND = 2 * EVENT_QUEUE_SIZE + EVENT_QUEUE_SIZE / 2;
    std::atomic<int> posted{0}, draining{0};
    std::atomic<bool> timed_out{false};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::thread poster([&] {
        int id = 0;
        for (int round = 1; round <= ROUNDS; ++round) {
            for (int i = 0; i < PER_ROUND; ++i) {
                ++id;
                gfx_post_event(queue, WindowEvent{EVENT_WHEEL, id, 2 * id, 0, 0});
            }
            posted.store(id, std::memory_order_release);
            while (draining.load(std::memory_order_acquire) < round) {
                if (std::chrono::steady_clock::now() > deadline) {
                    timed_out = true;
                    return;
                }
                std::this_thread::yield();
            }
        }
    });

    int last = 0, first_of_drains = 0;
    WindowEvent e{};
    for (int round = 1; round <= ROUNDS && !timed_out; ++round) {
        while (posted.load(std::memory_order_acquire) < round * PER_ROUND && !timed_out) {
            if (std::chrono::steady_clock::now() > deadline) timed_out = true;
            std::this_thread::yield();
        }
        const int snapshot = posted.load(std::memory_order_acquire);
        draining.store(round, std::memory_order_release);
        bool first = true;
        while (gfx_take_event(queue, e)) {
            if (first) {
                ASSERT_GT(e.a, snapshot - EVENT_QUEUE_SIZE) << "an old event survived a full ring";
                ++first_of_drains;
            }
            first = false;
            ASSERT_EQ(e.type, EVENT_WHEEL);
            ASSERT_EQ(e.b, 2 * e.a) << "torn event";
            ASSERT_GT(e.a, last) << "out of order or repeated";
            last = e.a;
            if (last > snapshot) break; // the next round has begun; leave it to fill the ring
        }
    }
    poster.join();
    ASSERT_FALSE(timed_out);
    while (gfx_take_event(queue, e)) {
        ASSERT_GT(e.a, last);
        last = e.a;
    }
    EXPECT_EQ(last, ROUNDS * PER_ROUND);
    EXPECT_EQ(first_of_drains, ROUNDS);
}

} // namespace
