// The configuration file: terminal command, proxy, and the servers with their expected ports
// and HTTP targets. Read once at start-up; every server is probed as it is added.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/server_table.h"

inline constexpr std::string_view CONFIG_FILE_NAME = "velmora.cfg";
inline constexpr int MAX_EXPECTED_PORTS = 10;
// Longest line taken from the file, in bytes; a longer one is reported and ignored.
inline constexpr std::size_t MAX_CONFIG_LINE = 4096;

// Told the name of each server just before its name lookup and port scan start; they may take seconds.
using ServerNotice = void (*)(std::string_view name);

// Which file is read, and whether its servers are probed as they are added.
struct ConfigSource {
    std::string path = std::string(CONFIG_FILE_NAME); // as opened; the line messages name it so
    std::string shown; // as the messages about the whole file name it; empty: path in the working folder
    ServerNotice notice = nullptr;
    bool probe = true; // false: the servers go into the table unprobed and no tool runs (--check)
};

struct ConfigResult {
    bool opened = false;   // the file could be opened
    bool ok = false;       // the file was read and names a server
    int refused_lines = 0; // lines reported as ignored, skipped or replaced by nothing
};

// Reads the file into the table and the state. Problems go to stderr in German, naming the line.
[[nodiscard]] ConfigResult read_configuration(const ConfigSource& source, ServerTable& table,
                                              DashboardState& state);

// Reads velmora.cfg from the working directory, probing every server. False when the file cannot be read
// or names no server.
[[nodiscard]] bool read_configuration(ServerTable& table, DashboardState& state,
                                      ServerNotice notice = nullptr);

// Adds the line as the next server and runs its name lookup and port scan. The caller makes sure
// there is room and that the line is safe to paste into a command.
void add_server(ServerTable& table, std::string_view line);
// The same without the probes.
void add_unprobed_server(ServerTable& table, std::string_view line);
