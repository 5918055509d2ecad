#include "x11/window_fit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {

int floor_div(int value, int divisor) {
    int quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (is_blank(text.front()) || text.front() == '\r')) text.remove_prefix(1);
    while (!text.empty() && (is_blank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

} // namespace

int scale_from_dpi(double dpi) {
    if (!(dpi > 0)) return MIN_SCALE;
    // Halves up: the usual settings 144 and 240 dpi are meant as factors 2 and 3.
    double steps = std::floor(std::min(dpi, 1e6) / BASE_DPI + 0.5);
    return std::clamp(static_cast<int>(steps), MIN_SCALE, MAX_SCALE);
}

int parse_scale(std::string_view text) {
    if (text.size() != 1 || text[0] < '0' + MIN_SCALE || text[0] > '0' + MAX_SCALE) return 0;
    return text[0] - '0';
}

double dpi_from_resources(std::string_view resources) {
    constexpr std::string_view NAME = "Xft.dpi";
    double found = 0;
    while (!resources.empty()) {
        size_t end = resources.find('\n');
        std::string_view line = trimmed(resources.substr(0, end));
        resources.remove_prefix(end == std::string_view::npos ? resources.size() : end + 1);
        if (!line.starts_with(NAME)) continue;
        line = trimmed(line.substr(NAME.size()));
        if (line.empty() || line.front() != ':') continue;
        line = trimmed(line.substr(1));
        double value = 0;
        auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), value);
        // The database keeps the last of two entries of one name.
        found =
            (error == std::errc() && rest == line.data() + line.size() && std::isfinite(value)) ? value : 0;
    }
    return found;
}

int choose_scale(int option, std::string_view gdk_scale, double dpi) {
    if (option >= MIN_SCALE && option <= MAX_SCALE) return option;
    if (int gdk = parse_scale(gdk_scale)) return gdk;
    return scale_from_dpi(dpi);
}

WindowFit identity_fit(int picture_width, int picture_height) {
    WindowFit fit;
    fit.band_width = picture_width;
    fit.band_height = picture_height;
    return fit;
}

WindowFit fit_window(int picture_width, int picture_height, int band_height, int scale, bool scale_forced,
                     WorkArea area) {
    WindowFit fit = identity_fit(picture_width, picture_height);
    if (picture_width <= 0 || picture_height <= 0) return fit;
    if (band_height > 0 && picture_height % band_height == 0) {
        fit.bands = picture_height / band_height;
        fit.band_height = band_height;
    }
    scale = std::clamp(scale, MIN_SCALE, MAX_SCALE);
    for (int s = scale; s >= (scale_forced ? scale : MIN_SCALE); --s) {
        int last_rows = 0;
        for (int columns = 1; columns <= fit.bands; ++columns) {
            int rows = (fit.bands + columns - 1) / columns;
            if (rows == last_rows) continue; // one more column and no row less
            last_rows = rows;
            // In 64 bits: a picture and a factor this large cannot overflow the comparison.
            if (int64_t{columns} * fit.band_width * s <= area.width &&
                int64_t{rows} * fit.band_height * s <= area.height) {
                fit.scale = s;
                fit.columns = columns;
                fit.rows = rows;
                return fit;
            }
        }
    }
    fit.rows = fit.bands;
    if (scale_forced) fit.scale = scale;
    return fit;
}

FitPoint window_to_picture(const WindowFit& fit, int window_x, int window_y) {
    int x = floor_div(window_x, fit.scale), y = floor_div(window_y, fit.scale);
    int picture_height = fit.bands * fit.band_height;
    if (fit.columns == 1) return {x, y, x >= 0 && x < fit.band_width && y >= 0 && y < picture_height};
    if (x < 0 || y < 0 || x >= fit.columns * fit.band_width || y >= fit.rows * fit.band_height)
        return {-1, -1, false};
    int band = (x / fit.band_width) * fit.rows + y / fit.band_height;
    if (band >= fit.bands) return {-1, -1, false};
    return {x % fit.band_width, band * fit.band_height + y % fit.band_height, true};
}

FitPoint picture_to_window(const WindowFit& fit, int picture_x, int picture_y) {
    if (picture_x < 0 || picture_y < 0 || picture_x >= fit.band_width ||
        picture_y >= fit.bands * fit.band_height)
        return {picture_x * fit.scale, picture_y * fit.scale, false};
    int band = picture_y / fit.band_height;
    int column = band / fit.rows, row = band % fit.rows;
    return {(column * fit.band_width + picture_x) * fit.scale,
            (row * fit.band_height + picture_y % fit.band_height) * fit.scale, true};
}

void scale_line(const uint8_t* source, int pixels, int bytes_per_pixel, int factor, uint8_t* target) {
    if (bytes_per_pixel == 4 && factor == 2) {
        // The common dense screen, kept to plain word copies.
        for (int i = 0; i < pixels; ++i, source += 4, target += 8) {
            std::memcpy(target, source, 4);
            std::memcpy(target + 4, source, 4);
        }
        return;
    }
    for (int i = 0; i < pixels; ++i, source += bytes_per_pixel)
        for (int k = 0; k < factor; ++k, target += bytes_per_pixel)
            std::memcpy(target, source, bytes_per_pixel);
}
