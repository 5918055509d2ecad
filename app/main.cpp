// The program's entry point: reads the command line and runs the dashboard window, a snapshot picture or
// the configuration check, or prints the help or the version.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "app/config.h"
#include "app/config_lookup.h"
#include "app/dashboard.h"
#include "app/options.h"
#include "app/png_writer.h"
#include "app/server_table.h"
#include "app/server_workers.h"
#include "app/tool_check.h"
#include "gfx/screen.h"
#include "rt/clock.h"
#include "rt/new_files.h"
#include "rt/runtime.h"
#include "x11/x11_driver.h"

#ifndef VELMORA_VERSION
#error "VELMORA_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace {

// The program's single table and state, and the workers that run its servers' tools; they live for the
// whole run.
ServerTable g_table;
DashboardState g_state;
ServerWorkers g_workers;

// set-mode flags that choose the null driver: the snapshot needs no display.
constexpr int NULL_DRIVER_FLAGS = -1;

// The start-up probes may take long; on a terminal the user sees that they run, and which servers are done.
// One line each, so that nothing runs into another.
void announce_probes(int servers) {
    std::fprintf(stderr, "velmora: Prüfe %d Server (Namensauflösung und Portscan) ...\n", servers);
}

void announce_server(std::string_view name) {
    std::fprintf(stderr, "velmora: Server %.*s geprüft.\n", static_cast<int>(name.size()), name.data());
}

// A tool the probes need that is not on the search path is named, once, before any probe runs: without it
// the panel would only say that the host does not answer.
void say_missing_tools() {
    for (std::string_view tool : tools_missing(tools_needed(g_table), shell_search_path()))
        std::fprintf(stderr, "%s\n", missing_tool_message(tool).c_str());
}

bool progress_on_terminal = false;

void before_probes(int servers) {
    say_missing_tools();
    if (progress_on_terminal) announce_probes(servers);
}

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

std::string current_folder() {
    std::string dir(4096, '\0');
    if (getcwd(dir.data(), dir.size()) == nullptr) return {};
    dir.resize(dir.find('\0'));
    return dir;
}

// The file to read, after --example-if-missing has had its say; nothing when there is none, which has
// then been said on stderr, naming every place looked.
std::optional<ConfigCandidate> find_configuration(const Options& options) {
    const std::vector<ConfigCandidate> places =
        config_candidates({.given = options.config_file,
                           .working_dir = current_folder(),
                           .xdg_config_home = environment("XDG_CONFIG_HOME"),
                           .home = environment("HOME")});
    std::vector<bool> present;
    for (const ConfigCandidate& place : places) {
        // Anything under the name counts, even a dangling link, also one in place of a folder on the way:
        // reading it then says what is wrong with it, where looking on would quietly show some other file's
        // servers, or write the example through it.
        struct stat info {};
        present.push_back(lstat(place.path.c_str(), &info) == 0 ||
                          !rt_dangling_link(place.path).link.empty());
    }
    const ConfigChoice choice = choose_config(places, present, options.example_if_missing);
    if (choice.action == ConfigAction::READ) return places[choice.index];
    if (choice.action == ConfigAction::WRITE_EXAMPLE) {
        const ConfigCandidate& place = places[choice.index];
        struct stat base {};
        int error = 0;
        if (!place.base.empty() && (stat(place.base.c_str(), &base) != 0 || !S_ISDIR(base.st_mode)))
            error = ENOENT;
        std::vector<std::string> made;
        if (error == 0) error = rt_make_folders(parent_folder(place.path), &made);
        if (error == 0) error = rt_write_new_file(place.path, EXAMPLE_CONFIG);
        // Folders made for a file that is not there are taken back; they were made for nothing.
        if (error != 0 && error != EEXIST) rt_remove_folders(made);
        if (error == 0) {
            std::fprintf(
                stderr,
                "velmora: Keine Konfigurationsdatei gefunden; das Beispiel (nur dieser Rechner) steht "
                "jetzt in %s und kann dort angepasst werden.\n",
                place.shown.c_str());
            return place;
        }
        // Something came in between: it is read as it is, never replaced.
        if (error == EEXIST) return place;
        std::fprintf(stderr, "velmora: Das Beispiel lässt sich nicht als %s anlegen: %s.\n",
                     place.shown.c_str(), write_problem(error).c_str());
    }
    std::fprintf(stderr, "velmora: %s\n", missing_config_message(places).c_str());
    return std::nullopt;
}

// Looks for the file and reads it, with the start-up probes when probe is set; else the workers run them.
bool load_configuration(const Options& options, bool probe) {
    const std::optional<ConfigCandidate> place = find_configuration(options);
    if (!place) return false;
    const bool terminal = isatty(STDERR_FILENO);
    progress_on_terminal = terminal;
    const ConfigSource source{.path = place->path,
                              .shown = place->shown,
                              .notice = terminal ? announce_server : nullptr,
                              .probing = before_probes,
                              .probe = probe};
    return read_configuration(source, g_table, g_state).ok;
}

// Reads the file as the dashboard would, without running any tool, and sums up in one line on stdout.
int run_check(const Options& options) {
    const std::optional<ConfigCandidate> place = find_configuration(options);
    if (!place) return 1;
    const ConfigResult result = read_configuration(
        {.path = place->path, .shown = place->shown, .notice = nullptr, .probing = nullptr, .probe = false},
        g_table, g_state);
    if (!result.opened) return 1;
    if (result.ok) say_missing_tools();
    std::printf("%s\n", check_summary(place->shown, g_table.server_count, result.refused_lines).c_str());
    return result.ok && result.refused_lines == 0 ? 0 : 1;
}

bool set_in_environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// What the window and the snapshot do differently around the shared configure -> set up -> loop sequence.
struct RunPlan {
    int mode_flags;      // for setup_screen: 0 for the window, NULL_DRIVER_FLAGS for the snapshot
    void (*no_screen)(); // says on stderr why no screen opened
    double seconds;      // how long the loop runs once set up; infinity until the window is closed
    // The window opens at once and its panels fill as the start-up probes end beside it. The snapshot is
    // a picture of the servers probed: its probes end before its loop starts, and the jobs its last frame
    // handed over before its picture is taken.
    bool probes_beside;
};

enum class RunEnd {
    FINISHED, // the loop ran its time, or the window was closed
    STOPPED,  // a stop was requested: a signal, or the close request
    FAILED    // the configuration or the screen failed, which has then been said on stderr
};

// Reads the configuration, sets up the screen, starts the servers' workers and runs the frames; the screen
// comes before any tool, so that one that cannot be had is said at once. The stop signals are caught before
// the first tool starts, so that a stop ends whatever runs and leaves no tool behind.
RunEnd configure_and_run(const Options& options, const RunPlan& plan) {
    rt_catch_stop_signals();
    // A stop while the file is read leaves it unread, which is said and is a failure; one during the
    // probes ends the run as a stop.
    if (!load_configuration(options, !plan.probes_beside)) return RunEnd::FAILED;
    if (rt_stop_requested()) return RunEnd::STOPPED;
    if (!setup_screen(g_state, g_table.server_count, plan.mode_flags)) {
        plan.no_screen();
        return RunEnd::FAILED;
    }
    if (plan.probes_beside) {
        before_probes(g_table.server_count);
        if (progress_on_terminal) g_workers.first_scan_done = announce_server;
    }
    start_server_workers(g_workers, g_table, g_state.proxy, plan.probes_beside);
    main_loop(g_table, g_state, rt_timer() + plan.seconds, &g_workers);
    bool stopped = rt_stop_requested();
    if (!stopped && !plan.probes_beside) {
        wait_until_idle(g_workers);
        draw_frame(g_table, g_state, &g_workers);
        stopped = rt_stop_requested();
    }
    // Whatever tool still runs is ended (SIGTERM to its group, SIGKILL after the grace), so the workers end.
    rt_request_stop();
    stop_server_workers(g_workers);
    return stopped ? RunEnd::STOPPED : RunEnd::FINISHED;
}

void say_no_window() {
    const char* cause = x11_open_failure();
    std::fprintf(stderr, "velmora: X11: %s.\n", *cause ? cause : "Das Fenster lässt sich nicht öffnen");
}

void say_no_picture() {
    std::fprintf(stderr, "velmora: Für den Schnappschuss fehlt der Speicher für das Bild.\n");
}

int run_window(const Options& options) {
    // Checked before anything else so that a missing display is said at once; KORVID=null runs the window
    // mode without any display.
    if (!set_in_environment("DISPLAY") && !gfx_null_driver_requested()) {
        std::fprintf(stderr,
                     "velmora: Keine X-Anzeige: DISPLAY ist nicht gesetzt. Starten Sie velmora in einer "
                     "grafischen Sitzung oder geben Sie die Anzeige an (z. B. DISPLAY=:0); ohne Anzeige "
                     "schreibt \"velmora --snapshot bild.png\" ein Bild.\n");
        return 1;
    }
    // A signal ends the program as the close button does, from the start-up probes on: the display mode
    // restored, the grabs released, the shared segment gone.
    // Panels too many for the screen's height go into columns, each panel whole.
    x11_set_window_fit(options.scale, PANEL_HEIGHT);
    const RunPlan plan{.mode_flags = 0,
                       .no_screen = say_no_window,
                       .seconds = std::numeric_limits<double>::infinity(),
                       .probes_beside = true};
    return configure_and_run(options, plan) == RunEnd::FAILED ? 1 : 0;
}

// The picture is written after the whole run; a path that cannot take it is refused before that run.
std::string snapshot_target_problem(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return describe_write_error(EISDIR);
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return describe_write_error(ENOENT);
    if (access(dir.c_str(), W_OK | X_OK) != 0) return describe_write_error(EACCES) + " im Verzeichnis";
    return {};
}

int refuse_snapshot(const std::string& path, const std::string& problem) {
    std::fprintf(stderr, "velmora: Das Bild %s lässt sich nicht schreiben: %s.\n", path.c_str(),
                 problem.c_str());
    return 1;
}

int run_snapshot(const Options& options) {
    std::string problem = snapshot_target_problem(options.snapshot_file);
    if (!problem.empty()) return refuse_snapshot(options.snapshot_file, problem);
    const RunPlan plan{.mode_flags = NULL_DRIVER_FLAGS,
                       .no_screen = say_no_picture,
                       .seconds = static_cast<double>(options.seconds),
                       .probes_beside = false};
    switch (configure_and_run(options, plan)) {
    case RunEnd::FAILED: return 1;
    case RunEnd::STOPPED:
        // A picture of a run cut short would pass for the whole run.
        std::fprintf(stderr, "velmora: Abgebrochen, bevor die Laufzeit um war; kein Bild geschrieben.\n");
        return 1;
    case RunEnd::FINISHED: break;
    }
    const ScreenContext& screen = *gfx_screen();
    problem =
        write_png(options.snapshot_file, screen.visible_pixels, screen.width, screen.height, screen.pitch);
    if (!problem.empty()) return refuse_snapshot(options.snapshot_file, problem);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    rt_init(argc, argv);
    x11_install_driver();
    const Options options =
        parse_options(std::span<const char* const>(argv + (argc > 0 ? 1 : 0), argc > 0 ? argc - 1 : 0));
    switch (options.mode) {
    case RunMode::HELP: std::fputs(usage_text().c_str(), stdout); return 0;
    case RunMode::VERSION: std::printf("velmora Version %s\n", VELMORA_VERSION); return 0;
    case RunMode::INVALID:
        std::fprintf(stderr, "velmora: %s Hilfe: velmora --help\n", options.error.c_str());
        return 2;
    case RunMode::SNAPSHOT: return run_snapshot(options);
    case RunMode::CHECK: return run_check(options);
    case RunMode::WINDOW: break;
    }
    return run_window(options);
}
