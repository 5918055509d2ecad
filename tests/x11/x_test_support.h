// What the window tests share to watch X from outside: polling with a deadline, the kernel's list of shared
// segments, grabs, windows found by name, pixels read back, a manager's ping, and xdotool; and the pattern
// the driver tests draw. A library of its own (velmora_x_test_support) that the window, display-mode and
// end-to-end tests link.
#pragma once

#include <X11/Xlib.h>

#include "gfx/screen.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <vector>

// How long eventually waits unless the caller names its own limit.
inline constexpr std::chrono::milliseconds EVENTUALLY_LIMIT = std::chrono::seconds(10);

// Polls until the condition holds or the limit passes; true when it held. The condition runs at least once,
// and once more after the limit has passed.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = EVENTUALLY_LIMIT);

// The permission bits of every shared segment the process created, from the kernel's own list; nothing
// when the list cannot be read (a caller that expects no segment must not take that for none).
std::optional<std::vector<int>> shm_segment_modes_of(pid_t pid);

// Which of pointer and keyboard another client holds: a grab of the observer's own is refused exactly then.
// Any grab the observer gets is released before the answer.
struct Grabs {
    bool pointer = false, keyboard = false;
    bool operator==(const Grabs&) const = default;
};
inline constexpr Grabs BOTH_GRABBED{true, true};
inline constexpr Grabs NONE_GRABBED{false, false};
std::ostream& operator<<(std::ostream& out, const Grabs& grabs);
Grabs grabs_held(Display* observer);

// An observer reads windows another client maps, reparents and unmaps; a read that meets a window at such a
// moment fails with BadWindow or BadMatch, which must cost one poll, not the test process. For
// XSetErrorHandler.
int observer_error(Display*, XErrorEvent*);

// The window's parent, 0 when the window is gone.
Window parent_of(Display* display, Window w);
// The window's only child, 0 when it has none or several (a frame's picture).
Window only_child_of(Display* display, Window w);
// The first window at or below w, depth first, whose name is the title; 0 when there is none. Finds a
// top-level window whatever a manager reparented it into.
Window find_named(Display* display, Window w, const char* name);
bool viewable(Display* display, Window w);
// One pixel without its alpha; 0xFFFFFFFF when the window cannot be read.
uint32_t pixel(Display* display, Window w, int x, int y);

// A window manager's _NET_WM_PING with the stamp, sent to the frame; true once the answer, the same message
// sent to the root window, is back within the limit. The observer's root then reports substructure events.
bool ping_answered(Display* observer, Window frame, long stamp, std::chrono::milliseconds limit);

// Runs /usr/bin/xdotool with the arguments (by path: the program's tests put only fake tools on PATH) and
// fails the test when it fails.
void xdotool(const std::string& arguments);

// A window manager started on DISPLAY (openbox and the like, given "--sm-disable"), running once it has
// reparented a window of the observer's; ended with the object.
struct WindowManagerProcess {
    WindowManagerProcess(const char* path, Display* observer);
    ~WindowManagerProcess();
    WindowManagerProcess(const WindowManagerProcess&) = delete;
    WindowManagerProcess& operator=(const WindowManagerProcess&) = delete;
    pid_t pid = -1;
    bool running = false;
};

// Fills the whole framebuffer under the screen lock with a pattern that differs per salt, and marks it all
// for presenting.
void draw_pattern(ScreenContext& screen, uint32_t salt);
