// A frame drawn on a mode that records its frames, and the same frame drawn at once from the same page: the
// recorded page must equal the other, and the lines marked must cover every line the frame changed. The
// test plays the presenter: the DirtyLineTable is cleared before each frame.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "gfx/screen.h"

struct FrameOutcome {
    std::vector<uint8_t> before, recorded, at_once; // the page before the frame and after it both ways
    std::vector<uint8_t> dirty;                     // the table after the recorded frame
    std::string problem;                            // empty when both pages agree and the marks cover
    [[nodiscard]] int marked_lines() const {
        return static_cast<int>(std::count(dirty.begin(), dirty.end(), 1));
    }
};

// recorded draws the frame on the recording mode; at_once draws the same frame once more, from copies of
// whatever the frame changes besides the screen. Afterwards the mode is as recorded left it.
inline FrameOutcome compare_frame(const std::function<void()>& recorded,
                                  const std::function<void()>& at_once) {
    ScreenContext& s = *gfx_screen();
    const std::size_t pitch = static_cast<std::size_t>(s.pitch);
    const std::size_t bytes = pitch * static_cast<std::size_t>(s.height);
    auto page = [&] { return std::vector<uint8_t>(s.visible_pixels, s.visible_pixels + bytes); };
    FrameOutcome out;
    // The table as the presenter would find it, each look under the lock as the presenter's pass.
    auto marks = [&s] {
        SharedLock held;
        return s.shared.in(held).dirty_lines.entries;
    };
    auto clear_marks = [&s] {
        SharedLock held;
        std::vector<uint8_t>& dirty = s.shared.in(held).dirty_lines.entries;
        std::fill(dirty.begin(), dirty.end(), uint8_t{0});
    };
    clear_marks();
    out.before = page();
    const DrawContext state_before = *gfx_draw_context();

    recorded();
    out.recorded = page();
    out.dirty = marks();
    const FrameRecord record_after = s.record;
    const DrawContext state_after = *gfx_draw_context();

    std::memcpy(s.visible_pixels, out.before.data(), bytes);
    *gfx_draw_context() = state_before;
    s.record.enabled = false;
    at_once();
    out.at_once = page();

    s.record = record_after;
    *gfx_draw_context() = state_after;
    std::memcpy(s.visible_pixels, out.recorded.data(), bytes);
    clear_marks();

    const bool same = out.recorded == out.at_once;
    for (std::size_t i = 0; !same && i < bytes && out.problem.empty(); ++i) {
        if (out.recorded[i] != out.at_once[i])
            out.problem = "recorded page differs from the frame drawn at once in line " +
                          std::to_string(i / pitch) + ", byte " + std::to_string(i % pitch);
    }
    for (std::size_t y = 0; y < static_cast<std::size_t>(s.height) && out.problem.empty(); ++y) {
        if (!out.dirty[y] && std::memcmp(&out.before[y * pitch], &out.recorded[y * pitch], pitch) != 0)
            out.problem = "line " + std::to_string(y) + " changed but is not marked";
    }
    return out;
}
