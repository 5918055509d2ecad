// The X11 screen driver: an X11 window showing the framebuffer, refreshed by a presenter thread of its own
// that also turns the window's events into pointer state, key codes and window events.
#pragma once

#include "gfx/driver.h"

extern const ScreenDriver x11_driver;

// Desktop size, depth and refresh rate from a display connection of its own; -1 without a display.
int x11_query_desktop(int* width, int* height, int* depth, int* refresh_rate);

// Makes the X11 driver the first the selection tries and prepares Xlib for two threads. Call once at start,
// before anything else talks to X and before any tool runs: it also takes the launcher's
// DESKTOP_STARTUP_ID out of the environment, so that no tool inherits it, and keeps it for the first
// window that maps, which ends the launch.
void x11_install_driver();

// How the next windows show their picture: scale 1 to 4 forces that factor, 0 takes the desktop's own
// (GDK_SCALE, else the Xft.dpi resource, 96 dpi a factor of 1); a picture made of bands band_height high
// may have them folded into columns where the screen is too short for it (0: never folded).
void x11_set_window_fit(int scale, int band_height);

// Why the last open failed (German, for the user), or "" after one that succeeded.
[[nodiscard]] const char* x11_open_failure();

// What the open window uses, for tests and diagnostics: true when the picture travels through MIT-SHM.
[[nodiscard]] bool x11_uses_shared_memory();
// The window that receives the picture, 0 when none is open.
[[nodiscard]] unsigned long x11_drawing_window();
[[nodiscard]] unsigned long x11_frame_window();
