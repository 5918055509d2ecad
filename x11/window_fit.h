// How the window shows the picture on the screen it is on: a whole scale factor for dense screens, and the
// picture's bands (one per panel) folded into columns where the screen is too short for them stacked. The
// picture itself, and every position the application sees, stays as it is; these pure functions say where
// each picture pixel lands in the window and where each window pixel came from.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr int MIN_SCALE = 1;
inline constexpr int MAX_SCALE = 4;
// The dots per inch at which one picture pixel is one window pixel.
inline constexpr double BASE_DPI = 96.0;

// dpi / 96 to the nearest whole number, halves up, within 1..4: 96 and 120 give 1, 144 and 192 give 2, 240
// and 288 give 3, 336 and more 4.
// No reading (0, negative, not a number) gives 1.
[[nodiscard]] int scale_from_dpi(double dpi);
// A whole factor written as the digits 1 to 4 and nothing else; 0 for any other text.
[[nodiscard]] int parse_scale(std::string_view text);
// The value of the Xft.dpi line of a resource database's text ("Xft.dpi:\t192"); 0 when there is none or
// it is no number.
[[nodiscard]] double dpi_from_resources(std::string_view resources);
// The factor: the program's option (1..4) when given, else GDK_SCALE when it names one, else the dpi's.
[[nodiscard]] int choose_scale(int option, std::string_view gdk_scale, double dpi);

// The room the desktop leaves for windows.
struct WorkArea {
    int width = 0, height = 0;
};

struct WindowFit {
    int scale = 1;
    int columns = 1, rows = 1; // rows of bands in each column
    int bands = 1;             // picture bands, filled top to bottom, then left to right
    int band_width = 0, band_height = 0;
    [[nodiscard]] int width() const { return columns * band_width * scale; }
    [[nodiscard]] int height() const { return rows * band_height * scale; }
    [[nodiscard]] bool is_identity() const { return scale == 1 && columns == 1; }
    bool operator==(const WindowFit&) const = default;
};

// The picture unchanged: one column at factor 1.
[[nodiscard]] WindowFit identity_fit(int picture_width, int picture_height);

// The window for a picture of bands band_height high (0: the picture is one band) at the factor: one
// column where it fits the area, else the fewest columns that fit. Where nothing fits at the factor, a
// factor the desktop suggested (not forced) is lowered step by step; where nothing fits even at 1, the
// picture is shown as it is at factor 1, or at the forced factor in one column.
[[nodiscard]] WindowFit fit_window(int picture_width, int picture_height, int band_height, int scale,
                                   bool scale_forced, WorkArea area);

struct FitPoint {
    int x = 0, y = 0;
    bool inside = false; // the point lies on a band of the picture
    bool operator==(const FitPoint&) const = default;
};
// The picture position a window position shows. Off the window the position is divided back all the same
// (so factor 1 without a fold passes positions unchanged); a place of the window that shows no band (the
// empty end of the last column) gives (-1, -1), which hits nothing.
[[nodiscard]] FitPoint window_to_picture(const WindowFit& fit, int window_x, int window_y);
// The top-left window pixel of the block that shows the picture pixel; inside false off the picture.
[[nodiscard]] FitPoint picture_to_window(const WindowFit& fit, int picture_x, int picture_y);

// One converted line widened by the factor: every pixel (bytes_per_pixel bytes) repeated factor times.
void scale_line(const uint8_t* source, int pixels, int bytes_per_pixel, int factor, uint8_t* target);
