// What the window tells the desktop about itself, on plain data: the title in Latin-1, the icon property,
// the start-up message and its pieces, and which client messages the presenter answers.
#include <gtest/gtest.h>

#include <string>

#include "x11/identity.h"

namespace {

TEST(Identity, TitleInLatin1) {
    struct Case {
        const char* utf8;
        const char* latin1;
    };
    for (Case c : {
             Case{"Zeige 3 Server", "Zeige 3 Server"},
             Case{"Pr\xC3\xBC"
                  "fe \xC3\x9F",
                  "Pr\xFC"
                  "fe \xDF"},                   // two-byte characters within Latin-1
             Case{"\xC3\xBF\xC4\x80", "\xFF?"}, // the last of Latin-1, the first beyond it
             Case{"5 \xE2\x82\xAC", "5 ?"},     // three bytes: the euro sign
             Case{"\xF0\x9F\x98\x80!", "?!"},   // four bytes, one character
             Case{"a\xC3", "a?"},               // cut off at the end
             Case{"\xC3(", "?("},               // a lead byte without its continuation
             Case{"\x80x", "?x"},               // a continuation byte alone
             Case{"\xC0\xAF", "??"},            // overlong '/'
             Case{"\xED\xA0\x80", "???"},       // a surrogate
             Case{"\xF5\x80\x80\x80", "????"},  // beyond Unicode
         }) {
        EXPECT_EQ(latin1_of_utf8(c.utf8), c.latin1) << c.utf8;
    }
}

TEST(Identity, IconPropertyIsSizeThenPixelsPerPicture) {
    const uint32_t one[] = {0xFF00FF00u};
    const uint32_t two_by_one[] = {0x80112233u, 0x00000000u};
    const IconImage images[] = {{1, 1, one}, {2, 1, two_by_one}};
    EXPECT_EQ(icon_property(images), (std::vector<long>{1, 1, 0xFF00FF00L, 2, 1, 0x80112233L, 0}));
}

TEST(Identity, TheWindowsIconHasItsSizesAndItsGreenGraph) {
    std::vector<int> sizes;
    for (const IconImage& image : window_icon_images()) {
        EXPECT_EQ(image.width, image.height);
        sizes.push_back(image.width);
        const int n = image.width;
        // Transparent outside the rounded panel, opaque within, and a line's worth of the graph's green
        // (smoothed at the edges, so counted by its hue).
        EXPECT_EQ(image.pixels[0] >> 24, 0u) << n;
        EXPECT_EQ(image.pixels[n / 2 * n + n / 2] >> 24, 0xFFu) << n;
        int green = 0;
        for (int i = 0; i < n * n; ++i) {
            const int r = image.pixels[i] >> 16 & 0xFF, g = image.pixels[i] >> 8 & 0xFF,
                      b = image.pixels[i] & 0xFF;
            green += g >= 0xA0 && g > r + 0x60 && g > b + 0x20 ? 1 : 0;
        }
        EXPECT_GT(green, n) << n;
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 64}));
}

TEST(Identity, StartupRemoveMessageQuotesTheId) {
    struct Case {
        const char* id;
        const char* message;
    };
    for (Case c : {
             Case{"menu-4711-0-host-velmora_TIME1234", R"(remove: ID="menu-4711-0-host-velmora_TIME1234")"},
             Case{"a b=c", R"(remove: ID="a b=c")"},
             Case{R"(say "hi"\now)", R"(remove: ID="say \"hi\"\\now")"},
             Case{"", R"(remove: ID="")"},
         }) {
        EXPECT_EQ(startup_remove_message(c.id), c.message) << c.id;
    }
}

TEST(Identity, StartupMessageInPiecesOfTwentyBytesEndedByAZero) {
    struct Case {
        size_t length, pieces;
    };
    // 19 characters and their zero fill one piece exactly; at 20 the zero needs a piece of its own.
    for (Case c : {Case{0, 1}, Case{19, 1}, Case{20, 2}, Case{39, 2}, Case{40, 3}, Case{45, 3}}) {
        std::string message;
        for (size_t i = 0; i < c.length; ++i) message += static_cast<char>('a' + i % 26);
        const std::vector<StartupPiece> pieces = startup_message_pieces(message);
        ASSERT_EQ(pieces.size(), c.pieces) << c.length;
        std::string joined;
        for (const StartupPiece& piece : pieces) joined.append(piece.data(), piece.size());
        EXPECT_EQ(joined.substr(0, c.length), message);
        EXPECT_EQ(joined.substr(c.length), std::string(joined.size() - c.length, '\0')) << c.length;
    }
}

TEST(Identity, ClientMessagesTheWindowAnswers) {
    constexpr ProtocolAtoms atoms{.protocols = 301, .delete_window = 302, .ping = 303};
    struct Case {
        unsigned long type, first;
        ClientRequest request;
    };
    for (Case c : {
             Case{301, 302, ClientRequest::CLOSE},
             Case{999, 302, ClientRequest::CLOSE}, // the close request whatever its type
             Case{301, 303, ClientRequest::PING},
             Case{999, 303, ClientRequest::NONE}, // a ping only as a window-manager protocol
             Case{301, 304, ClientRequest::NONE},
             Case{303, 301, ClientRequest::NONE},
         }) {
        EXPECT_EQ(client_request(c.type, c.first, atoms), c.request) << c.type << " " << c.first;
    }
}

} // namespace
