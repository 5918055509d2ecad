// Driver selection, the null driver and the window-event ring.
#include "gfx/driver.h"

#include <cstdlib>
#include <strings.h>

namespace {

void null_lock() {}
void null_unlock() {}

// What the null driver's pointer query answers; there is no window, so a test decides.
struct NullPointer {
    bool valid = false;
    int x = 0, y = 0, wheel = 0, buttons = 0;
};
NullPointer null_pointer;

int null_query_pointer(int* x, int* y, int* wheel, int* buttons, int* confined) {
    if (!null_pointer.valid) return -1;
    *x = null_pointer.x, *y = null_pointer.y, *wheel = null_pointer.wheel, *buttons = null_pointer.buttons;
    *confined = 0;
    return 0;
}

// The drivers set-mode tries, in order, as the program installed them. The null driver is not tried: only
// KORVID or flags -1 choose it.
std::span<const DriverChoice> builtin_drivers;
std::span<const DriverChoice> installed_drivers;

bool same_name(const char* a, const char* b) {
    return a && b && strcasecmp(a, b) == 0;
}

// One driver, twice in a row: with the requested rate, then with rate 0. Every failed open is followed by
// close so the driver can release what it built halfway.
bool try_driver(const ScreenDriver& driver, const char* title, int width, int height, int depth,
                int refresh_rate, int flags) {
    if (!driver.open) return false;
    for (int rate : {refresh_rate, 0}) {
        if (driver.open(title, width, height, depth, rate, flags) == 0) return true;
        if (driver.close) driver.close();
    }
    return false;
}

} // namespace

const ScreenDriver null_driver = {
    .name = "Null",
    .open = nullptr,
    .close = nullptr,
    .lock = null_lock,
    .unlock = null_unlock,
    .set_palette_entry = nullptr,
    .wait_retrace = nullptr,
    .query_pointer = null_query_pointer,
    .set_pointer = nullptr,
    .set_caption = nullptr,
    .move_window = nullptr,
    .list_sizes = nullptr,
    .present = nullptr,
};

void null_driver_set_pointer(bool valid, int x, int y, int wheel, int buttons) {
    null_pointer = {valid, x, y, wheel, buttons};
}

std::span<const DriverChoice> gfx_drivers() {
    return installed_drivers.empty() ? builtin_drivers : installed_drivers;
}

void gfx_set_builtin_drivers(std::span<const DriverChoice> drivers) {
    builtin_drivers = drivers;
}

void gfx_use_drivers(std::span<const DriverChoice> drivers) {
    installed_drivers = drivers;
}

const ScreenDriver* gfx_select_driver(const char* title, int width, int height, int depth, int refresh_rate,
                                      int flags) {
    if (flags == -1 || gfx_null_driver_requested()) return &null_driver;
    const char* wanted = std::getenv("KORVID");
    if (wanted && *wanted == '\0') wanted = nullptr;

    // A sweep tries either only the named driver or every driver, with the flags or with full screen
    // toggled.
    struct Sweep {
        bool only_named;
        bool toggle_fullscreen;
    };
    static constexpr Sweep plain_sweeps[] = {{false, false}, {false, true}};
    static constexpr Sweep named_sweeps[] = {{true, false}, {false, false}, {true, true}, {false, true}};
    std::span<const Sweep> sweeps = wanted ? std::span<const Sweep>(named_sweeps) : plain_sweeps;

    for (const Sweep& sweep : sweeps) {
        int sweep_flags = sweep.toggle_fullscreen ? flags ^ SET_MODE_FULLSCREEN : flags;
        for (const DriverChoice& choice : gfx_drivers()) {
            if (!choice.driver) continue;
            if (sweep.only_named && !same_name(choice.driver->name, wanted)) continue;
            if (try_driver(*choice.driver, title, width, height, depth, refresh_rate, sweep_flags))
                return choice.driver;
        }
    }
    return nullptr;
}

bool gfx_null_driver_requested() {
    return same_name(std::getenv("KORVID"), "null");
}

int gfx_query_desktop(int* width, int* height, int* depth, int* refresh_rate) {
    for (const DriverChoice& choice : gfx_drivers()) {
        if (!choice.query_desktop) continue;
        int w = 0, h = 0, d = 0, rate = 0;
        if (choice.query_desktop(&w, &h, &d, &rate) == 0) {
            *width = w, *height = h, *depth = d, *refresh_rate = rate;
            return 0;
        }
    }
    *width = *height = *depth = *refresh_rate = 0;
    return -1;
}

void gfx_post_event(EventQueue& queue, const WindowEvent& event) {
    std::lock_guard<std::mutex> hold(queue.mutex);
    if (queue.write_pos - queue.read_pos == EVENT_QUEUE_SIZE) ++queue.read_pos;
    queue.slots[queue.write_pos % EVENT_QUEUE_SIZE] = event;
    ++queue.write_pos;
}

bool gfx_take_event(EventQueue& queue, WindowEvent& event) {
    std::lock_guard<std::mutex> hold(queue.mutex);
    if (queue.write_pos == queue.read_pos) return false;
    event = queue.slots[queue.read_pos % EVENT_QUEUE_SIZE];
    ++queue.read_pos;
    return true;
}
