// The configuration file: terminal command, proxy, and the servers with their expected ports
// and HTTP targets. Read once at start-up; once read, all its servers are probed at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/server_table.h"

inline constexpr std::string_view CONFIG_FILE_NAME = "velmora.cfg";
inline constexpr int MAX_EXPECTED_PORTS = 10;
// Longest line taken from the file, in bytes; a longer one is reported and ignored.
inline constexpr std::size_t MAX_CONFIG_LINE = 4096;

// Told the name of each server when its name lookup and port scan are done; they may take seconds.
using ServerNotice = void (*)(std::string_view name);
// Told how many servers are about to be probed.
using ProbeStart = void (*)(int servers);

// Which file is read, and whether its servers are probed once it is read.
struct ConfigSource {
    std::string path = std::string(CONFIG_FILE_NAME); // as opened; the line messages name it so
    std::string shown; // as the messages about the whole file name it; empty: path in the working folder
    ServerNotice notice = nullptr;
    ProbeStart probing = nullptr;
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
// or names no server. notice is told each server as its probes end.
[[nodiscard]] bool read_configuration(ServerTable& table, DashboardState& state,
                                      ServerNotice notice = nullptr);

// Runs every server's name lookup and then its port scan, all servers at once, each into its own record, and
// returns when all are done: start-up lasts as long as the slowest server, not the sum of all. done, if set,
// is told each server's name on the calling thread as its probes end.
void probe_servers_at_once(ServerTable& table, ServerNotice done);

// Adds the line as the next server, not yet probed. The caller makes sure there is room and that the line
// is accepted by check_host.
void add_unprobed_server(ServerTable& table, std::string_view line);
