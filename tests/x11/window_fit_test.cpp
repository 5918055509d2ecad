// The window's factor and fold, and the mapping between window and picture positions, on plain data.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "x11/window_fit.h"

namespace {

TEST(WindowScale, FromDpi) {
    struct Case {
        double dpi;
        int scale;
    };
    const Case cases[] = {{96, 1},  {120, 1}, {143.9, 1}, {144, 2},  {192, 2},     {239, 2},
                          {240, 3}, {288, 3}, {384, 4},   {1000, 4}, {1e300, 4},   {0, 1},
                          {-96, 1}, {NAN, 1}, {72, 1},    {1, 1},    {INFINITY, 4}};
    for (const Case& c : cases) EXPECT_EQ(scale_from_dpi(c.dpi), c.scale) << c.dpi;
}

TEST(WindowScale, OptionThenGdkScaleThenDpi) {
    struct Case {
        int option;
        const char* gdk;
        double dpi;
        int scale;
    };
    const Case cases[] = {
        {0, "", 96, 1},   {0, "", 192, 2}, {0, "2", 96, 2},  {0, "3", 192, 3}, {3, "2", 192, 3},
        {1, "", 240, 1},  {4, "", 0, 4},   {0, "0", 192, 2}, {0, "5", 96, 1},  {0, "2.5", 240, 3},
        {0, " 2", 96, 1}, {5, "", 192, 2}, {-1, "", 96, 1},  {0, "x", 0, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(choose_scale(c.option, c.gdk, c.dpi), c.scale)
            << c.option << " [" << c.gdk << "] " << c.dpi;
}

TEST(WindowScale, DpiFromTheResourceDatabase) {
    struct Case {
        const char* text;
        double dpi;
    };
    const Case cases[] = {
        {"Xft.dpi:\t192\n", 192},
        {"Xft.antialias:\t1\nXft.dpi:\t144\nXft.hinting:\t1\n", 144},
        {"Xft.dpi: 120.5", 120.5},
        {"  Xft.dpi :  240  \r\n", 240},
        {"Xft.dpi:\t96\nXft.dpi:\t192\n", 192}, // the later entry wins, as in the database
        {"", 0},
        {"Xft.dpix:\t192\n", 0},
        {"*dpi:\t192\n", 0},
        {"Xft.dpi:\tbig\n", 0},
        {"Xft.dpi:\t192 dpi\n", 0},
        {"Xft.dpi:\n", 0},
        {"Xft.dpi:\t1e999\n", 0},
        {"xterm*Xft.dpi:\t192\n", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(dpi_from_resources(c.text), c.dpi) << c.text;
}

std::string shape(const WindowFit& f) {
    return std::to_string(f.scale) + "x " + std::to_string(f.columns) + "c" + std::to_string(f.rows) + "r " +
           std::to_string(f.width()) + "x" + std::to_string(f.height());
}

TEST(WindowFold, FromCountFactorAndWorkArea) {
    struct Case {
        int servers, scale;
        bool forced;
        WorkArea area;
        const char* shape;
    };
    const Case cases[] = {
        {6, 1, false, {1920, 1080}, "1x 2c3r 1600x600"}, // the common desktop
        {6, 1, false, {1920, 1050}, "1x 2c3r 1600x600"}, // a panel's work area
        {6, 1, false, {1280, 1300}, "1x 1c6r 800x1200"}, // tall enough: as it was
        {6, 1, false, {1600, 1600}, "1x 1c6r 800x1200"},
        {5, 1, false, {1920, 1080}, "1x 1c5r 800x1000"},
        {4, 1, false, {1366, 768}, "1x 1c4r 800x800"}, // two columns are too wide: as it was
        {4, 1, false, {1600, 768}, "1x 2c2r 1600x400"},
        {6, 1, false, {2400, 400}, "1x 3c2r 2400x400"},
        {6, 1, false, {4800, 200}, "1x 6c1r 4800x200"},
        {5, 1, false, {2400, 400}, "1x 3c2r 2400x400"},
        {1, 2, false, {3840, 2160}, "2x 1c1r 1600x400"},
        {6, 2, false, {3840, 2160}, "2x 2c3r 3200x1200"},
        {3, 2, false, {3840, 2160}, "2x 1c3r 1600x1200"},
        {6, 3, false, {3840, 2160}, "2x 2c3r 3200x1200"}, // 4800 too wide: the factor steps down
        {6, 3, true, {3840, 2160}, "3x 1c6r 2400x3600"},  // unless forced: then one column as it was
        {1, 2, false, {1366, 768}, "1x 1c1r 800x200"},
        {1, 2, true, {1366, 768}, "2x 1c1r 1600x400"}, // the option's factor stays
        {6, 2, true, {1920, 1080}, "2x 1c6r 1600x2400"},
        {6, 1, false, {700, 1080}, "1x 1c6r 800x1200"},
        {6, 1, false, {0, 0}, "1x 1c6r 800x1200"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.servers) + " servers at " + std::to_string(c.scale) + " in " +
                     std::to_string(c.area.width) + "x" + std::to_string(c.area.height));
        WindowFit f = fit_window(800, 200 * c.servers, 200, c.scale, c.forced, c.area);
        EXPECT_EQ(shape(f), c.shape);
        EXPECT_EQ(f.bands, c.servers);
    }
}

TEST(WindowFold, APictureNotMadeOfBandsIsNeverFolded) {
    EXPECT_EQ(shape(fit_window(800, 1200, 0, 1, false, {1920, 1080})), "1x 1c1r 800x1200");
    EXPECT_EQ(shape(fit_window(800, 1100, 200, 1, false, {1920, 1080})), "1x 1c1r 800x1100");
    EXPECT_EQ(shape(fit_window(800, 1200, 0, 2, false, {3840, 2400})), "2x 1c1r 1600x2400");
    EXPECT_TRUE(fit_window(800, 600, 200, 1, false, {1920, 1080}).is_identity());
}

// Every corner of every panel, both ways, in each layout the fold makes.
TEST(WindowPoints, EveryPanelCornerBothWays) {
    struct Layout {
        int servers, scale;
        WorkArea area;
    };
    const Layout layouts[] = {{6, 1, {1920, 1080}}, {6, 2, {3840, 2160}}, {1, 2, {3840, 2160}},
                              {5, 1, {2400, 400}},  {6, 1, {1600, 1600}}, {4, 3, {4800, 1200}}};
    for (const Layout& l : layouts) {
        WindowFit f = fit_window(800, 200 * l.servers, 200, l.scale, true, l.area);
        for (int panel = 0; panel < l.servers; ++panel) {
            int column = panel / f.rows, row = panel % f.rows;
            for (int cx : {0, 799})
                for (int cy : {0, 199}) {
                    SCOPED_TRACE(shape(f) + " panel " + std::to_string(panel) + " corner " +
                                 std::to_string(cx) + "," + std::to_string(cy));
                    int py = 200 * panel + cy;
                    FitPoint window = {(800 * column + cx) * f.scale, (200 * row + cy) * f.scale, true};
                    EXPECT_EQ(picture_to_window(f, cx, py), window);
                    // Every window pixel of the block shows the same picture pixel.
                    for (int dx : {0, f.scale - 1})
                        for (int dy : {0, f.scale - 1})
                            EXPECT_EQ(window_to_picture(f, window.x + dx, window.y + dy),
                                      (FitPoint{cx, py, true}));
                }
        }
    }
}

TEST(WindowPoints, OffThePanels) {
    WindowFit folded = fit_window(800, 1000, 200, 1, false, {2400, 400}); // 3 columns, the last half empty
    ASSERT_EQ(shape(folded), "1x 3c2r 2400x400");
    EXPECT_EQ(window_to_picture(folded, 1600, 200), (FitPoint{-1, -1, false})); // the empty sixth place
    EXPECT_EQ(window_to_picture(folded, 2399, 399), (FitPoint{-1, -1, false}));
    EXPECT_EQ(window_to_picture(folded, 2399, 199), (FitPoint{799, 999, true})); // the fifth panel
    EXPECT_EQ(window_to_picture(folded, -1, 10), (FitPoint{-1, -1, false}));
    EXPECT_EQ(window_to_picture(folded, 2400, 10), (FitPoint{-1, -1, false}));
    EXPECT_EQ(window_to_picture(folded, 10, 400), (FitPoint{-1, -1, false}));
    // One column passes what lies off the window on, divided back: as the window always reported it.
    WindowFit plain = fit_window(800, 400, 200, 1, false, {1920, 1080});
    EXPECT_EQ(window_to_picture(plain, -5, 450), (FitPoint{-5, 450, false}));
    EXPECT_EQ(window_to_picture(plain, 800, 0), (FitPoint{800, 0, false}));
    WindowFit scaled = fit_window(800, 200, 200, 2, true, {3840, 2160});
    EXPECT_EQ(window_to_picture(scaled, -1, -2), (FitPoint{-1, -1, false}));
    EXPECT_EQ(window_to_picture(scaled, 1600, 399), (FitPoint{800, 199, false}));
    EXPECT_FALSE(picture_to_window(scaled, 800, 0).inside);
    EXPECT_FALSE(picture_to_window(scaled, 0, 200).inside);
}

TEST(WindowLines, EveryPixelRepeatedByTheFactor) {
    for (int bytes : {1, 2, 3, 4})
        for (int factor = 1; factor <= 4; ++factor) {
            SCOPED_TRACE(std::to_string(bytes) + " bytes, factor " + std::to_string(factor));
            std::vector<uint8_t> source(static_cast<size_t>(3 * bytes));
            for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i + 1);
            std::vector<uint8_t> target(source.size() * static_cast<size_t>(factor) + 1, 0xEE);
            scale_line(source.data(), 3, bytes, factor, target.data());
            for (int pixel = 0; pixel < 3 * factor; ++pixel)
                for (int b = 0; b < bytes; ++b)
                    EXPECT_EQ(target[static_cast<size_t>(pixel * bytes + b)],
                              (pixel / factor) * bytes + b + 1);
            EXPECT_EQ(target.back(), 0xEE); // nothing written past the line
        }
}

} // namespace
