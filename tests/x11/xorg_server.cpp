#include "xorg_server.h"

#include <fstream>
#include <unistd.h>

namespace {

constexpr const char* XORG = "/usr/lib/xorg/Xorg";
constexpr const char* DUMMY_DRIVER = "/usr/lib/xorg/modules/drivers/dummy_drv.so";

// No input devices of its own: keys and pointer come from XTEST alone, and the machine's keyboard and mouse
// stay out of the tests.
constexpr const char* CONFIG = R"(Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoEnableDevices" "false"
EndSection
Section "Monitor"
    Identifier "Monitor0"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
    Modeline "1280x1024" 108.00 1280 1328 1440 1688 1024 1025 1028 1066 +hsync +vsync
    Modeline "1280x1024" 135.00 1280 1296 1440 1688 1024 1025 1028 1066 +hsync +vsync
    Modeline "800x600" 40.00 800 840 968 1056 600 601 605 628 +hsync +vsync
    Modeline "800x600" 50.00 800 856 976 1040 600 637 643 666 +hsync +vsync
    Modeline "800x200" 13.00 800 840 968 1056 200 201 205 210 +hsync +vsync
EndSection
Section "Device"
    Identifier "Card0"
    Driver "dummy"
    VideoRam 256000
EndSection
Section "Screen"
    Identifier "Screen0"
    Device "Card0"
    Monitor "Monitor0"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "1280x1024" "800x600" "800x200"
    EndSubSection
EndSection
)";

} // namespace

std::string xorg_unavailable() {
    if (geteuid() != 0) return "Xorg with the dummy driver needs root";
    if (access(XORG, X_OK) != 0) return std::string(XORG) + " is not installed (xserver-xorg-core)";
    if (access(DUMMY_DRIVER, R_OK) != 0)
        return std::string(DUMMY_DRIVER) + " is not installed (xserver-xorg-video-dummy)";
    return "";
}

XvfbServer start_xorg(const std::string& dir) {
    std::string config = dir + "/xorg.conf";
    std::ofstream(config) << CONFIG;
    // -sharevts and -novtswitch: the server stays off the console's active terminal.
    return start_x_server(XORG, {"-config", config, "-logfile", dir + "/Xorg.log", "-noreset", "-nolisten",
                                 "tcp", "-sharevts", "-novtswitch"});
}

std::string xorg_errors(const std::string& dir) {
    std::ifstream log(dir + "/Xorg.log");
    std::string errors;
    for (std::string line; std::getline(log, line);)
        if (line.find("(EE)") != std::string::npos) errors += line + "\n";
    return errors;
}
