#include "app/command_lines.h"

#include <mutex>
#include <utility>

#include "rt/files.h"

namespace {

// The start-up probes run their tools from several threads at once.
std::mutex watcher_lock;
CommandWatcher command_watcher;

// A free number and the tool opened under it. Another thread may take the number between the two steps;
// then the next free one is tried.
int open_tool(const ToolArguments& arguments) {
    for (;;) {
        const int n = rt_free_file();
        if (rt_open_program(arguments, n) != RT_NOT_ALLOWED || n == 0) return n;
    }
}

} // namespace

void read_command_lines(const ToolArguments& arguments, const LineHandler& handle) {
    if (arguments.empty() || arguments[0].empty()) return; // rt_open_program would refuse every number
    {
        const std::lock_guard hold(watcher_lock);
        if (command_watcher) command_watcher(arguments);
    }
    const int n = open_tool(arguments);
    std::string line;
    while (!rt_eof(n)) {
        rt_line_input(n, line);
        handle(line);
    }
    rt_close(n);
}

void set_command_watcher(CommandWatcher watcher) {
    const std::lock_guard hold(watcher_lock);
    command_watcher = std::move(watcher);
}
