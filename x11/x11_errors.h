// What happens when the X server reports an error or goes away. Xlib's default handlers call exit() from
// whichever thread met the error, running static destructors under the other thread's feet; these end the
// process at once instead, after one German line that names the display.
#pragma once

#include <X11/Xlib.h>

void x11_install_error_handlers();
// The driver's own connection: its errors end the process, and its name is the one the messages use.
void x11_remember_display(Display* display);
void x11_forget_display(Display* display);

// Runs attach (an MIT-SHM attach request) and a round trip; false when the server refused it. Such a refusal
// is not fatal: the caller falls back to sending plain images.
[[nodiscard]] bool x11_try_shm_attach(Display* display, bool (*attach)(Display*, void*), void* argument);
