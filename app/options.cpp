#include "app/options.h"

#include <string_view>

namespace {

Options invalid(std::string message) {
    Options o;
    o.mode = RunMode::INVALID;
    o.error = std::move(message);
    return o;
}

// Whole seconds as plain decimal digits, nothing else: "5s", "-1" or "1e3" are refused rather than guessed.
bool parse_seconds(std::string_view text, uint32_t& seconds) {
    if (text.empty() || text.size() > 6) return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > MAX_SNAPSHOT_SECONDS) return false;
    seconds = value;
    return true;
}

} // namespace

Options parse_options(std::span<const char* const> args) {
    Options o;
    bool seconds_given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i] ? args[i] : "";
        if (arg == "--help" || arg == "-h") {
            o.mode = RunMode::HELP;
            return o;
        }
        if (arg == "--version") {
            o.mode = RunMode::VERSION;
            return o;
        }
        if (arg == "--snapshot" || arg == "--seconds") {
            if (i + 1 >= args.size() || args[i + 1] == nullptr || args[i + 1][0] == '\0')
                return invalid("Option " + std::string(arg) + " braucht einen Wert.");
            const std::string_view value = args[++i];
            if (arg == "--snapshot") {
                // "--snapshot --seconds 5" forgot the file; writing a picture named "--seconds" would hide
                // it.
                if (value.starts_with("-")) return invalid("Option --snapshot braucht einen Dateinamen.");
                o.mode = RunMode::SNAPSHOT;
                o.snapshot_file = std::string(value);
            } else {
                if (!parse_seconds(value, o.seconds))
                    return invalid("--seconds erwartet eine ganze Zahl von 0 bis " +
                                   std::to_string(MAX_SNAPSHOT_SECONDS) + ", nicht \"" + std::string(value) +
                                   "\".");
                seconds_given = true;
            }
            continue;
        }
        if (arg.starts_with("-")) return invalid("Unbekannte Option \"" + std::string(arg) + "\".");
    }
    if (seconds_given && o.mode != RunMode::SNAPSHOT)
        return invalid("--seconds gilt nur zusammen mit --snapshot.");
    return o;
}

std::string usage_text() {
    return "Aufruf: velmora [--snapshot DATEI.png [--seconds N]] [--help] [--version]\n"
           "\n"
           "Zeigt den Zustand der Server aus velmora.cfg im aktuellen Verzeichnis in einem X11-Fenster\n"
           "(DISPLAY muss gesetzt sein). Das Schließen des Fensters beendet das Programm.\n"
           "\n"
           "  --snapshot DATEI.png  ohne Anzeige: läuft nach den Startproben N Sekunden lang mit allen\n"
           "                        Proben und schreibt dann das Bild des Fensters als PNG\n"
           "  --seconds N           Laufzeit für --snapshot in Sekunden (Standard 10, 0 = ein Bild)\n"
           "  --help                diese Hilfe\n"
           "  --version             die Version\n";
}
