// Lines of text: the rest of a line from a column, and the lines a tool command prints.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The line from position pos on; empty when the line is not longer than pos.
[[nodiscard]] inline std::string rest_from(std::string_view line, std::size_t pos) {
    return pos < line.size() ? std::string(line.substr(pos)) : std::string();
}

// Nothing but blanks, or nothing at all. A blank host, HTTP target or proxy counts as none given.
[[nodiscard]] inline bool is_blank(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

using LineHandler = std::function<void(std::string_view line)>;

// A tool and its arguments, one word each: arguments[0] is found on PATH and started without a shell.
using ToolArguments = std::vector<std::string>;

// Runs the tool and feeds every line of its standard output to the handler. Reading goes on to the end, so
// the tool never blocks on a full pipe. Empty arguments, or an empty tool name, run nothing. Safe to call
// from several threads.
void read_command_lines(const ToolArguments& arguments, const LineHandler& handle);

// Sees every argument vector exactly as the tool will get it, before it starts; empty: nobody watches.
using CommandWatcher = std::function<void(const ToolArguments& arguments)>;
void set_command_watcher(CommandWatcher watcher);
