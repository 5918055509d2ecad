#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/config.h"
#include "app/dashboard.h"
#include "app/options.h"
#include "app/png_writer.h"
#include "app/server_table.h"
#include "gfx/screen.h"
#include "rt/clock.h"
#include "rt/runtime.h"
#include "x11/x11_driver.h"

#ifndef VELMORA_VERSION
#error "VELMORA_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace {

// The program's single table and state; they live for the whole run.
ServerTable g_table;
DashboardState g_state;

// set-mode flags that choose the null driver: the snapshot needs no display.
constexpr int NULL_DRIVER_FLAGS = -1;

// Start-up probes every server before anything is shown; on a terminal the user sees why it takes long.
void announce_server(std::string_view name) {
    std::fprintf(stderr, "velmora: Prüfe Server %.*s (Namensauflösung und Portscan) ...\n",
                 static_cast<int>(name.size()), name.data());
}

ServerNotice startup_notice() {
    return isatty(STDERR_FILENO) ? announce_server : nullptr;
}

bool set_in_environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// KORVID=null runs the window mode without any display (driver names match without regard to case).
bool null_driver_chosen() {
    const char* wanted = std::getenv("KORVID");
    return wanted != nullptr && strcasecmp(wanted, "null") == 0;
}

int run_window() {
    // Checked before the start-up probes so that a missing display does not cost their seconds first.
    if (!set_in_environment("DISPLAY") && !null_driver_chosen()) {
        std::fprintf(stderr,
                     "velmora: Keine X-Anzeige: DISPLAY ist nicht gesetzt. Starten Sie velmora in einer "
                     "grafischen Sitzung oder geben Sie die Anzeige an (z. B. DISPLAY=:0); ohne Anzeige "
                     "schreibt \"velmora --snapshot bild.png\" ein Bild.\n");
        return 1;
    }
    if (!read_configuration(g_table, g_state, startup_notice())) return 1;
    if (!setup_screen(g_state, g_table.server_count)) {
        const char* cause = x11_open_failure();
        std::fprintf(stderr, "velmora: X11: %s.\n", *cause ? cause : "Das Fenster lässt sich nicht öffnen");
        return 1;
    }
    // From here a signal ends the program as the close button does: the display mode restored, the grabs
    // released, the shared segment gone.
    rt_catch_stop_signals();
    main_loop(g_table, g_state);
    return 0;
}

// The picture is written after the whole run; a path that cannot take it is refused before that run.
std::string snapshot_target_problem(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return "der Name gehört zu einem Verzeichnis";
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return "das Verzeichnis existiert nicht";
    if (access(dir.c_str(), W_OK | X_OK) != 0) return "keine Schreibberechtigung im Verzeichnis";
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
    if (!read_configuration(g_table, g_state, startup_notice())) return 1;
    if (!setup_screen(g_state, g_table.server_count, NULL_DRIVER_FLAGS)) {
        std::fprintf(stderr, "velmora: Für den Schnappschuss fehlt der Speicher für das Bild.\n");
        return 1;
    }
    main_loop(g_table, g_state, rt_timer() + options.seconds);
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
    case RunMode::WINDOW: break;
    }
    return run_window();
}
