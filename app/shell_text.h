// What a server line, an HTTP target and a proxy may be. The tools get each as one argument, started without
// a shell, so no byte of them is syntax; these checks make sure that the one argument is what it says it is
// (a host, not an option word, not two words) before any tool or terminal sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class HostForm : uint8_t {
    HOST_NAME, // letters, digits, '-', '.', '_'; not starting with '-' or '.'
    IPV4,      // four decimal numbers 0..255, no leading zeros
    IPV6,      // as inet_pton reads it, optionally with a zone: fe80::1%eth0
};

// The verdict on one text. Trailing blanks are allowed and are not part of the word: the shell never passed
// them on either.
struct TextCheck {
    bool ok = false;
    std::string word;                    // accepted: the argument the tool gets
    HostForm form = HostForm::HOST_NAME; // accepted: the form of the host (of a target's or proxy's host)
    std::size_t at = 0;                  // refused: position of the first byte at fault, from 0
    std::string why;                     // refused: German, without the position
};

// A server line: a host name, an IPv4 address or an IPv6 address.
[[nodiscard]] TextCheck check_host(std::string_view text);
// An HTTP target: host, optional ":port", optional "/path", optionally behind "http://" or "https://". An
// IPv6 host stands in brackets, or bare when neither port nor path follows.
[[nodiscard]] TextCheck check_http_target(std::string_view text);
// A proxy: host ":" port, an IPv6 host in brackets.
[[nodiscard]] TextCheck check_proxy(std::string_view text);

// The host argument of a server's tools and sessions, or nothing when the name is refused.
[[nodiscard]] std::optional<std::string> host_argument(std::string_view name);

// How a byte is named in a message: 'x' for a visible one, 0xNN for a control byte or one beyond ASCII.
[[nodiscard]] std::string describe_byte(char c);
