#include "app/config_lookup.h"

#include <cerrno>

#include "app/config.h"

namespace {

bool absolute(const std::optional<std::string>& path) {
    return path.has_value() && path->starts_with('/');
}

// "/home/a/" and "/home/a" name the same folder; the joined path should not show "//".
std::string join(std::string folder, std::string_view rest) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder != "/") folder += '/';
    return folder + std::string(rest);
}

std::string shown_path(const std::string& working_dir, const std::string& path) {
    if (path.starts_with('/')) return path;
    return working_dir.empty() ? "./" + path : join(working_dir, path);
}

} // namespace

std::vector<ConfigCandidate> config_candidates(const ConfigLookup& lookup) {
    if (!lookup.given.empty())
        return {{ConfigPlace::GIVEN, lookup.given, shown_path(lookup.working_dir, lookup.given), ""}};
    const std::string name(CONFIG_FILE_NAME);
    std::vector<ConfigCandidate> places = {
        {ConfigPlace::WORKING_DIR, name, shown_path(lookup.working_dir, name), ""}};
    std::optional<std::string> config_home;
    std::string base;
    if (absolute(lookup.xdg_config_home)) {
        config_home = *lookup.xdg_config_home;
    } else if (absolute(lookup.home)) {
        config_home = join(*lookup.home, ".config");
        base = *lookup.home;
    }
    if (config_home) {
        const std::string path = join(*config_home, "velmora/" + name);
        places.push_back({ConfigPlace::USER, path, path, base});
    }
    return places;
}

ConfigChoice choose_config(std::span<const ConfigCandidate> candidates, const std::vector<bool>& present,
                           bool example_if_missing) {
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const bool there = i < present.size() && present[i];
        if (there || candidates[i].place == ConfigPlace::GIVEN) return {ConfigAction::READ, i};
    }
    if (example_if_missing) {
        for (std::size_t i = 0; i < candidates.size(); ++i)
            if (candidates[i].place == ConfigPlace::USER) return {ConfigAction::WRITE_EXAMPLE, i};
    }
    return {};
}

std::string missing_config_message(std::span<const ConfigCandidate> candidates) {
    std::string text = "Keine Konfigurationsdatei gefunden. Gesucht in dieser Reihenfolge:";
    const ConfigCandidate* user = nullptr;
    for (const ConfigCandidate& c : candidates) {
        text += "\n  " + c.shown;
        if (c.place == ConfigPlace::USER) user = &c;
    }
    if (user == nullptr) {
        text += "\n  (kein Konfigurationsordner des Benutzers: weder XDG_CONFIG_HOME noch HOME ist ein "
                "absoluter Pfad)";
        return text;
    }
    return text + "\nMit --example-if-missing legt velmora " + user->shown + " als Beispiel an.";
}

std::string parent_folder(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

std::string write_problem(int error) {
    switch (error) {
    case EACCES:
    case EPERM: return "keine Schreibberechtigung";
    case ENOTDIR: return "ein Teil des Pfads ist kein Verzeichnis";
    case EROFS: return "das Dateisystem ist schreibgeschützt";
    case ENOSPC:
    case EDQUOT: return "kein Platz mehr";
    case ENAMETOOLONG: return "der Pfad ist zu lang";
    case ELOOP: return "zu viele symbolische Verknüpfungen";
    case ENOENT: return "ein Teil des Pfads fehlt";
    default: return "Fehler " + std::to_string(error);
    }
}

std::string check_summary(std::string_view file, int servers, int refused_lines) {
    std::string text = std::string(file) + ": ";
    text += servers == 0 ? "kein Server" : std::to_string(servers) + " Server";
    if (refused_lines == 0) return text + ", alle Zeilen angenommen.";
    text += ", " + std::to_string(refused_lines) + (refused_lines == 1 ? " Zeile" : " Zeilen");
    return text + " nicht angenommen.";
}
