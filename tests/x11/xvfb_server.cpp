#include "xvfb_server.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

XvfbServer start_x_server(const std::string& path, const std::vector<std::string>& args) {
    XvfbServer server;
    int ready[2];
    if (pipe(ready) != 0) return server;
    std::vector<std::string> argv_text = {path, "-displayfd", std::to_string(ready[1])};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& a : argv_text) argv.push_back(a.data());
        argv.push_back(nullptr);
        close(ready[0]);
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDERR_FILENO), dup2(null, STDOUT_FILENO);
        execv(path.c_str(), argv.data()); // by path: tests may have replaced PATH with fake tools
        _exit(127);
    }
    close(ready[1]);
    if (pid < 0) {
        close(ready[0]);
        return server;
    }
    std::string number;
    pollfd p{ready[0], POLLIN, 0};
    char c = 0;
    while (poll(&p, 1, 20000) > 0 && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
    close(ready[0]);
    if (number.empty()) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return server;
    }
    server.pid = pid;
    server.number = std::atoi(number.c_str());
    return server;
}

XvfbServer start_xvfb(const std::string& geometry, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"-screen", "0", geometry};
    args.insert(args.end(), extra.begin(), extra.end());
    return start_x_server("/usr/bin/Xvfb", args);
}

void stop_xvfb(XvfbServer& server) {
    if (server.pid <= 0) return;
    kill(server.pid, SIGTERM);
    waitpid(server.pid, nullptr, 0);
    server.pid = -1;
}

std::string display_name(const XvfbServer& server, bool over_tcp) {
    return (over_tcp ? "127.0.0.1:" : ":") + std::to_string(server.number);
}
