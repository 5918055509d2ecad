#include "app/command_lines.h"

#include <mutex>
#include <utility>

#include "rt/files.h"

namespace {

// The start-up probes run their tools from several threads at once.
std::mutex watcher_lock;
CommandWatcher command_watcher;

// A free number and the command opened under it. Another thread may take the number between the two steps;
// then the next free one is tried.
int open_command(const std::string& command) {
    for (;;) {
        const int n = rt_free_file();
        if (rt_open_pipe(command, n) != RT_NOT_ALLOWED || n == 0) return n;
    }
}

} // namespace

void read_command_lines(const std::string& command, const LineHandler& handle) {
    {
        const std::lock_guard hold(watcher_lock);
        if (command_watcher) command_watcher(command);
    }
    const int n = open_command(command);
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
