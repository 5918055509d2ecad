// A screen driver for tests: records every call, and fails opens on demand.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "gfx/driver.h"

struct OpenCall {
    std::string driver;
    std::string title;
    int width, height, depth, refresh_rate, flags;
};

struct DriverRecord {
    std::vector<OpenCall> opens; // of every recording driver, in call order
    std::vector<std::string> closes;
    std::vector<std::string> captions;
    int locks = 0, unlocks = 0, palette_entries = 0;
    int palette_entries_unlocked = 0; // set while the driver lock was not held
    // Decides each open; the default accepts every one.
    std::function<bool(const OpenCall&)> accept_open = [](const OpenCall&) { return true; };
    // Runs inside every unlock, where a presenter would look at the pixels next.
    std::function<void()> on_unlock;
};

// Shared by both recording drivers, reset by reset_recording().
DriverRecord& recording();
void reset_recording();

// Two drivers named "Alpha" and "Beta" that log into recording().
extern const ScreenDriver recording_alpha;
extern const ScreenDriver recording_beta;
