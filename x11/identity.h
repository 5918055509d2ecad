// What the window tells the desktop about itself, worked out on plain data: the title in the two encodings
// window managers read, the icon as the property carries it, the message that ends a launcher's
// start-up feedback, and which window-manager messages the presenter answers.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The names docks, task bars and window-manager rules match the window by (WM_CLASS), and the menu
// entry's StartupWMClass.
inline constexpr const char* WINDOW_INSTANCE_NAME = "velmora";
inline constexpr const char* WINDOW_CLASS_NAME = "Velmora";

// WM_NAME is Latin-1 by definition; the program's texts are UTF-8. Characters beyond Latin-1, and bytes
// that are no valid UTF-8, become '?'.
[[nodiscard]] std::string latin1_of_utf8(std::string_view text);

// One picture of the icon, row by row from the top, 0xAARRGGBB per pixel, not premultiplied.
struct IconImage {
    int width, height;
    const uint32_t* pixels;
};
// The window's icon property: for each picture its width, its height, then its pixels, one value each.
// Xlib takes 32-bit properties as longs.
[[nodiscard]] std::vector<long> icon_property(std::span<const IconImage> images);
// velmora's own icon in the sizes the window carries (icon_data.cpp, made with the menu's icon files by
// packaging/icons/make_icons.py).
[[nodiscard]] std::span<const IconImage> window_icon_images();

// The launcher's start-up feedback ends with this message for its id, sent to the root window in pieces.
[[nodiscard]] std::string startup_remove_message(std::string_view startup_id);
// The pieces of a start-up message as client messages carry them: 20 bytes each, the text's closing zero
// in the last one, the rest of that piece zero. The first piece goes as _NET_STARTUP_INFO_BEGIN, the others
// as _NET_STARTUP_INFO.
using StartupPiece = std::array<char, 20>;
[[nodiscard]] std::vector<StartupPiece> startup_message_pieces(std::string_view message);

// What a client message to the window asks for. The close request is known by its first word alone, as
// some managers send it with another type; a ping by type and first word.
enum class ClientRequest { NONE, CLOSE, PING };
struct ProtocolAtoms {
    unsigned long protocols, delete_window, ping;
};
[[nodiscard]] ClientRequest client_request(unsigned long message_type, unsigned long first_word,
                                           const ProtocolAtoms& atoms);
