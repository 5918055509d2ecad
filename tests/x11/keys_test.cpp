// The keysym and extended-key tables walked row by row, the translation rules and the scan-code map.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "x11/keys.h"

namespace {

// The table as the keyboard lays it out, group by group; each group must sit in the table in this order.
struct Group {
    const char* name;
    std::vector<KeysymScancode> rows;
};
const std::vector<Group>& groups() {
    static const std::vector<Group> g = {
        {"F1..F10",
         {{0xFFBE, 59},
          {0xFFBF, 60},
          {0xFFC0, 61},
          {0xFFC1, 62},
          {0xFFC2, 63},
          {0xFFC3, 64},
          {0xFFC4, 65},
          {0xFFC5, 66},
          {0xFFC6, 67},
          {0xFFC7, 68}}},
        {"F11 F12", {{0xFFC8, 87}, {0xFFC9, 88}}},
        {"Scroll_Lock", {{0xFF14, 70}}},
        {"grave twice, asciitilde", {{0x60, 41}, {0x60, 41}, {0x7E, 41}}},
        {"digits",
         {{0x31, 2},
          {0x32, 3},
          {0x33, 4},
          {0x34, 5},
          {0x35, 6},
          {0x36, 7},
          {0x37, 8},
          {0x38, 9},
          {0x39, 10},
          {0x30, 11}}},
        {"minus equal", {{0x2D, 12}, {0x3D, 13}}},
        {"backslash", {{0x5C, 43}}},
        {"BackSpace Tab", {{0xFF08, 14}, {0xFF09, 15}}},
        {"qwertyuiop",
         {{0x71, 16},
          {0x77, 17},
          {0x65, 18},
          {0x72, 19},
          {0x74, 20},
          {0x79, 21},
          {0x75, 22},
          {0x69, 23},
          {0x6F, 24},
          {0x70, 25}}},
        {"brackets", {{0x5B, 26}, {0x5D, 27}}},
        {"Return", {{0xFF0D, 28}}},
        {"Caps_Lock", {{0xFFE5, 58}}},
        {"asdfghjkl",
         {{0x61, 30},
          {0x73, 31},
          {0x64, 32},
          {0x66, 33},
          {0x67, 34},
          {0x68, 35},
          {0x6A, 36},
          {0x6B, 37},
          {0x6C, 38}}},
        {"semicolon apostrophe", {{0x3B, 39}, {0x27, 40}}},
        {"Shift_L", {{0xFFE1, 42}}},
        {"zxcvbnm", {{0x7A, 44}, {0x78, 45}, {0x63, 46}, {0x76, 47}, {0x62, 48}, {0x6E, 49}, {0x6D, 50}}},
        {"comma period slash", {{0x2C, 51}, {0x2E, 52}, {0x2F, 53}}},
        {"Shift_R", {{0xFFE2, 54}}},
        {"Control_L", {{0xFFE3, 29}}},
        {"Meta_L", {{0xFFE7, 91}}},
        {"Alt_L", {{0xFFE9, 56}}},
        {"space", {{0x20, 57}}},
        {"Alt_R", {{0xFFEA, 56}}},
        {"Meta_R", {{0xFFE8, 92}}},
        {"Menu", {{0xFF67, 93}}},
        {"Control_R", {{0xFFE4, 29}}},
        {"Insert", {{0xFF63, 82}}},
        {"Home Prior", {{0xFF50, 71}, {0xFF55, 73}}},
        {"Delete", {{0xFFFF, 83}}},
        {"End Next", {{0xFF57, 79}, {0xFF56, 81}}},
        {"arrows", {{0xFF52, 72}, {0xFF51, 75}, {0xFF54, 80}, {0xFF53, 77}}},
        {"Num_Lock", {{0xFF7F, 69}}},
        {"KP_Divide KP_Multiply KP_Subtract", {{0xFFAF, 53}, {0xFFAA, 55}, {0xFFAD, 12}}},
        {"KP_Home KP_Up KP_Prior", {{0xFF95, 71}, {0xFF97, 72}, {0xFF9A, 73}}},
        {"KP_Add", {{0xFFAB, 78}}},
        {"KP_Left KP_Begin KP_Right", {{0xFF96, 75}, {0xFF9D, 76}, {0xFF98, 77}}},
        {"KP_End KP_Down KP_Next", {{0xFF9C, 79}, {0xFF99, 80}, {0xFF9B, 81}}},
        {"KP_Enter", {{0xFF8D, 28}}},
        {"KP_Insert KP_Delete", {{0xFF9E, 82}, {0xFF9F, 83}}},
    };
    return g;
}

TEST(KeysymTable, EveryRowInOrder) {
    std::size_t row = 0;
    for (const Group& group : groups()) {
        for (const KeysymScancode& want : group.rows) {
            ASSERT_LT(row, static_cast<std::size_t>(KEYSYM_TABLE_ROWS)) << group.name;
            EXPECT_EQ(KeysymScancodeTable[row].keysym, want.keysym) << group.name << " row " << row;
            EXPECT_EQ(KeysymScancodeTable[row].scancode, want.scancode) << group.name << " row " << row;
            ++row;
        }
    }
    EXPECT_EQ(row, static_cast<std::size_t>(KEYSYM_TABLE_ROWS));
}

TEST(KeysymTable, EveryKeysymFindsItsScancode) {
    for (const Group& group : groups())
        for (const KeysymScancode& row : group.rows)
            EXPECT_EQ(scancode_for_keysym(row.keysym), row.scancode)
                << group.name << " " << std::hex << row.keysym;
}

TEST(KeysymTable, Rules) {
    struct Case {
        uint32_t keysym;
        uint8_t scancode;
        const char* why;
    } cases[] = {
        {0xFF1B, 1, "Escape is handled before the search"},
        {0xFFAD, 12, "KP_Subtract takes the main-row minus code"},
        {0xFFE9, 56, "Alt_L"},
        {0xFFEA, 56, "Alt_R shares Alt_L's code"},
        {0xFFE3, 29, "Control_L"},
        {0xFFE4, 29, "Control_R shares Control_L's code"},
        {0xFFE1, 42, "Shift_L"},
        {0xFFE2, 54, "Shift_R keeps its own code"},
        {0x60, 41, "grave"},
        {0x41, 0, "upper-case A: only lower-case letters are in the table"},
        {0xFFAC, 0, "KP_Separator has no row"},
        {0, 0, "no keysym"},
        {0xFFFFFFFF, 0, "out of range"},
    };
    for (const Case& c : cases) EXPECT_EQ(scancode_for_keysym(c.keysym), c.scancode) << c.why;
}

TEST(ExtendedKeyTable, EveryScancode) {
    // scan code -> key code for 59..83; 0 for the rest.
    const int32_t expected[] = {0x3BFF, 0x3CFF, 0x3DFF, 0x3EFF, 0x3FFF, 0x40FF, 0x41FF, 0x42FF, 0x43FF,
                                0x44FF, 0,      0,      0x47FF, 0x48FF, 0x49FF, 0,      0x4BFF, 0x4CFF,
                                0x4DFF, 0,      0x4FFF, 0x50FF, 0x51FF, 0x52FF, 0x53FF};
    for (int scancode = -2; scancode < 260; ++scancode) {
        const int32_t want = scancode >= 59 && scancode <= 83 ? expected[scancode - 59] : 0;
        EXPECT_EQ(extended_key_code(scancode), want) << "scan code " << scancode;
    }
    // F11 and F12 (87, 88) post nothing.
    EXPECT_EQ(extended_key_code(87), 0);
    EXPECT_EQ(extended_key_code(88), 0);
}

TEST(TranslateKey, Rules) {
    struct Case {
        std::string looked_up;
        int scancode;
        int32_t code;
        const char* why;
    } cases[] = {
        {"a", 30, 'a', "one byte is the code"},
        {"\r", 28, 13, "Enter"},
        {"\t", 15, 9, "Tab"},
        {"\b", 14, 8, "Backspace"},
        {"\x1b", 1, 27, "Escape"},
        {"\x01", 30, 1, "Control with a letter"},
        {"\xe4", 40, 0xE4, "a Latin-1 byte is not sign-extended"},
        {"\x7f", 83, 0x53FF, "DEL becomes the Delete key"},
        {"\x7f", 14, 0x53FF, "DEL from any key"},
        {"", 72, 0x48FF, "Up reads as 255 H"},
        {"", 68, 0x44FF, "F10 reads as 255 D"},
        {"", 83, 0x53FF, "Delete"},
        {"", 87, 0, "F11 gives nothing"},
        {"", 88, 0, "F12 gives nothing"},
        {"", 42, 0, "Shift gives nothing"},
        {"", 69, 0, "Num Lock gives nothing"},
        {"ab", 72, 0x48FF, "two bytes fall back to the table"},
        {"ab", 30, 0, "two bytes without a table entry"},
        {std::string(1, '\0'), 57, 0, "a NUL byte is no key"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(translate_key(std::span<const char>(c.looked_up.data(), c.looked_up.size()), c.scancode),
                  c.code)
            << c.why;
}

TEST(ScancodeMap, BuildsFromFirstKeysyms) {
    ScancodeMap map;
    map.entries[10] = 99; // an earlier mapping
    map.entries[12] = 99;
    const uint32_t keysyms[] = {0xFF1B, 0x61, 0, 0xFFAD, 0x41};
    build_scancode_map(map, 9, keysyms);
    EXPECT_EQ(map.entries[9], 1);   // Escape
    EXPECT_EQ(map.entries[10], 30); // a replaces the old entry
    EXPECT_EQ(map.entries[11], 0);  // keysym 0 keeps the 0 it had
    EXPECT_EQ(map.entries[12], 12); // KP_Subtract replaces the old entry
    EXPECT_EQ(map.entries[13], 0);  // A: no row
    EXPECT_EQ(map.entries[8], 0);
    EXPECT_EQ(map.entries[14], 0);

    // keysym 0 keeps a non-zero entry as well.
    const uint32_t none[] = {0};
    map.entries[40] = 77;
    build_scancode_map(map, 40, none);
    EXPECT_EQ(map.entries[40], 77);
}

TEST(ScancodeMap, ClampsToTheMap) {
    ScancodeMap map;
    std::vector<uint32_t> letters(300, 0x71); // q -> 16
    build_scancode_map(map, -5, letters);     // keycodes -5 .. 294
    for (int k = 0; k < 256; ++k) EXPECT_EQ(map.entries[k], 16) << "keycode " << k;

    ScancodeMap high;
    const uint32_t two[] = {0x71, 0x77};
    build_scancode_map(high, 255, two); // 256 lies outside and is dropped
    EXPECT_EQ(high.entries[255], 16);
    build_scancode_map(high, 1000, two);
    build_scancode_map(high, INT32_MAX, two);
    build_scancode_map(high, INT32_MIN, two);
    EXPECT_EQ(high.entries[0], 0);
}

} // namespace
