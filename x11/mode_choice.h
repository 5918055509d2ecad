// Which display size full screen switches to: a pure choice over the sizes and rates the server lists, kept
// apart from the calls that apply it.
#pragma once

#include <span>

struct DisplaySize {
    int width, height;
};

// The first of 240, 480, 600, 768, 1024 above the height; from 1024 on the height itself.
[[nodiscard]] int rounded_height(int height);

// Index of the first listed size as wide as the mode and either as high as the mode or as high as its
// rounded height (an 800 x 600 mode takes 800 x 768 when the server lists it first); -1 when none is.
[[nodiscard]] int choose_fullscreen_size(std::span<const DisplaySize> sizes, int width, int height);

// The requested rate when the chosen size offers it, else 0 (switch without naming a rate).
[[nodiscard]] int choose_rate(std::span<const short> rates, int requested);
