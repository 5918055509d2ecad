// The command line, word by word.
#include <gtest/gtest.h>

#include <vector>

#include "app/options.h"

namespace {

struct OptionCase {
    std::vector<const char*> args;
    RunMode mode;
    std::string snapshot_file;
    uint32_t seconds;
    std::string error;
};

TEST(Options, Table) {
    const OptionCase cases[] = {
        {{}, RunMode::WINDOW, "", 10, ""},
        // Plain words were always accepted and ignored.
        {{"alpha", "beta"}, RunMode::WINDOW, "", 10, ""},
        {{"--help"}, RunMode::HELP, "", 10, ""},
        {{"-h"}, RunMode::HELP, "", 10, ""},
        {{"--version"}, RunMode::VERSION, "", 10, ""},
        // The first of --help and --version wins, even before a bad option.
        {{"--version", "--help"}, RunMode::VERSION, "", 10, ""},
        {{"--help", "--bogus"}, RunMode::HELP, "", 10, ""},
        {{"--snapshot", "a.png"}, RunMode::SNAPSHOT, "a.png", 10, ""},
        {{"--snapshot", "/tmp/x y.png", "--seconds", "3"}, RunMode::SNAPSHOT, "/tmp/x y.png", 3, ""},
        {{"--seconds", "0", "--snapshot", "a.png"}, RunMode::SNAPSHOT, "a.png", 0, ""},
        {{"--snapshot", "a.png", "--seconds", "86400"}, RunMode::SNAPSHOT, "a.png", 86400, ""},
        {{"--snapshot", "a.png", "--snapshot", "b.png"}, RunMode::SNAPSHOT, "b.png", 10, ""},
        {{"--snapshot", "a.png", "--seconds", "000007"}, RunMode::SNAPSHOT, "a.png", 7, ""},
        {{"--bogus"}, RunMode::INVALID, "", 10, "Unbekannte Option \"--bogus\"."},
        {{"-"}, RunMode::INVALID, "", 10, "Unbekannte Option \"-\"."},
        {{"--snapshot=a.png"}, RunMode::INVALID, "", 10, "Unbekannte Option \"--snapshot=a.png\"."},
        {{"--snapshot"}, RunMode::INVALID, "", 10, "Option --snapshot braucht einen Wert."},
        {{"--snapshot", ""}, RunMode::INVALID, "", 10, "Option --snapshot braucht einen Wert."},
        {{"--snapshot", "--seconds", "5"},
         RunMode::INVALID,
         "",
         10,
         "Option --snapshot braucht einen Dateinamen."},
        {{"--snapshot", "a.png", "--seconds"},
         RunMode::INVALID,
         "",
         10,
         "Option --seconds braucht einen Wert."},
        {{"--seconds", "5"}, RunMode::INVALID, "", 10, "--seconds gilt nur zusammen mit --snapshot."},
        {{"--snapshot", "a.png", "--seconds", "-1"},
         RunMode::INVALID,
         "",
         10,
         "--seconds erwartet eine ganze Zahl von 0 bis 86400, nicht \"-1\"."},
        {{"--snapshot", "a.png", "--seconds", "86401"},
         RunMode::INVALID,
         "",
         10,
         "--seconds erwartet eine ganze Zahl von 0 bis 86400, nicht \"86401\"."},
        {{"--snapshot", "a.png", "--seconds", "4294967301"},
         RunMode::INVALID,
         "",
         10,
         "--seconds erwartet eine ganze Zahl von 0 bis 86400, nicht \"4294967301\"."},
        {{"--snapshot", "a.png", "--seconds", "2.5"},
         RunMode::INVALID,
         "",
         10,
         "--seconds erwartet eine ganze Zahl von 0 bis 86400, nicht \"2.5\"."},
        {{"--snapshot", "a.png", "--seconds", "5s"},
         RunMode::INVALID,
         "",
         10,
         "--seconds erwartet eine ganze Zahl von 0 bis 86400, nicht \"5s\"."},
        {{"--snapshot", "a.png", "--seconds", " 5"},
         RunMode::INVALID,
         "",
         10,
         "--seconds erwartet eine ganze Zahl von 0 bis 86400, nicht \" 5\"."},
    };
    for (const OptionCase& c : cases) {
        std::string label;
        for (const char* a : c.args) label += std::string("[") + a + "] ";
        SCOPED_TRACE(label);
        const Options o = parse_options(c.args);
        EXPECT_EQ(o.mode, c.mode);
        EXPECT_EQ(o.error, c.error);
        if (c.mode == RunMode::SNAPSHOT) {
            EXPECT_EQ(o.snapshot_file, c.snapshot_file);
            EXPECT_EQ(o.seconds, c.seconds);
        }
    }
}

TEST(Options, UsageNamesEveryOption) {
    const std::string text = usage_text();
    EXPECT_TRUE(
        text.starts_with("Aufruf: velmora [--snapshot DATEI.png [--seconds N]] [--help] [--version]\n"));
    for (const char* word :
         {"--snapshot DATEI.png", "--seconds N", "--help", "--version", "velmora.cfg", "DISPLAY"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
    EXPECT_EQ(text.back(), '\n');
}

} // namespace
