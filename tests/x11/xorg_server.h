// Xorg with the dummy video driver: unlike Xvfb it lists several screen sizes, so RandR switches are real.
// The display starts at 1280x1024 at 75 Hz; among its other sizes are 1280x1024 at 60 Hz, 800x600 at 72 and
// 60 Hz, and 800x200, so that a restore that loses the rate shows.
#pragma once

#include <string>

#include "xvfb_server.h"

// Why Xorg cannot be started here, or "" when it can: it needs root, the server and the dummy driver.
[[nodiscard]] std::string xorg_unavailable();
// Writes the configuration into dir, which the caller owns, and starts Xorg with its log there.
[[nodiscard]] XvfbServer start_xorg(const std::string& dir);
// The error lines of the log in dir, for a message when the server did not come up.
[[nodiscard]] std::string xorg_errors(const std::string& dir);
