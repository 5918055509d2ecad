#include "app/dashboard.h"

#include <cmath>
#include <string>

#include "app/panel.h"
#include "app/server_workers.h"
#include "gfx/frame_record.h"
#include "gfx/input.h"
#include "gfx/line.h"
#include "gfx/screen.h"
#include "rt/clock.h"
#include "rt/runtime.h"
#include "rt/sleep.h"

namespace {

// The close request reads back from the key queue as these two bytes.
const std::string CLOSE_KEY_TEXT = {static_cast<char>(KEY_WINDOW_CLOSE & 0xFF),
                                    static_cast<char>(KEY_WINDOW_CLOSE >> 8)};

} // namespace

bool frame_needed(FrameSkip& skip, const FrameInputs& now) {
    // A held button may be a click, which acts (-1: the pointer is not ours, nothing is held); the frame that
    // follows a change settles what the change left behind (a probe run in mid-frame is shown only by what is
    // drawn after it).
    const bool repeats = skip.drawn && *skip.drawn == now && now.mouse_buttons <= 0;
    if (repeats && skip.settled) return false;
    skip.settled = repeats;
    skip.drawn = now;
    return true;
}

FrameInputs frame_inputs(const ServerTable& table, const DashboardState& state) {
    FrameInputs in{.mouse_x = state.mouse_x,
                   .mouse_y = state.mouse_y,
                   .mouse_wheel = state.mouse_wheel,
                   .mouse_buttons = state.mouse_buttons,
                   .clock_second = std::ceil(panel_clock())};
    // A probe falls due when the clock passes a whole second, and stays due until it runs: within one of
    // the clock's seconds a frame after the one that ran it has nothing to run. Not so for an interval
    // below one second, which falls due again in the same second.
    for (uint8_t i = 0; i < table.server_count; ++i) {
        const ServerRecord& r = table.servers[i];
        if (r.interval < 1) in.clock_second = panel_clock();
    }
    return in;
}

void draw_frame(ServerTable& table, DashboardState& state, ServerWorkers* workers) {
    if (workers) (void)take_results(*workers, table);
    // The frame: on the dashboard's recording mode the panels run without the driver lock, so the window is
    // repainted and answers while the frame waits (for a terminal command, or for the probes of a frame
    // without workers); the picture changes at the frame's end.
    ScreenLock frame(ALL_LINES);
    gfx_clear(CLEAR_DEFAULT);
    const auto width = static_cast<float>(state.screen_width);
    const auto height = static_cast<float>(state.screen_height);
    gfx_line(nullptr, 0, 0, width, height, BACKGROUND_COLOUR, LINE_MODE_FILLED_BOX, LINE_SOLID, 0);
    for (uint8_t i = 0; i < table.server_count; ++i) {
        draw_panel(table.servers[i], static_cast<uint16_t>(PANEL_HEIGHT * i), state,
                   workers ? &workers->servers[i] : nullptr);
    }
    // Every panel closes the one above it with its top line; nothing below the last one does.
    gfx_line(nullptr, 0, height - 3, width, height - 3, RULE_COLOUR, LINE_MODE_LINE, LINE_SOLID, 0);
}

bool setup_screen(DashboardState& state, uint8_t count, int flags) {
    state.screen_width = SCREEN_WIDTH;
    state.screen_height = static_cast<uint16_t>(count * PANEL_HEIGHT);
    gfx_set_mode(state.screen_width, state.screen_height, SCREEN_DEPTH, 1, flags, 0);
    if (gfx_screen() == nullptr) return false;
    gfx_set_title("Zeige " + std::to_string(count) + " Server");
    set_font_height(FONT_HEIGHT);
    // Most frames draw the picture of the frame before: recorded frames draw and present only what changed.
    gfx_record_frames(true);
    return true;
}

int set_font_height(int64_t h) {
    int64_t width = 0, height = 0, depth = 0, bytes_per_pixel = 0, pitch = 0, rate = 0;
    std::string driver;
    gfx_screen_info(&width, &height, &depth, &bytes_per_pixel, &pitch, &rate, &driver);
    if (h != 8 && h != 14 && h != 16) return 0;
    gfx_set_text_grid(static_cast<int>(width / 8), static_cast<int>(height / h));
    return 1;
}

uint64_t main_loop(ServerTable& table, DashboardState& state, double stop_at, ServerWorkers* workers) {
    FrameSkip skip;
    uint64_t landings = 0;
    for (uint64_t frames = 1;; ++frames) {
        rt_sleep(FRAME_PAUSE_MS, 1);
        int64_t confined = 0;
        input_get_mouse(&state.mouse_x, &state.mouse_y, &state.mouse_wheel, &state.mouse_buttons, &confined);
        // Results that land change the records the frame draws, from another thread: they count as input.
        if (workers && take_results(*workers, table)) ++landings;
        FrameInputs inputs = frame_inputs(table, state);
        inputs.landings = landings;
        if (frame_needed(skip, inputs)) draw_frame(table, state, workers);
        // Both are taken every frame, so that a request the other one answered is not left for later; under
        // one lock, as an idle frame's cost is mostly its locks.
        bool closes = false;
        {
            SharedLock held;
            closes = input_read_key() == CLOSE_KEY_TEXT;
            closes = input_take_close_request() || closes;
        }
        if (closes || rt_stop_requested()) return frames;
        if (rt_timer() >= stop_at) return frames;
    }
}
