// A program that shows a known picture through the X11 driver until its window is closed, so that tests
// can watch it from outside: in another IPC namespace, killed, or losing its display.
//
// Prints "window=<drawing window> shm=<0|1>" once the picture is marked, then runs frames.
#include <cstdio>

#include "gfx/input.h"
#include "gfx/screen.h"
#include "rt/sleep.h"
#include "x11/x11_driver.h"

int main() {
    x11_install_driver();
    constexpr int width = 64, height = 40;
    gfx_set_mode(width, height, 32, 1, 0, 0);
    ScreenContext* screen = gfx_screen();
    if (!screen) {
        std::fprintf(stderr, "no mode\n");
        return 3;
    }
    gfx_lock();
    {
        const SharedLock held; // the presenter reads the page
        auto* pixels = reinterpret_cast<uint32_t*>(screen->visible_pixels);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                pixels[y * width + x] = 0xFF000000u | uint32_t(x * 4) << 16 | uint32_t(y * 6) << 8 | 0x5A;
    }
    gfx_unlock(ALL_LINES);
    std::printf("window=%lu shm=%d\n", x11_drawing_window(), x11_uses_shared_memory() ? 1 : 0);
    std::fflush(stdout);
    for (;;) {
        rt_sleep(5, 1);
        if (input_read_key() == "\xffk") break;
    }
    gfx_close_mode();
    return 0;
}
