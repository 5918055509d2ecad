// Lines of text: the rest of a line from a column, and the lines a tool command prints.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// The line from position pos on; empty when the line is not longer than pos.
[[nodiscard]] inline std::string rest_from(std::string_view line, std::size_t pos) {
    return pos < line.size() ? std::string(line.substr(pos)) : std::string();
}

// Nothing but blanks, or nothing at all. A blank host, HTTP target or proxy counts as none given.
[[nodiscard]] inline bool is_blank(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

using LineHandler = std::function<void(std::string_view line)>;

// Runs the command through the shell and feeds every line of its standard output to the handler.
// Reading goes on to the end, so the tool never blocks on a full pipe.
void read_command_lines(const std::string& command, const LineHandler& handle);

// Sees every command line exactly as it goes to the shell, before it runs; empty: nobody watches.
// Lets the tests compare the line itself, blanks included, which the shell would hide from the tool.
using CommandWatcher = std::function<void(std::string_view command)>;
void set_command_watcher(CommandWatcher watcher);
