// The command line, word by word.
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

#include "app/config_lookup.h"
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
        {{"--check"}, RunMode::CHECK, "", 0},
        {{"-c", "x.cfg", "--check"}, RunMode::CHECK, "", 0},
        {{"--config", "x.cfg", "--snapshot", "a.png"}, RunMode::SNAPSHOT, "a.png", 10},
        {{"--example-if-missing"}, RunMode::WINDOW, "", 0},
        {{"--scale", "2"}, RunMode::WINDOW, "", 0},
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
        {{"--config"}, "Option --config braucht einen Wert."},
        {{"-c", ""}, "Option -c braucht einen Wert."},
        {{"-c", "--check"}, "Option -c braucht einen Dateinamen."},
        {{"--config=x.cfg"}, "Unbekannte Option \"--config=x.cfg\"."},
        {{"--check", "--snapshot", "a.png"}, "--check und --snapshot schließen sich aus."},
        {{"--check", "--seconds", "3"}, "--seconds gilt nur zusammen mit --snapshot."},
    };
    // Only plain decimal digits up to a day: nothing is guessed from a sign, a fraction or a unit.
    for (const char* bad : {"-1", "86401", "999999", "4294967301", "2.5", "5s", " 5", "+5", "0x10"}) {
        cases.push_back(
            {{"--snapshot", "a.png", "--seconds", bad},
             "--seconds erwartet eine ganze Zahl von 0 bis 86400, nicht \"" + std::string(bad) + "\"."});
    }
    for (const char* bad : {"0", "5", "-1", "2.0", "02", " 2", "x", "22"})
        cases.push_back(
            {{"--scale", bad},
             "--scale erwartet eine ganze Zahl von 1 bis 4, nicht \"" + std::string(bad) + "\"."});
    cases.push_back({{"--scale"}, "Option --scale braucht einen Wert."});
    cases.push_back({{"--scale", "2", "--check"},
                     "--scale gilt nur für das Fenster, nicht mit --check oder --snapshot."});
    cases.push_back({{"--snapshot", "a.png", "--scale", "2"},
                     "--scale gilt nur für das Fenster, nicht mit --check oder --snapshot."});
    for (const Case& c : cases) {
        SCOPED_TRACE(label(c.args));
        const Options o = parse_options(c.args);
        EXPECT_EQ(o.mode, RunMode::INVALID);
        EXPECT_EQ(o.error, c.error);
    }
}

TEST(Options, ScaleIsTheWindowsFactorOrTheDesktops) {
    for (int n = 1; n <= 4; ++n) {
        const std::string digit = std::to_string(n);
        EXPECT_EQ(parse_options(std::vector<const char*>{"--scale", digit.c_str()}).scale, n);
    }
    EXPECT_EQ(parse_options(std::vector<const char*>{}).scale, 0);
    EXPECT_EQ(parse_options(std::vector<const char*>{"--scale", "1", "--scale", "3"}).scale, 3);
}

TEST(Options, ConfigurationOptionsCombine) {
    const std::vector<const char*> args = {"-c", "a.cfg", "--example-if-missing", "--config", "/b c.cfg"};
    const Options o = parse_options(args);
    EXPECT_EQ(o.mode, RunMode::WINDOW);
    EXPECT_EQ(o.config_file, "/b c.cfg"); // the last one counts, as with --snapshot
    EXPECT_TRUE(o.example_if_missing);
    EXPECT_FALSE(parse_options(std::vector<const char*>{"--check"}).example_if_missing);
    EXPECT_EQ(parse_options(std::vector<const char*>{"--check"}).config_file, "");
}

TEST(Options, UsageNamesEveryOptionAndThePlacesInOrder) {
    const std::string text = usage_text();
    EXPECT_TRUE(text.starts_with(
        "Aufruf: velmora [-c DATEI] [--example-if-missing] [--snapshot DATEI.png [--seconds N]]\n"));
    for (const char* word : {"--snapshot DATEI.png", "--seconds N", "--help", "--version",
                             "-c, --config DATEI", "--check", "--example-if-missing", "DISPLAY", "--scale N"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
    const std::size_t here = text.find("1. velmora.cfg im aktuellen Verzeichnis\n");
    const std::size_t user = text.find("2. $XDG_CONFIG_HOME/velmora/velmora.cfg, ohne XDG_CONFIG_HOME "
                                       "~/.config/velmora/velmora.cfg\n");
    EXPECT_NE(here, std::string::npos);
    EXPECT_NE(user, std::string::npos);
    EXPECT_LT(here, user);
    EXPECT_EQ(text.back(), '\n');
}

std::string places_label(const std::vector<ConfigCandidate>& places) {
    std::string text;
    for (const ConfigCandidate& p : places)
        text += std::string(p.place == ConfigPlace::GIVEN  ? "given "
                            : p.place == ConfigPlace::USER ? "user "
                                                           : "here ") +
                p.path + (p.path == p.shown ? "" : " as " + p.shown) +
                (p.base.empty() ? "" : " in " + p.base) + "\n";
    return text;
}

TEST(ConfigLookup, PlacesInOrder) {
    using Env = std::optional<std::string>;
    struct Case {
        std::string given, working_dir;
        Env xdg, home;
        std::string places;
    };
    const Case cases[] = {
        {"", "/w", std::nullopt, "/h",
         "here velmora.cfg as /w/velmora.cfg\nuser /h/.config/velmora/velmora.cfg in /h\n"},
        {"", "/w", "/x", "/h", "here velmora.cfg as /w/velmora.cfg\nuser /x/velmora/velmora.cfg\n"},
        {"", "/w/", "/x//", "/h/", "here velmora.cfg as /w/velmora.cfg\nuser /x/velmora/velmora.cfg\n"},
        {"", "/w/", std::nullopt, "/h/",
         "here velmora.cfg as /w/velmora.cfg\nuser /h/.config/velmora/velmora.cfg in /h/\n"},
        {"", "/", "/", "/", "here velmora.cfg as /velmora.cfg\nuser /velmora/velmora.cfg\n"},
        // Relative and empty values are ignored, as the XDG rules ask.
        {"", "/w", "x", "/h",
         "here velmora.cfg as /w/velmora.cfg\nuser /h/.config/velmora/velmora.cfg in /h\n"},
        {"", "/w", "", "/h",
         "here velmora.cfg as /w/velmora.cfg\nuser /h/.config/velmora/velmora.cfg in /h\n"},
        {"", "/w", "/x", std::nullopt, "here velmora.cfg as /w/velmora.cfg\nuser /x/velmora/velmora.cfg\n"},
        {"", "/w", std::nullopt, "", "here velmora.cfg as /w/velmora.cfg\n"},
        {"", "/w", "x", "h", "here velmora.cfg as /w/velmora.cfg\n"},
        {"", "/w", std::nullopt, std::nullopt, "here velmora.cfg as /w/velmora.cfg\n"},
        {"", "", std::nullopt, "/h",
         "here velmora.cfg as ./velmora.cfg\nuser /h/.config/velmora/velmora.cfg in /h\n"},
        // A given file is the only place.
        {"my.cfg", "/w", "/x", "/h", "given my.cfg as /w/my.cfg\n"},
        {"/etc/v.cfg", "/w", "/x", "/h", "given /etc/v.cfg\n"},
    };
    for (const Case& c : cases) {
        const auto places = config_candidates(
            {.given = c.given, .working_dir = c.working_dir, .xdg_config_home = c.xdg, .home = c.home});
        EXPECT_EQ(places_label(places), c.places)
            << c.given << "|" << c.working_dir << "|" << c.xdg.value_or("unset") << "|"
            << c.home.value_or("unset");
    }
}

TEST(ConfigLookup, TheFirstPresentPlaceIsReadAndTheExampleOnlyGoesToTheUserPlace) {
    const std::vector<ConfigCandidate> both = {
        {ConfigPlace::WORKING_DIR, "velmora.cfg", "/w/velmora.cfg", ""},
        {ConfigPlace::USER, "/u/velmora.cfg", "/u/velmora.cfg", ""}};
    const std::vector<ConfigCandidate> here_only(both.begin(), both.begin() + 1);
    const std::vector<ConfigCandidate> given = {{ConfigPlace::GIVEN, "g.cfg", "/w/g.cfg", ""}};
    struct Case {
        const std::vector<ConfigCandidate>* places;
        std::vector<bool> present;
        bool example;
        ConfigAction action;
        std::size_t index;
    };
    const Case cases[] = {
        {&both, {true, true}, false, ConfigAction::READ, 0},
        {&both, {true, false}, true, ConfigAction::READ, 0},
        {&both, {false, true}, false, ConfigAction::READ, 1},
        {&both, {false, true}, true, ConfigAction::READ, 1},
        {&both, {false, false}, false, ConfigAction::NONE, 0},
        {&both, {false, false}, true, ConfigAction::WRITE_EXAMPLE, 1},
        {&here_only, {false}, true, ConfigAction::NONE, 0},
        {&given, {false}, true, ConfigAction::READ, 0}, // the reader names the missing file
        {&given, {true}, false, ConfigAction::READ, 0},
    };
    for (const Case& c : cases) {
        const ConfigChoice choice = choose_config(*c.places, c.present, c.example);
        EXPECT_EQ(choice.action, c.action) << places_label(*c.places) << c.example;
        if (c.action != ConfigAction::NONE) {
            EXPECT_EQ(choice.index, c.index);
        }
    }
}

TEST(ConfigLookup, Texts) {
    const std::vector<ConfigCandidate> both = {
        {ConfigPlace::WORKING_DIR, "velmora.cfg", "/w/velmora.cfg", ""},
        {ConfigPlace::USER, "/u/velmora.cfg", "/u/velmora.cfg", ""}};
    EXPECT_EQ(missing_config_message(both),
              "Keine Konfigurationsdatei gefunden. Gesucht in dieser Reihenfolge:\n"
              "  /w/velmora.cfg\n"
              "  /u/velmora.cfg\n"
              "Mit --example-if-missing legt velmora /u/velmora.cfg als Beispiel an.");
    EXPECT_EQ(missing_config_message(std::vector<ConfigCandidate>(both.begin(), both.begin() + 1)),
              "Keine Konfigurationsdatei gefunden. Gesucht in dieser Reihenfolge:\n"
              "  /w/velmora.cfg\n"
              "  (kein Konfigurationsordner des Benutzers: weder XDG_CONFIG_HOME noch HOME ist ein absoluter "
              "Pfad)");
    EXPECT_EQ(check_summary("/a.cfg", 2, 0), "/a.cfg: 2 Server, alle Zeilen angenommen.");
    EXPECT_EQ(check_summary("/a.cfg", 1, 1), "/a.cfg: 1 Server, 1 Zeile nicht angenommen.");
    EXPECT_EQ(check_summary("/a.cfg", 0, 3), "/a.cfg: kein Server, 3 Zeilen nicht angenommen.");
    EXPECT_EQ(write_problem(ENOTDIR), "ein Teil des Pfads ist kein Verzeichnis");
    EXPECT_EQ(write_problem(EACCES), "keine Schreibberechtigung");
    EXPECT_EQ(write_problem(9999), "Fehler 9999");
    for (const auto& [path, folder] : std::vector<std::pair<std::string, std::string>>{
             {"/a/b/velmora.cfg", "/a/b"}, {"/velmora.cfg", "/"}, {"velmora.cfg", ""}, {"a/v.cfg", "a"}})
        EXPECT_EQ(parent_folder(path), folder) << path;
}

} // namespace
