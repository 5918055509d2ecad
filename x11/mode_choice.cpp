#include "x11/mode_choice.h"

#include <algorithm>

int rounded_height(int height) {
    for (int h : {240, 480, 600, 768, 1024})
        if (h > height) return h;
    return height;
}

int choose_fullscreen_size(std::span<const DisplaySize> sizes, int width, int height) {
    int rounded = rounded_height(height);
    for (size_t i = 0; i < sizes.size(); ++i)
        if (sizes[i].width == width && (sizes[i].height == height || sizes[i].height == rounded))
            return static_cast<int>(i);
    return -1;
}

int choose_rate(std::span<const short> rates, int requested) {
    if (requested <= 0) return 0;
    return std::find(rates.begin(), rates.end(), requested) != rates.end() ? requested : 0;
}
