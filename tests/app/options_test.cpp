// The command line, word by word.
#include <gtest/gtest.h>

#include <vector>

#include "app/options.h"

namespace {

std::string label(const std::vector<const char*>& args) {
    std::string text;
    for (const char* a : args) text += std::string("[") + a + "]";
    return text;
}

TEST(Options, Accepted) {
    struct Case {
        std::vector<const char*> args;
        RunMode mode;
        std::string file; // snapshot only
        uint32_t seconds; // snapshot only
    };
    const Case cases[] = {
        {{}, RunMode::WINDOW, "", 0},
        {{"alpha", "beta"}, RunMode::WINDOW, "", 0}, // plain words were always accepted and ignored
        {{"--help"}, RunMode::HELP, "", 0},
        {{"-h"}, RunMode::HELP, "", 0},
        {{"--version"}, RunMode::VERSION, "", 0},
        {{"--version", "--help"}, RunMode::VERSION, "", 0}, // the first of the two wins,
        {{"--help", "--bogus"}, RunMode::HELP, "", 0},      // even before a bad option
        {{"--snapshot", "a.png"}, RunMode::SNAPSHOT, "a.png", 10},
        {{"--snapshot", "/tmp/x y.png", "--seconds", "3"}, RunMode::SNAPSHOT, "/tmp/x y.png", 3},
        {{"--seconds", "0", "--snapshot", "a.png"}, RunMode::SNAPSHOT, "a.png", 0},
        {{"--snapshot", "a.png", "--seconds", "86400"}, RunMode::SNAPSHOT, "a.png", 86400},
        {{"--snapshot", "a.png", "--seconds", "000007"}, RunMode::SNAPSHOT, "a.png", 7},
        {{"--snapshot", "a.png", "--snapshot", "b.png"}, RunMode::SNAPSHOT, "b.png", 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(label(c.args));
        const Options o = parse_options(c.args);
        EXPECT_EQ(o.mode, c.mode);
        EXPECT_EQ(o.error, "");
        if (c.mode != RunMode::SNAPSHOT) continue;
        EXPECT_EQ(o.snapshot_file, c.file);
        EXPECT_EQ(o.seconds, c.seconds);
    }
}

TEST(Options, Refused) {
    struct Case {
        std::vector<const char*> args;
        std::string error;
    };
    std::vector<Case> cases = {
        {{"--bogus"}, "Unbekannte Option \"--bogus\"."},
        {{"-"}, "Unbekannte Option \"-\"."},
        {{"alpha", "-x"}, "Unbekannte Option \"-x\"."},
        {{"--snapshot=a.png"}, "Unbekannte Option \"--snapshot=a.png\"."},
        {{"--snapshot"}, "Option --snapshot braucht einen Wert."},
        {{"--snapshot", ""}, "Option --snapshot braucht einen Wert."},
        {{"--snapshot", "--seconds", "5"}, "Option --snapshot braucht einen Dateinamen."},
        {{"--snapshot", "a.png", "--seconds"}, "Option --seconds braucht einen Wert."},
        {{"--seconds", "5"}, "--seconds gilt nur zusammen mit --snapshot."},
    };
    // Only plain decimal digits up to a day: nothing is guessed from a sign, a fraction or a unit.
    for (const char* bad : {"-1", "86401", "999999", "4294967301", "2.5", "5s", " 5", "+5", "0x10"}) {
        cases.push_back(
            {{"--snapshot", "a.png", "--seconds", bad},
             "--seconds erwartet eine ganze Zahl von 0 bis 86400, nicht \"" + std::string(bad) + "\"."});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(label(c.args));
        const Options o = parse_options(c.args);
        EXPECT_EQ(o.mode, RunMode::INVALID);
        EXPECT_EQ(o.error, c.error);
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
