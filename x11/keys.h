// X key events to PC scan codes and key codes: the tables and the rules, over plain keysym and byte data so
// that they are tested without a display. The Xlib-facing wrappers live with the driver.
#pragma once

#include <cstdint>
#include <span>

// The scan codes the driver itself looks at: Alt+Enter switches to full screen.
inline constexpr uint8_t SCANCODE_ENTER = 28;
inline constexpr uint8_t SCANCODE_ALT = 56;

struct KeysymScancode {
    uint32_t keysym;
    uint8_t scancode;
};
inline constexpr int KEYSYM_TABLE_ROWS = 103;
// US PC keyboard: the keysym of a key's first column to its set-1 make code; first match wins.
extern const KeysymScancode KeysymScancodeTable[KEYSYM_TABLE_ROWS];

// Escape gives 1 (it is not in the table), then the first table row, else 0.
[[nodiscard]] uint8_t scancode_for_keysym(uint32_t keysym);

// Key code of the extended keys, scan codes 59..83; 0 for every other scan code and for keys without one.
[[nodiscard]] int32_t extended_key_code(int scancode);

// The key code of a key event: looked_up is what the string lookup of the event yielded; exactly one byte
// is that byte (127 becomes the Delete key's 0x53FF), anything else falls back to the extended table.
[[nodiscard]] int32_t translate_key(std::span<const char> looked_up, int scancode);

// X keycode to scan code; entries of keycodes without a keysym keep their previous value.
struct ScancodeMap {
    uint8_t entries[256] = {};
};
[[nodiscard]] ScancodeMap& scancode_map(); // the process-wide map

// Updates map for keycodes first_keycode .. first_keycode + first_keysyms.size() - 1 (clamped to 0..255)
// from the first keysym of each keycode; keysym 0 leaves the entry as it is.
void build_scancode_map(ScancodeMap& map, int first_keycode, std::span<const uint32_t> first_keysyms);
