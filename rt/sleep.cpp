#include "rt/sleep.h"

#include <cerrno>
#include <sys/select.h>

#include "rt/result.h"

namespace {

// A key-interruptible sleep looks at the queue this often.
constexpr int32_t KEY_CHECK_INTERVAL_MS = 50;
// Below this a key-interruptible sleep is one plain pause.
constexpr int32_t CHECKED_SLEEP_MIN_MS = 100;

bool (*sleep_key_check)() = nullptr;

void select_pause(int32_t milliseconds) {
    if (milliseconds <= 0) return;
    timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    // Linux leaves the time still to go in the timeout, so a signal does not cut the pause short.
    while (select(0, nullptr, nullptr, nullptr, &timeout) < 0 && errno == EINTR) {
    }
}

} // namespace

void rt_set_sleep_key_check(bool (*key_check)()) {
    sleep_key_check = key_check;
}

void rt_sleep_with(int32_t milliseconds, int32_t flag, bool mode_open, const SleepSteps& steps) {
    if (flag != 0 && flag != 1) {
        rt_set_error(RT_NOT_ALLOWED);
        return;
    }
    rt_set_error(RT_OK);
    if (flag == 1 || !mode_open) {
        // Without a mode no key can arrive, so there is nothing to wait for.
        if (milliseconds > 0) steps.pause(milliseconds);
        return;
    }
    if (milliseconds == -1) {
        while (!steps.key_check()) steps.pause(KEY_CHECK_INTERVAL_MS);
        return;
    }
    if (milliseconds < CHECKED_SLEEP_MIN_MS) {
        if (milliseconds > 0) steps.pause(milliseconds);
        return;
    }
    int32_t remaining = milliseconds;
    while (remaining > KEY_CHECK_INTERVAL_MS) {
        if (steps.key_check()) return;
        steps.pause(KEY_CHECK_INTERVAL_MS);
        remaining -= KEY_CHECK_INTERVAL_MS;
    }
    // The last 1 to 50 ms are not checked: a key posted now ends the next sleep instead.
    steps.pause(remaining);
}

void rt_sleep(int32_t milliseconds, int32_t flag) {
    rt_sleep_with(milliseconds, flag, sleep_key_check != nullptr,
                  {.pause = select_pause, .key_check = sleep_key_check});
}
