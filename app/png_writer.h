// The framebuffer as a PNG file.
#pragma once

#include <cstdint>
#include <string>

// Writes width x height pixels of 32-bit 0xAARRGGBB (pitch bytes per line) as an 8-bit RGB PNG; the alpha
// byte is dropped, every colour of the dashboard being opaque. Empty on success, else why not (German).
[[nodiscard]] std::string write_png(const std::string& path, const uint8_t* pixels, int width, int height,
                                    int pitch);

// Why a file cannot be written, for an errno value (German): also for a path refused before anything is
// written.
[[nodiscard]] std::string describe_write_error(int code);
