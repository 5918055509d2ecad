// The command line: nothing for the window, --snapshot for a picture without a display, --check for the
// configuration alone, --help, --version; --config and --example-if-missing say where the configuration
// comes from; --scale sets the window's factor.
#pragma once

#include <cstdint>
#include <span>
#include <string>

enum class RunMode {
    WINDOW,   // the dashboard in its window until it is closed
    SNAPSHOT, // the dashboard on the null driver for a while, then its picture as a PNG
    CHECK,    // the configuration read and judged, no tool run
    HELP,
    VERSION,
    INVALID, // error holds the German message; the exit status is 2
};

inline constexpr uint32_t DEFAULT_SNAPSHOT_SECONDS = 10;
// A day; longer is surely a typo, and the frames of such a run would only age the picture.
inline constexpr uint32_t MAX_SNAPSHOT_SECONDS = 86400;

struct Options {
    RunMode mode = RunMode::WINDOW;
    std::string snapshot_file;
    uint32_t seconds = DEFAULT_SNAPSHOT_SECONDS;
    std::string config_file;         // --config: read this instead of looking; empty when not given
    bool example_if_missing = false; // write the example to the user's place when there is none
    int scale = 0;                   // --scale: the window's factor 1 to 4; 0 takes the desktop's
    std::string error;
};

// args without the program name. Words that do not begin with '-' are ignored, as they always were.
[[nodiscard]] Options parse_options(std::span<const char* const> args);

// The --help text, ending in a newline.
[[nodiscard]] std::string usage_text();
