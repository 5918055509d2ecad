// Round-trip probes of one server through the system's ping and httping, and their histories.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "app/command_lines.h"
#include "app/server_table.h"

// The tools' argument vectors; empty, so that nothing runs, when the name, the target or a proxy that is
// not blank is refused by its check, or the target is blank. The proxy goes in with "-x" only when it is not
// empty or blank.
[[nodiscard]] ToolArguments ping_arguments(const ServerRecord& record);
[[nodiscard]] ToolArguments http_arguments(const ServerRecord& record, std::string_view proxy);

// The milliseconds of a line that holds "time=": the number right after it, blanks skipped,
// all of its digits. 0 when no number follows. The line must contain "time=".
[[nodiscard]] double parse_time_value(std::string_view line);

// Drops entry 1, moves 2..100 down by one and puts the sample and its stamp in entry 100.
void push_sample(std::array<double, HISTORY_SLOTS>& history, std::array<std::string, HISTORY_SLOTS>& times,
                 double sample, std::string stamp);

// Each runs its tool once, adds one sample per "time=" line and clears up on total loss ("100% packet loss",
// or httping's "100.00% failed"). A refused name, target or proxy, or a blank HTTP target, runs nothing.
void probe_ping(ServerRecord& record);
void probe_http(ServerRecord& record, std::string_view proxy);
