// The framebuffer as a PNG, read back with libpng.
#include <gtest/gtest.h>

#include <vector>

#include "app/png_writer.h"
#include "tests/app/test_support.h"

namespace {

TEST(PngWriter, PixelsRoundTripWithoutPitchPadding) {
    TempDir dir;
    // 3 x 2 pixels in a framebuffer of 5 pixels per line: the padding must not reach the picture.
    const uint32_t frame[2][5] = {
        {0xFF102030, 0xFFFF0000, 0x00ABCDEF, 0xDEADBEEF, 0xDEADBEEF},
        {0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF, 0xDEADBEEF, 0xDEADBEEF},
    };
    const std::string path = dir.path() + "/small.png";
    ASSERT_EQ(write_png(path, reinterpret_cast<const uint8_t*>(frame), 3, 2, 5 * 4), "");
    const std::string bytes = read_file(path);
    ASSERT_GE(bytes.size(), 33u);
    EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(bytes.substr(12, 4), "IHDR");
    EXPECT_EQ(bytes.substr(16, 8), std::string("\0\0\0\3\0\0\0\2", 8));
    EXPECT_EQ(bytes[24], 8); // bits per channel
    EXPECT_EQ(bytes[25], 2); // colour type: RGB, no alpha
    const auto d = decode_png(path);
    ASSERT_TRUE(d);
    ASSERT_EQ(d->width, 3u);
    ASSERT_EQ(d->height, 2u);
    const std::vector<uint8_t> expected = {0x10, 0x20, 0x30, 0xFF, 0x00, 0x00, 0xAB, 0xCD, 0xEF,
                                           0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(d->rgb, expected);
}

TEST(PngWriter, RefusalsSayWhyInGerman) {
    TempDir dir;
    const uint32_t pixel = 0xFF000000;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&pixel);
    struct Case {
        std::string path;
        const uint8_t* pixels;
        int width, height, pitch;
        std::string why;
    };
    const Case cases[] = {
        {dir.path() + "/missing/x.png", bytes, 1, 1, 4, "das Verzeichnis existiert nicht"},
        {dir.path(), bytes, 1, 1, 4, "der Name gehört zu einem Verzeichnis"},
        {dir.path() + "/x.png", nullptr, 1, 1, 4, "kein Bild vorhanden"},
        {dir.path() + "/x.png", bytes, 0, 1, 4, "kein Bild vorhanden"},
        {dir.path() + "/x.png", bytes, 1, 0, 4, "kein Bild vorhanden"},
        {dir.path() + "/x.png", bytes, 2, 1, 4, "kein Bild vorhanden"}, // pitch shorter than a line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(write_png(c.path, c.pixels, c.width, c.height, c.pitch), c.why);
    }
}

} // namespace
