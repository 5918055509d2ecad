// One server's panel: drawn, hit-tested and acted on in one call per frame.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/server_table.h"

// The clock the panel reads for click delays and probe schedules, in seconds since the epoch. rt_timer
// unless a test steers it.
using PanelClock = double (*)();
extern PanelClock panel_clock;

// Separators, the graph divider, the dashed value lines and the read-out; the main loop closes the last
// panel with a line in it, as every panel closes the one above.
inline constexpr uint32_t RULE_COLOUR = 0xFF888B8B;

// What the FTP and SSH buttons run inside the terminal; the host follows directly.
inline constexpr std::string_view FTP_SESSION = "ftp -nv ";
inline constexpr std::string_view SSH_SESSION = "ssh -X root@";

// The terminal command, a blank, and the session with the host in double quotes.
[[nodiscard]] std::string session_command(std::string_view terminal_command, std::string_view session,
                                          std::string_view host);

struct ServerWorker;

// Draws the panel of record with its top edge at y = top and acts on clicks. The reload click and the
// latency probes that are due go to the server's worker; without one they run here, and the frame waits.
// Runs inside a frame, on the frame's thread.
void draw_panel(ServerRecord& record, uint16_t top, DashboardState& state, ServerWorker* worker = nullptr);
