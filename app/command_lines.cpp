#include "app/command_lines.h"

#include <utility>

#include "rt/files.h"

namespace {

CommandWatcher command_watcher;

} // namespace

void read_command_lines(const std::string& command, const LineHandler& handle) {
    if (command_watcher) command_watcher(command);
    const int n = rt_free_file();
    rt_open_pipe(command, n);
    std::string line;
    while (!rt_eof(n)) {
        rt_line_input(n, line);
        handle(line);
    }
    rt_close(n);
}

void set_command_watcher(CommandWatcher watcher) {
    command_watcher = std::move(watcher);
}
