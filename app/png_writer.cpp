#include "app/png_writer.h"

#include <cerrno>
#include <cstring>
#include <png.h>
#include <vector>

// The C library's texts are English outside a German message locale; the usual causes are said here.
std::string describe_write_error(int code) {
    switch (code) {
    case ENOENT: return "das Verzeichnis existiert nicht";
    case EACCES:
    case EPERM: return "keine Schreibberechtigung";
    case EISDIR: return "der Name gehört zu einem Verzeichnis";
    case ENOTDIR: return "ein Teil des Pfades ist kein Verzeichnis";
    case ENOSPC: return "kein Platz mehr auf dem Datenträger";
    case EROFS: return "das Dateisystem ist schreibgeschützt";
    default: return std::string("Fehler ") + std::to_string(code) + " (" + std::strerror(code) + ")";
    }
}

std::string write_png(const std::string& path, const uint8_t* pixels, int width, int height, int pitch) {
    if (pixels == nullptr || width <= 0 || height <= 0 || pitch < width * 4) return "kein Bild vorhanden";
    // The simplified interface reports errors in its record instead of jumping out of C++ frames.
    std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    uint8_t* out = rgb.data();
    for (int y = 0; y < height; ++y) {
        const uint8_t* line = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(pitch);
        for (int x = 0; x < width; ++x) {
            uint32_t colour;
            std::memcpy(&colour, line + 4 * x, sizeof colour);
            *out++ = static_cast<uint8_t>(colour >> 16);
            *out++ = static_cast<uint8_t>(colour >> 8);
            *out++ = static_cast<uint8_t>(colour);
        }
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    errno = 0;
    if (png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), width * 3, nullptr)) return {};
    const int saved_errno = errno;
    std::string why =
        saved_errno != 0 ? describe_write_error(saved_errno) : "libpng: " + std::string(image.message);
    png_image_free(&image);
    return why;
}
