// A private X server for tests and benchmarks: Xvfb, or any server that takes -displayfd, on a display number
// it picks itself, never the caller's DISPLAY.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct XvfbServer {
    pid_t pid = -1;
    int number = -1; // the display number the server chose
};

// Starts the server binary at the absolute path with the arguments and "-displayfd"; waits until it names its
// display, which it does once it accepts connections (at most 20 s). pid -1 when it could not be started.
[[nodiscard]] XvfbServer start_x_server(const std::string& path, const std::vector<std::string>& args);
// Starts Xvfb with a screen of the given geometry ("800x600x24") and extra arguments.
[[nodiscard]] XvfbServer start_xvfb(const std::string& geometry, const std::vector<std::string>& extra = {});
// Ends the server and waits for it.
void stop_xvfb(XvfbServer& server);
// ":N", or "127.0.0.1:N" for a server started with "-listen tcp" reached over TCP.
[[nodiscard]] std::string display_name(const XvfbServer& server, bool over_tcp = false);
