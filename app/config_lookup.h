// Where the configuration file is looked for: the working folder, then the user's configuration folder;
// a file named on the command line replaces both. Decisions only; the caller asks the file system.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class ConfigPlace {
    GIVEN,       // --config FILE: the only place looked
    WORKING_DIR, // velmora.cfg in the working folder
    USER,        // $XDG_CONFIG_HOME/velmora/velmora.cfg, by default ~/.config/velmora/velmora.cfg
};

struct ConfigCandidate {
    ConfigPlace place = ConfigPlace::WORKING_DIR;
    std::string path;  // as opened
    std::string shown; // as messages name it: absolute when the working folder is known
    // A folder that must already be there before folders are made for the example: the home folder, when
    // the place was found through HOME. A missing home is not made up.
    std::string base;
};

// What the lookup starts from. Unset environment variables are nothing; set ones are taken as they are.
struct ConfigLookup {
    std::string given;       // --config, empty when not given
    std::string working_dir; // absolute; empty when unknown
    std::optional<std::string> xdg_config_home;
    std::optional<std::string> home;
};

// The places in the order they are looked at. Relative values of XDG_CONFIG_HOME and HOME are ignored,
// as the XDG rules ask; without an absolute HOME there is no user place.
[[nodiscard]] std::vector<ConfigCandidate> config_candidates(const ConfigLookup& lookup);

enum class ConfigAction {
    READ,          // read candidates[index]
    WRITE_EXAMPLE, // write the example to candidates[index] (the user place), then read it
    NONE,          // nothing to read: say where it was looked for
};

struct ConfigChoice {
    ConfigAction action = ConfigAction::NONE;
    std::size_t index = 0;
};

// present[i]: something is at candidates[i]. A given file is read even when it is not there, so that the
// reader names it. The example only ever goes to the user place, and only when nothing was found.
[[nodiscard]] ConfigChoice choose_config(std::span<const ConfigCandidate> candidates,
                                         const std::vector<bool>& present, bool example_if_missing);

// The German text, without a trailing newline, for when no file was found: every place, in order.
[[nodiscard]] std::string missing_config_message(std::span<const ConfigCandidate> candidates);

// examples/velmora.cfg, byte for byte: a start that watches only this machine.
extern const std::string_view EXAMPLE_CONFIG;

// The text, without a trailing newline, for why the example could not be written (an errno value).
[[nodiscard]] std::string write_problem(int error);

// The one line --check prints: the file, its servers, and how many lines were not accepted.
[[nodiscard]] std::string check_summary(std::string_view file, int servers, int refused_lines);

// The folder that holds the file at path (everything before the last '/'); empty when there is none.
[[nodiscard]] std::string parent_folder(std::string_view path);
