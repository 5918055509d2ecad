#include "app/shell_text.h"

#include <cstdio>

namespace {

bool is_hazard(unsigned char c) {
    if (c < 0x20 || c == 0x7F) return true;
    switch (c) {
    case ';':
    case '&':
    case '|':
    case '`':
    case '$':
    case '<':
    case '>':
    case '(':
    case ')':
    case '\\':
    case '"':
    case '\'': return true;
    default: return false;
    }
}

} // namespace

std::size_t find_shell_hazard(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (is_hazard(static_cast<unsigned char>(text[i]))) return i;
        // A '#' that begins a word turns the rest of the command into a comment: the " -c 1" after a
        // proxy would go, and httping would never end.
        if (text[i] == '#' && (i == 0 || text[i - 1] == ' ')) return i;
    }
    return std::string_view::npos;
}

std::size_t find_option_word(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '-' && (i == 0 || text[i - 1] == ' ')) return i;
    }
    return std::string_view::npos;
}

std::string describe_hazard(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", u);
        return hex;
    }
    return std::string("'") + c + "'";
}
