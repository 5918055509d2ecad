// What happens when the X server reports an error or goes away. Xlib's default handlers call exit() from
// whichever thread met the error, running static destructors under the other thread's feet; these end the
// process at once instead, after one German line that names the display, and first give the display back
// the mode full screen took from it (where the server answers within a moment) and end every tool that
// runs. A stop signal that is not obeyed in time puts the mode back the same way before its forced end.
#pragma once

#include <X11/Xlib.h>

#include <optional>

void x11_install_error_handlers();
// The driver's own connection: its errors end the process, and its name is the one the messages use.
void x11_remember_display(Display* display);
void x11_forget_display(Display* display);

// The RandR size index, rotation and rate a fatal error puts back; nothing once the mode has been restored.
struct SavedDisplayMode {
    int size;
    unsigned short rotation;
    short rate;
};
void x11_restore_on_fatal_error(std::optional<SavedDisplayMode> mode);

// Runs attach (an MIT-SHM attach request) and a round trip; false when the server refused it. Such a refusal
// is not fatal: the caller falls back to sending plain images.
[[nodiscard]] bool x11_try_shm_attach(Display* display, bool (*attach)(Display*, void*), void* argument);
