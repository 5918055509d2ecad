// The keysym and extended-key tables and the rules that turn their entries into scan codes and key codes.
#include "x11/keys.h"

namespace {

constexpr uint32_t KEYSYM_ESCAPE = 0xFF1B;
constexpr int32_t KEY_DELETE = 0x53FF;
// The DEL character that the Delete key's string lookup yields on most layouts.
constexpr uint8_t BYTE_DEL = 127;

constexpr int FIRST_EXTENDED_SCANCODE = 59;
constexpr int LAST_EXTENDED_SCANCODE = 83;
// Indexed by scan code - 59. Num Lock, Scroll Lock, keypad minus and keypad plus have no code.
// clang-format off
constexpr int32_t ExtendedKeyTable[LAST_EXTENDED_SCANCODE - FIRST_EXTENDED_SCANCODE + 1] = {
    0x3BFF, 0x3CFF, 0x3DFF, 0x3EFF, 0x3FFF, 0x40FF, 0x41FF, 0x42FF, 0x43FF, 0x44FF, // 59..68 F1..F10
    0,      0,                      // 69, 70 Num Lock, Scroll Lock
    0x47FF, 0x48FF, 0x49FF,         // 71..73 Home, Up, Page Up
    0,                              // 74 keypad minus
    0x4BFF, 0x4CFF, 0x4DFF,         // 75..77 Left, keypad centre, Right
    0,                              // 78 keypad plus
    0x4FFF, 0x50FF, 0x51FF,         // 79..81 End, Down, Page Down
    0x52FF, KEY_DELETE,             // 82, 83 Insert, Delete
};
// clang-format on

} // namespace

// Rows in keyboard order. The search takes the first match; no keysym has two different scan codes (grave
// has two equal rows), so the order decides nothing today but is kept as the keyboard lists it.
// clang-format off
const KeysymScancode KeysymScancodeTable[KEYSYM_TABLE_ROWS] = {
    {0xFFBE, 59}, {0xFFBF, 60}, {0xFFC0, 61}, {0xFFC1, 62}, {0xFFC2, 63},  // F1..F5
    {0xFFC3, 64}, {0xFFC4, 65}, {0xFFC5, 66}, {0xFFC6, 67}, {0xFFC7, 68},  // F6..F10
    {0xFFC8, 87}, {0xFFC9, 88},                                            // F11, F12
    {0xFF14, 70},                                                          // Scroll_Lock
    {0x60, 41},   {0x60, 41},   {0x7E, 41},                                // grave twice, asciitilde
    {0x31, 2},    {0x32, 3},    {0x33, 4},    {0x34, 5},    {0x35, 6},     // 1..5
    {0x36, 7},    {0x37, 8},    {0x38, 9},    {0x39, 10},   {0x30, 11},    // 6..9, 0
    {0x2D, 12},   {0x3D, 13},                                              // minus, equal
    {0x5C, 43},                                                            // backslash
    {0xFF08, 14}, {0xFF09, 15},                                            // BackSpace, Tab
    {'q', 16},    {'w', 17},    {'e', 18},    {'r', 19},    {'t', 20},     // q w e r t
    {'y', 21},    {'u', 22},    {'i', 23},    {'o', 24},    {'p', 25},     // y u i o p
    {0x5B, 26},   {0x5D, 27},                                              // bracketleft, bracketright
    {0xFF0D, SCANCODE_ENTER},                                                        // Return
    {0xFFE5, 58},                                                          // Caps_Lock
    {'a', 30},    {'s', 31},    {'d', 32},    {'f', 33},    {'g', 34},     // a s d f g
    {'h', 35},    {'j', 36},    {'k', 37},    {'l', 38},                   // h j k l
    {0x3B, 39},   {0x27, 40},                                              // semicolon, apostrophe
    {0xFFE1, 42},                                                          // Shift_L
    {'z', 44},    {'x', 45},    {'c', 46},    {'v', 47},    {'b', 48},     // z x c v b
    {'n', 49},    {'m', 50},                                               // n m
    {0x2C, 51},   {0x2E, 52},   {0x2F, 53},                                // comma, period, slash
    {0xFFE2, 54},                                                          // Shift_R
    {0xFFE3, 29},                                                          // Control_L
    {0xFFE7, 91},                                                          // Meta_L
    {0xFFE9, SCANCODE_ALT},                                                        // Alt_L
    {0x20, 57},                                                            // space
    {0xFFEA, SCANCODE_ALT},                                                        // Alt_R
    {0xFFE8, 92},                                                          // Meta_R
    {0xFF67, 93},                                                          // Menu
    {0xFFE4, 29},                                                          // Control_R
    {0xFF63, 82},                                                          // Insert
    {0xFF50, 71}, {0xFF55, 73},                                            // Home, Prior
    {0xFFFF, 83},                                                          // Delete
    {0xFF57, 79}, {0xFF56, 81},                                            // End, Next
    {0xFF52, 72}, {0xFF51, 75}, {0xFF54, 80}, {0xFF53, 77},                // Up, Left, Down, Right
    {0xFF7F, 69},                                                          // Num_Lock
    {0xFFAF, 53}, {0xFFAA, 55}, {0xFFAD, 12},  // KP_Divide, KP_Multiply, KP_Subtract (not 74)
    {0xFF95, 71}, {0xFF97, 72}, {0xFF9A, 73},                              // KP_Home, KP_Up, KP_Prior
    {0xFFAB, 78},                                                          // KP_Add
    {0xFF96, 75}, {0xFF9D, 76}, {0xFF98, 77},                              // KP_Left, KP_Begin, KP_Right
    {0xFF9C, 79}, {0xFF99, 80}, {0xFF9B, 81},                              // KP_End, KP_Down, KP_Next
    {0xFF8D, SCANCODE_ENTER},                                                        // KP_Enter
    {0xFF9E, 82}, {0xFF9F, 83},                                            // KP_Insert, KP_Delete
};
// clang-format on

uint8_t scancode_for_keysym(uint32_t keysym) {
    if (keysym == KEYSYM_ESCAPE) return 1;
    for (const KeysymScancode& row : KeysymScancodeTable)
        if (row.keysym == keysym) return row.scancode;
    return 0;
}

int32_t extended_key_code(int scancode) {
    if (scancode < FIRST_EXTENDED_SCANCODE || scancode > LAST_EXTENDED_SCANCODE) return 0;
    return ExtendedKeyTable[scancode - FIRST_EXTENDED_SCANCODE];
}

int32_t translate_key(std::span<const char> looked_up, int scancode) {
    if (looked_up.size() == 1) {
        const auto byte = static_cast<uint8_t>(looked_up[0]);
        return byte == BYTE_DEL ? KEY_DELETE : byte;
    }
    return extended_key_code(scancode);
}

ScancodeMap& scancode_map() {
    static ScancodeMap map;
    return map;
}

void build_scancode_map(ScancodeMap& map, int first_keycode, std::span<const uint32_t> first_keysyms) {
    for (std::size_t i = 0; i < first_keysyms.size(); ++i) {
        const int64_t keycode = static_cast<int64_t>(first_keycode) + static_cast<int64_t>(i);
        if (keycode < 0) continue;
        if (keycode > 255) break;
        // A keycode without a symbol keeps what an earlier mapping gave it.
        if (first_keysyms[i] == 0) continue;
        map.entries[keycode] = scancode_for_keysym(first_keysyms[i]);
    }
}
