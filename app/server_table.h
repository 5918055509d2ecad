// What the dashboard knows about its servers, and the few program-wide values beside them.
//
// Plain data; the probes, the configuration reader and the panels write the fields directly. The table is
// the frame's: each server's tools run on a worker of their own (app/server_workers.h), on the worker's own
// copy, whose results the frame takes whole between two frames.
#pragma once

#include <array>
#include <cstdint>
#include <string>

inline constexpr int MAX_SERVERS = 6;
inline constexpr int PANEL_HEIGHT = 200;
// Port lines and expected ports use entries 1..10; entry 0 stays empty.
inline constexpr int PORT_SLOTS = 11;
// Histories use entries 1..100, entry 100 the newest; entry 0 is never touched.
inline constexpr int HISTORY_LENGTH = 100;
inline constexpr int HISTORY_SLOTS = HISTORY_LENGTH + 1;
inline constexpr int DEFAULT_INTERVAL = 3;

struct ServerRecord {
    std::string name; // the configuration line as read, the host argument of every tool
    std::string ip;
    std::string alias;
    std::array<std::string, PORT_SLOTS> nmap_lines;
    std::array<std::string, PORT_SLOTS> expected_ports;
    std::array<double, HISTORY_SLOTS> ping_history{};
    std::array<double, HISTORY_SLOTS> http_history{};
    std::array<std::string, HISTORY_SLOTS> ping_times;
    std::array<std::string, HISTORY_SLOTS> http_times;
    std::string http_target; // empty: no HTTP probe
    int64_t last_probe = 0;  // whole seconds of the clock
    uint8_t up = 0;
    int8_t interval = 0; // seconds between latency probes, 1..10 once added
    // Added from the configuration and its first lookup and scan not ended yet: nothing is known, so the
    // panel shows neither the host-down notice nor missing ports, and no latency probe is due.
    bool awaiting_scan = false;
};

struct ServerTable {
    std::array<ServerRecord, MAX_SERVERS> servers;
    uint8_t server_count = 0;
};

struct DashboardState {
    uint16_t screen_width = 0;
    uint16_t screen_height = 0;
    int64_t mouse_x = 0;
    int64_t mouse_y = 0;
    int64_t mouse_wheel = 0;
    int64_t mouse_buttons = 0;
    double last_click = 0;
    std::string terminal_command;
    std::string proxy; // empty: no proxy
};
