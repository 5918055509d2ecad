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

// The factor as one digit from 1 to 4.
bool parse_scale_option(std::string_view text, int& scale) {
    if (text.size() != 1 || text[0] < '1' || text[0] > '4') return false;
    scale = text[0] - '0';
    return true;
}

} // namespace

Options parse_options(std::span<const char* const> args) {
    Options o;
    bool seconds_given = false;
    bool check = false;
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
        if (arg == "--check") {
            check = true;
            continue;
        }
        if (arg == "--example-if-missing") {
            o.example_if_missing = true;
            continue;
        }
        if (arg == "--scale") {
            const std::string_view value = i + 1 < args.size() && args[i + 1] ? args[i + 1] : "";
            if (value.empty()) return invalid("Option --scale braucht einen Wert.");
            ++i;
            if (!parse_scale_option(value, o.scale))
                return invalid("--scale erwartet eine ganze Zahl von 1 bis 4, nicht \"" + std::string(value) +
                               "\".");
            continue;
        }
        if (arg == "--snapshot" || arg == "--seconds" || arg == "--config" || arg == "-c") {
            if (i + 1 >= args.size() || args[i + 1] == nullptr || args[i + 1][0] == '\0')
                return invalid("Option " + std::string(arg) + " braucht einen Wert.");
            const std::string_view value = args[++i];
            if (arg == "--snapshot" || arg == "--config" || arg == "-c") {
                // "--snapshot --seconds 5" forgot the file; writing a picture named "--seconds" would hide
                // it. A file whose name starts with '-' can still be named as ./-name.
                if (value.starts_with("-"))
                    return invalid("Option " + std::string(arg) + " braucht einen Dateinamen.");
                if (arg == "--snapshot") {
                    o.mode = RunMode::SNAPSHOT;
                    o.snapshot_file = std::string(value);
                } else {
                    o.config_file = std::string(value);
                }
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
    if (check && o.mode == RunMode::SNAPSHOT) return invalid("--check und --snapshot schließen sich aus.");
    if (seconds_given && o.mode != RunMode::SNAPSHOT)
        return invalid("--seconds gilt nur zusammen mit --snapshot.");
    if (o.scale != 0 && (check || o.mode == RunMode::SNAPSHOT))
        return invalid("--scale gilt nur für das Fenster, nicht mit --check oder --snapshot.");
    if (check) o.mode = RunMode::CHECK;
    return o;
}

std::string usage_text() {
    return "Aufruf: velmora [-c DATEI] [--example-if-missing] [--snapshot DATEI.png [--seconds N]]\n"
           "       velmora [-c DATEI] [--example-if-missing] [--scale N]\n"
           "       velmora --check [-c DATEI] [--example-if-missing]\n"
           "       velmora --help | --version\n"
           "\n"
           "Zeigt den Zustand der Server aus der Konfigurationsdatei velmora.cfg in einem X11-Fenster\n"
           "(DISPLAY muss gesetzt sein). Das Schließen des Fensters beendet das Programm.\n"
           "\n"
           "Die Konfigurationsdatei wird in dieser Reihenfolge gesucht:\n"
           "  1. velmora.cfg im aktuellen Verzeichnis\n"
           "  2. $XDG_CONFIG_HOME/velmora/velmora.cfg, ohne XDG_CONFIG_HOME ~/.config/velmora/velmora.cfg\n"
           "Mit --config wird nur die genannte Datei gelesen.\n"
           "\n"
           "  -c, --config DATEI    liest DATEI statt der gesuchten Konfigurationsdatei\n"
           "  --example-if-missing  findet sich keine Konfigurationsdatei, wird zuerst das Beispiel (nur\n"
           "                        dieser Rechner) am 2. Ort angelegt; eine vorhandene Datei bleibt, wie\n"
           "                        sie ist\n"
           "  --snapshot DATEI.png  ohne Anzeige: läuft nach den Startproben N Sekunden lang mit allen\n"
           "                        Proben und schreibt dann das Bild des Fensters als PNG\n"
           "  --seconds N           Laufzeit für --snapshot in Sekunden (Standard 10, 0 = ein Bild)\n"
           "  --scale N             zeigt jeden Bildpunkt als N x N Punkte des Fensters (1 bis 4); ohne\n"
           "                        die Option gilt GDK_SCALE, sonst die Xft.dpi-Einstellung des Desktops\n"
           "                        (je 96 dpi ein Faktor, gerundet)\n"
           "  --check               prüft nur die Konfigurationsdatei, ohne ein Werkzeug zu starten;\n"
           "                        Status 0, wenn jede Zeile angenommen wurde, sonst 1\n"
           "  --help                diese Hilfe\n"
           "  --version             die Version\n";
}
