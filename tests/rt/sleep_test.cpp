// The steps rt_sleep takes, on a log instead of a clock.
#include <gtest/gtest.h>

#include <string>

#include "rt/result.h"
#include "rt/sleep.h"

namespace {

// Records the steps of a sleep: "p50" a pause, "c" a check that found nothing, "C" one that found a key.
struct StepLog {
    std::string steps;
    int checks_until_key = -1; // the check with this index (from 0) finds a key; -1 never
    int checks = 0;
    int limit = 10000; // ends a runaway wait
};
StepLog step_log;

void log_pause(int32_t milliseconds) {
    step_log.steps += "p" + std::to_string(milliseconds) + " ";
}
bool log_check() {
    const bool found = step_log.checks == step_log.checks_until_key || step_log.checks >= step_log.limit;
    ++step_log.checks;
    step_log.steps += found ? "C " : "c ";
    return found;
}
constexpr SleepSteps logging_steps = {.pause = log_pause, .key_check = log_check};

TEST(Sleep, Steps) {
    struct Case {
        int32_t milliseconds, flag;
        bool mode_open;
        int key_at_check;
        const char* steps;
        int error;
    } cases[] = {
        {5, 1, true, -1, "p5 ", 0},
        {5, 1, true, 0, "p5 ", 0},   // keys do not shorten a plain pause
        {5, 1, false, -1, "p5 ", 0}, // nor does it need a mode
        {0, 1, true, -1, "", 0},
        {-5, 1, true, -1, "", 0}, // select would refuse the timeout
        {1500, 1, true, -1, "p1500 ", 0},
        // Flag 0: checks before each 50 ms slice while more than 50 ms remain; the rest unchecked.
        {120, 0, true, -1, "c p50 c p50 p20 ", 0},
        {120, 0, true, 0, "C ", 0},
        {120, 0, true, 1, "c p50 C ", 0},
        {120, 0, true, 2, "c p50 c p50 p20 ", 0}, // a key in the last 20 ms does not end it
        {100, 0, true, -1, "c p50 p50 ", 0},
        {101, 0, true, -1, "c p50 c p50 p1 ", 0},
        {150, 0, true, -1, "c p50 c p50 p50 ", 0},
        {99, 0, true, 0, "p99 ", 0}, // below 100: one plain pause
        {1, 0, true, 0, "p1 ", 0},
        {0, 0, true, 0, "", 0},
        {-2, 0, true, 0, "", 0},
        {-1, 0, true, 0, "C ", 0},
        {-1, 0, true, 3, "c p50 c p50 c p50 C ", 0},
        // Without a mode no key can come: a plain pause, and a wait for a key returns at once.
        {120, 0, false, 0, "p120 ", 0},
        {-1, 0, false, -1, "", 0},
        // Other flags: no pause, error 1.
        {5, 2, true, -1, "", 1},
        {5, -1, true, -1, "", 1},
        {120, 3, true, -1, "", 1},
    };
    for (const Case& c : cases) {
        step_log = {};
        step_log.checks_until_key = c.key_at_check;
        rt_set_error(c.error == 0 ? 1 : 0);
        rt_sleep_with(c.milliseconds, c.flag, c.mode_open, logging_steps);
        EXPECT_EQ(step_log.steps, c.steps) << c.milliseconds << " ms, flag " << c.flag;
        EXPECT_EQ(rt_last_error(), c.error) << c.milliseconds << " ms, flag " << c.flag;
    }
}

TEST(Sleep, OtherFlagReturnsWithError) {
    rt_set_error(RT_OK);
    rt_sleep(100000, 2); // would pause 100 s if the flag were not refused
    EXPECT_EQ(rt_last_error(), 1);
}

} // namespace
