// Start-up of the screen and the frame loop: one window of one panel per server, frame after frame
// (FRAME_PAUSE_MS between them) until the window is closed. A frame whose inputs changed runs the whole
// dashboard's logic and notes its drawing; only the 8-line bands whose drawing changed since the last frame
// are drawn and presented again. A frame whose inputs did not change is not drawn at all.
//
// The frame's thread only.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#include "app/server_table.h"

inline constexpr int SCREEN_WIDTH = 800;
inline constexpr int SCREEN_DEPTH = 32;
inline constexpr int FONT_HEIGHT = 14;
inline constexpr int FRAME_PAUSE_MS = 5;
inline constexpr uint32_t BACKGROUND_COLOUR = 0xFF1E1E1E;

// Opens the window for count panels, titles it "Zeige <count> Server" and sets the 8x14 text grid. flags go
// to gfx_set_mode: 0 for the window, -1 for the null driver of a snapshot. False when no mode opened (no
// display, no driver, or count 0); the state's screen size is set either way.
[[nodiscard]] bool setup_screen(DashboardState& state, uint8_t count, int flags = 0);

// Text grid of the whole screen in the font of height h (8, 14 or 16): 1 if applied, 0 for other heights.
int set_font_height(int64_t h);

struct ServerWorkers;

// One frame: the results the workers have ended since the frame before, the background, every panel (with
// its clicks and the probes that are due, handed to its server's worker), the last panel's lower border;
// at its end the lines it changed are drawn and handed to the presenter. Without workers the probes run in
// the frame.
void draw_frame(ServerTable& table, DashboardState& state, ServerWorkers* workers = nullptr);

// What a frame reads besides the records it draws: the pointer, and the clock as far as it decides what a
// frame does (a probe falling due; a click's delay matters only while a button is down). The frame reads
// nothing else that can change between frames: focus and the pointer's place come through the pointer read.
struct FrameInputs {
    int64_t mouse_x = 0, mouse_y = 0, mouse_wheel = 0, mouse_buttons = 0;
    double clock_second = 0; // the clock rounded up to whole seconds, or the clock itself
    uint64_t landings = 0;   // how often the workers' results have landed in the records so far
    bool operator==(const FrameInputs&) const = default;
};
[[nodiscard]] FrameInputs frame_inputs(const ServerTable& table, const DashboardState& state);

// The last frame drawn: with what it read, and whether it repeated the one before it, so that it changed
// nothing and left the page as any frame with the same inputs would.
struct FrameSkip {
    std::optional<FrameInputs> drawn;
    bool settled = false;
};
// Whether a frame with these inputs must be drawn: always, unless the last frame drawn read the same and
// was itself a repeat. An idle frame then costs its pause and its pointer and key reads.
[[nodiscard]] bool frame_needed(FrameSkip& skip, const FrameInputs& now);

// Runs frames until a frame takes the window-close request or finds a stop requested, or until the clock
// passes stop_at after a frame (the snapshot's end). Returns the number of frames run.
uint64_t main_loop(ServerTable& table, DashboardState& state,
                   double stop_at = std::numeric_limits<double>::infinity(),
                   ServerWorkers* workers = nullptr);
