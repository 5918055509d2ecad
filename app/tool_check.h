// Whether the network tools the probes run can be found, so that a missing one is named rather than read
// as a host that does not answer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/server_table.h"

// The tools the table's probes run, in the order they first run: the lookup, the scan, the ping, and the
// HTTP probe when a server has an HTTP target.
[[nodiscard]] std::vector<std::string_view> tools_needed(const ServerTable& table);

// Those of the tools that no folder of the search path (PATH's syntax: folders between colons, an empty one
// the working folder) holds as a program we may run.
[[nodiscard]] std::vector<std::string_view> tools_missing(const std::vector<std::string_view>& tools,
                                                          std::string_view search_path);

// The search path the shell uses for our commands: PATH, or the system's default when it is not set.
[[nodiscard]] std::string shell_search_path();

// The German line (without its line feed) that names a missing tool.
[[nodiscard]] std::string missing_tool_message(std::string_view tool);
