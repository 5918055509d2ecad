// The key queue and the pointer query, as the dashboard polls them.
#include "gfx/input.h"

#include <utility>

#include "gfx/screen.h"
#include "rt/result.h"
#include "rt/runtime.h"

namespace {

void store(int64_t* out, int value) {
    if (out) *out = value;
}

} // namespace

Guarded<KeyQueue>& key_queue() {
    static Guarded<KeyQueue> queue;
    return queue;
}

void post_key(KeyQueue& queue, int32_t code) {
    queue.slots[queue.write_pos] = code;
    queue.write_pos = static_cast<uint8_t>((queue.write_pos + 1) % KEY_QUEUE_SLOTS);
    // Full: the oldest code makes room.
    if (queue.write_pos == queue.read_pos)
        queue.read_pos = static_cast<uint8_t>((queue.read_pos + 1) % KEY_QUEUE_SLOTS);
    queue.key_posted = true;
    if (code == KEY_WINDOW_CLOSE) queue.close_requested = true;
}

int32_t next_key(KeyQueue& queue) {
    int32_t code = 0;
    if (queue.read_pos != queue.write_pos) {
        code = queue.slots[queue.read_pos];
        queue.read_pos = static_cast<uint8_t>((queue.read_pos + 1) % KEY_QUEUE_SLOTS);
    }
    queue.key_posted = false;
    return code;
}

void post_key(const DriverHeld& held, int32_t code) {
    post_key(key_queue().in(held), code);
    // A close request ends the tool the frame waits for, just as a stop signal does; after the queue, so
    // that the frame that sees the request also sees the code.
    if (code == KEY_WINDOW_CLOSE) rt_request_stop();
}

int32_t next_key() {
    SharedLock held;
    return next_key(key_queue().in(held));
}

bool input_take_close_request() {
    if (!gfx_screen()) return false;
    SharedLock held;
    return std::exchange(key_queue().in(held).close_requested, false);
}

std::string input_read_key() {
    // Without a mode the keys would come from the text console, which this program does not read.
    if (!gfx_screen()) return {};
    const int32_t code = next_key();
    if (code <= 0) return {};
    if (code <= 255) return std::string(1, static_cast<char>(code));
    return {static_cast<char>(code & 0xFF), static_cast<char>((code >> 8) & 0xFF)};
}

void input_get_mouse(int64_t* x, int64_t* y, int64_t* wheel, int64_t* buttons, int64_t* confined) {
    int px = -1, py = -1, pwheel = -1, pbuttons = -1, pconfined = -1;
    int result = -1;
    if (ScreenContext* screen = gfx_screen()) {
        if (screen->driver && screen->driver->query_pointer)
            result = screen->driver->query_pointer(&px, &py, &pwheel, &pbuttons, &pconfined);
    }
    if (result != 0) px = py = pwheel = pbuttons = pconfined = -1;
    store(x, px), store(y, py), store(wheel, pwheel), store(buttons, pbuttons), store(confined, pconfined);
    rt_set_error(result == 0 ? RT_OK : RT_NOT_ALLOWED);
}

bool input_take_key_posted() {
    SharedLock held;
    return std::exchange(key_queue().in(held).key_posted, false);
}
