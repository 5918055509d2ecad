// Running a command line through the system shell.
#include "rt/files.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

int rt_shell(std::string_view command) {
    if (command.empty()) return -1;
    std::string cmd(command);
    std::fflush(nullptr);
    int status = std::system(cmd.c_str());
    // The runtime never takes the terminal into a mode of its own, so there is nothing to hand back here.
    if (status == -1 || (status & 0x7F) != 0) return status;
    int code = (status >> 8) & 0xFF;
    return code == 127 ? -1 : code;
}
