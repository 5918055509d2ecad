// Texts from the configuration are pasted into shell command lines unquoted, so that the tools
// see them unchanged; this check keeps such a text from being anything but words for the shell.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Position of the first byte that the shell would treat as syntax (; & | ` $ < > ( ) \ " ', and '#'
// at the start of a word) or that is a control byte (below 0x20, or 0x7F); npos when the text is safe
// to paste.
[[nodiscard]] std::size_t find_shell_hazard(std::string_view text);
// Position of a '-' that begins a word (at the start or after a blank): the tool would read that word
// as one of its options (nmap's --script runs code); npos when there is none.
[[nodiscard]] std::size_t find_option_word(std::string_view text);
// Safe to paste as the host, target or proxy argument of a tool command line.
[[nodiscard]] inline bool is_shell_safe(std::string_view text) {
    return find_shell_hazard(text) == std::string_view::npos &&
           find_option_word(text) == std::string_view::npos;
}
// How a refused byte is named in a message: 'x' for a visible one, 0xNN for a control byte.
[[nodiscard]] std::string describe_hazard(char c);
