#include "app/tool_check.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool runnable_program(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool on_search_path(std::string_view tool, std::string_view search_path) {
    for (std::size_t start = 0;;) {
        const std::size_t colon = search_path.find(':', start);
        std::string_view folder =
            search_path.substr(start, colon == std::string_view::npos ? colon : colon - start);
        if (folder.empty()) folder = ".";
        std::string path(folder);
        path += '/';
        path += tool;
        if (runnable_program(path)) return true;
        if (colon == std::string_view::npos) return false;
        start = colon + 1;
    }
}

} // namespace

std::vector<std::string_view> tools_needed(const ServerTable& table) {
    std::vector<std::string_view> tools{"nslookup", "nmap", "ping"};
    for (int i = 0; i < table.server_count; ++i) {
        if (table.servers[i].http_target.empty()) continue;
        tools.push_back("httping");
        break;
    }
    return tools;
}

std::vector<std::string_view> tools_missing(const std::vector<std::string_view>& tools,
                                            std::string_view search_path) {
    std::vector<std::string_view> missing;
    for (std::string_view tool : tools)
        if (!on_search_path(tool, search_path)) missing.push_back(tool);
    return missing;
}

std::string shell_search_path() {
    if (const char* path = std::getenv("PATH")) return path;
    std::string fallback(confstr(_CS_PATH, nullptr, 0), '\0');
    if (fallback.empty()) return {};
    confstr(_CS_PATH, fallback.data(), fallback.size());
    fallback.pop_back(); // the terminating zero
    return fallback;
}

std::string missing_tool_message(std::string_view tool) {
    return "velmora: Das Werkzeug " + std::string(tool) +
           " ist im Suchpfad (PATH) nicht zu finden; was es misst, fehlt in der Anzeige.";
}
