#include "x11/identity.h"

#include <algorithm>

namespace {

// The code point of the UTF-8 sequence at text[i], and its length; -1 for a byte that starts no valid
// sequence (that byte alone is then skipped).
std::pair<long, size_t> decode(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80) return {lead, 1};
    size_t length = 0;
    if (lead >= 0xC2 && lead < 0xE0)
        length = 2;
    else if (lead >= 0xE0 && lead < 0xF0)
        length = 3;
    else if (lead >= 0xF0 && lead < 0xF5)
        length = 4;
    if (length == 0 || i + length > text.size()) return {-1, 1};
    long code = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return {-1, 1};
        code = code << 6 | (byte(i + k) & 0x3F);
    }
    // Overlong forms and surrogates are no characters.
    static constexpr long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) return {-1, 1};
    return {code, length};
}

} // namespace

std::string latin1_of_utf8(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        auto [code, length] = decode(text, i);
        out += code >= 0 && code < 0x100 ? static_cast<char>(code) : '?';
        i += length;
    }
    return out;
}

std::vector<long> icon_property(std::span<const IconImage> images) {
    std::vector<long> values;
    for (const IconImage& image : images) {
        values.push_back(image.width);
        values.push_back(image.height);
        values.insert(values.end(), image.pixels, image.pixels + image.width * image.height);
    }
    return values;
}

std::string startup_remove_message(std::string_view startup_id) {
    // Quoted, so that spaces and '=' in the id stay part of it; inside quotes '"' and '\' are escaped.
    std::string message = "remove: ID=\"";
    for (char c : startup_id) {
        if (c == '"' || c == '\\') message += '\\';
        message += c;
    }
    return message + '"';
}

std::vector<StartupPiece> startup_message_pieces(std::string_view message) {
    std::vector<StartupPiece> pieces;
    const size_t total = message.size() + 1; // with the closing zero
    for (size_t at = 0; at < total; at += sizeof(StartupPiece)) {
        StartupPiece piece{};
        size_t n = std::min(sizeof piece, message.size() > at ? message.size() - at : 0);
        std::copy_n(message.data() + at, n, piece.begin());
        pieces.push_back(piece);
    }
    return pieces;
}

ClientRequest client_request(unsigned long message_type, unsigned long first_word,
                             const ProtocolAtoms& atoms) {
    if (first_word == atoms.delete_window) return ClientRequest::CLOSE;
    if (message_type == atoms.protocols && first_word == atoms.ping) return ClientRequest::PING;
    return ClientRequest::NONE;
}
