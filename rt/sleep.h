// The frame pause: plain, or ended early by a key while a screen mode is open.
#pragma once

#include <cstdint>

// flag 1: plain pause; flag 0: a pause that a posted key ends (checked every 50 ms); other flags: no pause,
// runtime error 1.
void rt_sleep(int32_t milliseconds, int32_t flag);

// Where rt_sleep learns of keys: set by the screen while a mode is open (reads and clears whether a key was
// posted), nullptr while no key can arrive.
void rt_set_sleep_key_check(bool (*key_check)());

// The two effects of a sleep, so that the rule of rt_sleep is tested by the steps it takes rather than by
// the time it took.
struct SleepSteps {
    void (*pause)(int32_t milliseconds) = nullptr; // a plain pause; returns at once for 0 or less
    bool (*key_check)() = nullptr;                 // reads and clears whether a key was posted
};
// rt_sleep over the given steps; mode_open tells whether a key can arrive at all (without a mode a flag-0
// sleep pauses plainly, and a wait for a key returns at once instead of waiting forever).
void rt_sleep_with(int32_t milliseconds, int32_t flag, bool mode_open, const SleepSteps& steps);
