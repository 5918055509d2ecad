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
    for (const char* text : {"alpha", "alpha  ", "10.0.0.1", "web.example:8080/status", "proxy:3128",
                             "h\xC3\xB6st", "\xFF\x80", "a]b{d}!e%g=h~i/~j", "host~", ""}) {
        EXPECT_EQ(find_shell_hazard(text), std::string_view::npos) << text;
        EXPECT_TRUE(is_shell_safe(text)) << text;
    }
}

// Patterns that expand against the working directory, a comment, and a home directory: all change the
// words the tool sees (a file named --script=evil would become an option).
TEST(ShellText, ExpansionsAndCommentsAreRefused) {
    struct Case {
        const char* text;
        std::size_t at;
    } const cases[] = {
        {"*", 0},
        {"al*", 2},
        {"a?", 1},
        {"web/status?x=1", 10},
        {"[ab]", 0},
        {"x[1]", 1},
        {"cache:80 #note", 9},
        {"#", 0},
        {"a#b", 1},
        {"~", 0},
        {"~root", 0},
        {"alpha ~/x", 6},
        {"alpha  ~", 7},
        {"a~b ~", 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(find_shell_hazard(c.text), c.at) << c.text;
        EXPECT_FALSE(is_shell_safe(c.text)) << c.text;
    }
}

// A '#' that begins a word starts a comment and would cut off the options after it.
// A comment sign anywhere: the shell takes it as one at a word's start, and no host or proxy holds one.
TEST(ShellText, CommentSignsAreRefusedAnywhere) {
    struct Case {
        const char* text;
        std::size_t at;
    } const cases[] = {
        {"#", 0},   {"#proxy", 0},         {"cache:80 #x", 9}, {"a  #", 3},
        {"a#b", 1}, {"cache:80/#frag", 9}, {"a# #", 1},
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
