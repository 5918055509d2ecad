// Keys and pointer as the dashboard polls them while a mode is open, through the driver interface; the
// driver's presenter posts the keys.
//
// The KeyQueue is shared with the presenter thread, behind the driver lock: the presenter posts under its own
// hold of that lock, the readers here take it as a SharedLock. Nothing else here is thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "gfx/guarded.h"

// Key codes: 0 none, 1..255 one character byte, above 255 an extended key whose low byte is 255 and whose
// second byte names the key.
inline constexpr int32_t KEY_WINDOW_CLOSE = 0x6BFF; // reads back as byte 255, "k"

inline constexpr int KEY_QUEUE_SLOTS = 16;
// A ring that holds at most KEY_QUEUE_SLOTS - 1 codes: equal positions mean empty.
struct KeyQueue {
    int32_t slots[KEY_QUEUE_SLOTS] = {};
    uint8_t write_pos = 0;
    uint8_t read_pos = 0;
    bool key_posted = false; // set by every post; cleared by next_key and the key-interruptible sleep
    // Set by posting KEY_WINDOW_CLOSE, cleared only by taking it: the ring drops its oldest code when full,
    // and a close request must not be among what is lost.
    bool close_requested = false;
};

// The process-wide queue; empty at start, never cleared by opening or closing a mode.
[[nodiscard]] Guarded<KeyQueue>& key_queue();

// Pure queue steps on any queue.
void post_key(KeyQueue& queue, int32_t code);
[[nodiscard]] int32_t next_key(KeyQueue& queue);

// The process-wide steps: post_key by a holder of the driver lock (the presenter, for its pass); next_key
// takes the lock itself. Posting KEY_WINDOW_CLOSE also requests a stop (rt_request_stop).
void post_key(const DriverHeld& held, int32_t code);
[[nodiscard]] int32_t next_key();

// True once the window's close button was used since the last call, whatever became of the close code in
// the ring.
[[nodiscard]] bool input_take_close_request();

// One key as text: empty, one byte, or byte 255 followed by the extended key's second byte.
[[nodiscard]] std::string input_read_key();

// Pointer in picture coordinates through the driver's query_pointer (which takes its lock); buttons 1 left,
// 2 right, 4 middle. All five -1 and runtime error 1 while the pointer is outside or the window lacks focus.
void input_get_mouse(int64_t* x, int64_t* y, int64_t* wheel, int64_t* buttons, int64_t* confined);

// Reads and clears key_posted under the driver lock: how a key-interruptible sleep learns of keys while a
// mode is open.
[[nodiscard]] bool input_take_key_posted();
