// The check that keeps configuration texts from being shell syntax.
#include <gtest/gtest.h>

#include "app/shell_text.h"

namespace {

TEST(ShellText, EveryMetacharacterAndControlByteIsRefused) {
    std::string refused = ";&|`$<>()\\\"'";
    for (int c = 0; c < 0x20; ++c) refused += static_cast<char>(c);
    refused += '\x7F';
    for (char c : refused) {
        const std::string text = std::string("alpha") + c + "beta";
        EXPECT_EQ(find_shell_hazard(text), 5u) << describe_hazard(c);
    }
}

TEST(ShellText, HostsTargetsAndOtherBytesPass) {
    for (const char* text : {"alpha", "alpha  ", "10.0.0.1", "web.example:8080/status?x=1&", "proxy:3128",
                             "h\xC3\xB6st", "\xFF\x80", "a*b?[c]~{d}!e#f%g", ""}) {
        // '&' in the third text is a shell operator: that one is refused.
        const bool has_amp = std::string_view(text).find('&') != std::string_view::npos;
        EXPECT_EQ(is_shell_safe(text), !has_amp) << text;
    }
}

// A '#' that begins a word starts a comment and would cut off the options after it.
TEST(ShellText, CommentSignsThatBeginAWord) {
    struct Case {
        const char* text;
        std::size_t at;
    } const cases[] = {
        {"#", 0},
        {"#proxy", 0},
        {"cache:80 #x", 9},
        {"a  #", 3},
        {"a#b", std::string_view::npos},
        {"cache:80/#frag", std::string_view::npos},
        {"a# #", 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(find_shell_hazard(c.text), c.at) << c.text;
        EXPECT_EQ(is_shell_safe(c.text), c.at == std::string_view::npos) << c.text;
    }
    EXPECT_EQ(describe_hazard('#'), "'#'");
}

TEST(ShellText, WordsThatToolsReadAsOptions) {
    struct Case {
        const char* text;
        std::size_t at;
    } const cases[] = {
        {"-iL", 0},
        {"alpha --script=x", 6},
        {"a -b", 2},
        {"my-host", std::string_view::npos},
        {"host-", std::string_view::npos},
        {"alpha  ", std::string_view::npos},
        {"", std::string_view::npos},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(find_option_word(c.text), c.at) << c.text;
        EXPECT_EQ(is_shell_safe(c.text), c.at == std::string_view::npos) << c.text;
    }
}

TEST(ShellText, RefusedBytesAreNamedReadably) {
    EXPECT_EQ(describe_hazard(';'), "';'");
    EXPECT_EQ(describe_hazard('\x1B'), "0x1B");
    EXPECT_EQ(describe_hazard('\x7F'), "0x7F");
    EXPECT_EQ(describe_hazard('\0'), "0x00");
}

} // namespace
