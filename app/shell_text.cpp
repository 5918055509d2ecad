#include "app/shell_text.h"

#include <arpa/inet.h>
#include <cstdio>

namespace {

constexpr std::size_t MAX_NAME = 253; // a DNS name, without its final dot
constexpr std::size_t MAX_LABEL = 63;
constexpr std::size_t MAX_ZONE = 15; // an interface name, as the kernel bounds it

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_hex(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool is_name_byte(char c) {
    return is_letter(c) || is_digit(c) || c == '-' || c == '.' || c == '_';
}
// What a path or query may hold besides %XX: the URL's own characters, less quotes, brackets and braces.
bool is_path_byte(char c) {
    return is_letter(c) || is_digit(c) ||
           std::string_view("-._~!$&()*+,;=:@/?").find(c) != std::string_view::npos;
}

TextCheck refuse(std::size_t at, std::string why) {
    TextCheck c;
    c.at = at;
    c.why = std::move(why);
    return c;
}

TextCheck accept(std::string_view word, HostForm form) {
    TextCheck c;
    c.ok = true;
    c.word = std::string(word);
    c.form = form;
    return c;
}

std::string_view without_trailing_blanks(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

TextCheck bad_byte(std::string_view text, std::size_t i, std::size_t base) {
    const auto u = static_cast<unsigned char>(text[i]);
    if (text[i] == ' ') return refuse(base + i, "enthält ein Leerzeichen");
    if (u < 0x20 || u == 0x7F) return refuse(base + i, "enthält das Steuerzeichen " + describe_byte(text[i]));
    if (u >= 0x80)
        return refuse(base + i, "enthält das Byte " + describe_byte(text[i]) + " außerhalb von ASCII");
    return refuse(base + i, "enthält das unzulässige Zeichen " + describe_byte(text[i]));
}

// The first byte that no form of the text may hold at all (a blank, a control byte, a byte beyond ASCII, or
// punctuation other than extra), so that a message names the earliest fault.
std::optional<TextCheck> foreign_byte(std::string_view text, std::size_t base, std::string_view extra) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!is_name_byte(text[i]) && extra.find(text[i]) == std::string_view::npos)
            return bad_byte(text, i, base);
    return std::nullopt;
}

constexpr std::string_view OPTION = "beginnt mit '-', das ein Werkzeug als Option lesen würde";

bool is_ipv4(std::string_view text) {
    int parts = 0;
    std::size_t i = 0;
    for (;;) {
        const std::size_t start = i;
        int value = 0;
        while (i < text.size() && is_digit(text[i]) && i - start < 3) value = value * 10 + (text[i++] - '0');
        const std::size_t digits = i - start;
        // A leading zero makes ping and nmap read the number as octal: 010.0.0.1 would be 8.0.0.1.
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return false;
        if (++parts == 4) return i == text.size();
        if (i == text.size() || text[i] != '.') return false;
        ++i;
    }
}

TextCheck check_ipv6(std::string_view text, std::size_t base) {
    const std::size_t percent = text.find('%');
    const std::string_view address = text.substr(0, percent);
    for (std::size_t i = 0; i < address.size(); ++i)
        if (!is_hex(address[i]) && address[i] != ':' && address[i] != '.') return bad_byte(text, i, base);
    const std::string copy(address);
    in6_addr parsed{};
    if (inet_pton(AF_INET6, copy.c_str(), &parsed) != 1)
        return refuse(base, "ist keine gültige IPv6-Adresse");
    if (percent != std::string_view::npos) {
        const std::string_view zone = text.substr(percent + 1);
        if (zone.empty() || zone.size() > MAX_ZONE)
            return refuse(base + percent, "hat keine gültige Zone nach '%' (eine Schnittstelle wie eth0)");
        if (zone[0] == '-') return refuse(base + percent + 1, "hat eine Zone, die mit '-' beginnt");
        for (std::size_t i = 0; i < zone.size(); ++i)
            if (!is_name_byte(zone[i])) return bad_byte(zone, i, base + percent + 1);
    }
    return accept(text, HostForm::IPV6);
}

// A host without an IPv6 address: a name or an IPv4 address.
TextCheck check_name_or_ipv4(std::string_view text, std::size_t base) {
    if (text.empty()) return refuse(base, "nennt keinen Host");
    if (text[0] == '-') return refuse(base, std::string(OPTION));
    if (text[0] == '.') return refuse(base, "beginnt mit '.'");
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!is_name_byte(text[i])) return bad_byte(text, i, base);
    // Digits and dots alone are read as an address by every tool, so they must be one.
    if (text.find_first_not_of("0123456789.") == std::string_view::npos) {
        if (!is_ipv4(text)) return refuse(base, "ist keine gültige IPv4-Adresse");
        return accept(text, HostForm::IPV4);
    }
    const std::string_view name = text.back() == '.' ? text.substr(0, text.size() - 1) : text;
    if (name.size() > MAX_NAME) return refuse(base + MAX_NAME, "ist länger als 253 Zeichen");
    std::size_t label = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != '.') continue;
        if (i == label) return refuse(base + i, "enthält einen leeren Namensteil ('..')");
        if (i - label > MAX_LABEL)
            return refuse(base + label, "hat einen Namensteil mit mehr als 63 Zeichen");
        label = i + 1;
    }
    return accept(text, HostForm::HOST_NAME);
}

TextCheck check_host_at(std::string_view text, std::size_t base) {
    if (!text.empty() && text[0] == '-') return refuse(base, std::string(OPTION));
    if (text.find(':') != std::string_view::npos) return check_ipv6(text, base);
    return check_name_or_ipv4(text, base);
}

std::optional<TextCheck> check_port(std::string_view port, std::size_t base) {
    long value = 0;
    for (char c : port) value = is_digit(c) && value <= 65535 ? value * 10 + (c - '0') : 100000;
    if (port.empty() || value < 1 || value > 65535)
        return refuse(base, "hat keinen gültigen Port (1 bis 65535)");
    return std::nullopt;
}

// host[:port] with an IPv6 host in brackets; base is the position of authority in the whole text.
TextCheck check_authority(std::string_view authority, std::size_t base, bool port_required) {
    std::string_view host = authority;
    std::optional<std::size_t> colon;
    std::optional<TextCheck> host_check;
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return refuse(base, "hat keine schließende Klammer ']'");
        host_check = check_ipv6(authority.substr(1, close - 1), base + 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') return bad_byte(authority, close + 1, base);
            colon = close + 1;
        }
    } else {
        const std::size_t first = authority.find(':');
        if (first != std::string_view::npos && authority.find(':', first + 1) != std::string_view::npos)
            return refuse(base, "nennt eine IPv6-Adresse ohne eckige Klammern vor Port oder Pfad");
        if (first != std::string_view::npos) colon = first;
        host = authority.substr(0, first);
        host_check = check_name_or_ipv4(host, base);
    }
    if (!host_check->ok) return *host_check;
    if (colon) {
        if (auto bad = check_port(authority.substr(*colon + 1), base + *colon + 1)) return *bad;
    } else if (port_required) {
        return refuse(base + authority.size(), "hat keinen Port (Form Host:Port)");
    }
    return accept(authority, host_check->form);
}

} // namespace

TextCheck check_host(std::string_view text) {
    const std::string_view word = without_trailing_blanks(text);
    if (word.empty()) return refuse(0, "nennt keinen Host");
    if (word[0] == '-') return refuse(0, std::string(OPTION));
    if (auto bad = foreign_byte(word, 0, ":%")) return *bad;
    return check_host_at(word, 0);
}

TextCheck check_http_target(std::string_view text) {
    const std::string_view word = without_trailing_blanks(text);
    std::size_t start = 0;
    for (std::string_view scheme : {"http://", "https://"})
        if (word.starts_with(scheme)) start = scheme.size();
    if (word.size() > start && word[start] == '-') return refuse(start, std::string(OPTION));
    if (auto bad = foreign_byte(word, 0, "~!$&()*+,;=:@/?%[]")) return *bad;
    const std::string_view rest = word.substr(start);
    const std::size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    TextCheck host;
    // A bare IPv6 address is the whole target: a port or a path after it could not be told from it.
    const std::size_t colon = authority.find(':');
    if (!authority.starts_with('[') && colon != std::string_view::npos &&
        authority.find(':', colon + 1) != std::string_view::npos && slash == std::string_view::npos) {
        host = check_host_at(authority, start);
    } else {
        host = check_authority(authority, start, false);
    }
    if (!host.ok) return host;
    if (slash != std::string_view::npos) {
        const std::size_t base = start + slash;
        const std::string_view path = rest.substr(slash);
        for (std::size_t i = 0; i < path.size(); ++i) {
            if (path[i] == '%') {
                if (i + 2 >= path.size() || !is_hex(path[i + 1]) || !is_hex(path[i + 2]))
                    return refuse(base + i, "hat nach '%' keine zwei Hexadezimalziffern");
                i += 2;
            } else if (!is_path_byte(path[i])) {
                return bad_byte(path, i, base);
            }
        }
    }
    return accept(word, host.form);
}

TextCheck check_proxy(std::string_view text) {
    const std::string_view word = without_trailing_blanks(text);
    if (!word.empty() && word[0] == '-') return refuse(0, std::string(OPTION));
    const std::size_t scheme = word.find("://");
    if (scheme != std::string_view::npos)
        return refuse(scheme, "nennt ein Schema; ein Proxy ist nur Host:Port");
    if (auto bad = foreign_byte(word, 0, ":[]%")) return *bad;
    TextCheck c = check_authority(word, 0, true);
    if (c.ok) c.word = std::string(word);
    return c;
}

std::optional<std::string> host_argument(std::string_view name) {
    TextCheck c = check_host(name);
    if (!c.ok) return std::nullopt;
    return std::move(c.word);
}

std::string describe_byte(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7F) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", u);
        return hex;
    }
    return std::string("'") + c + "'";
}
