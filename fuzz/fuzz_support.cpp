#include "fuzz/fuzz_support.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sanitizer/common_interface_defs.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

#include "rt/files.h"

namespace {

constexpr std::array<std::string_view, 4> TOOLS = {"nslookup", "nmap", "ping", "httping"};
std::array<std::string, TOOLS.size()> served;
std::vector<std::string> commands;

std::FILE* open_served(const char* command) {
    // A tool's words joined by blanks; the tool is the first of them.
    const std::string_view line(command);
    commands.emplace_back(line);
    const std::string_view tool = line.substr(0, line.find(' '));
    std::string_view bytes;
    for (std::size_t i = 0; i < TOOLS.size(); ++i)
        if (tool == TOOLS[i]) bytes = served[i];
    const int fd = memory_file(bytes);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "r");
    if (!f) ::close(fd);
    return f;
}

} // namespace

void fuzz_fail(const char* what) {
    // libFuzzer's -close_fd_mask closes stderr but keeps the sanitizers' report channel open.
    const std::string message = std::string("fuzz check failed: ") + what;
    __sanitizer_report_error_summary(message.c_str());
    std::abort();
}

void serve_tools() {
    rt_set_pipe_opener(PipeOpener{open_served, [](std::FILE* f) { return std::fclose(f); }});
}

void serve_output(std::string_view tool, std::string_view bytes) {
    for (std::size_t i = 0; i < TOOLS.size(); ++i)
        if (tool == TOOLS[i]) served[i] = bytes;
}

std::vector<std::string> take_commands() {
    return std::exchange(commands, {});
}

bool one_word(std::string_view word) {
    if (word.empty() || word[0] == '-') return false;
    for (char c : word) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F) return false;
    }
    return true;
}

std::vector<std::string> split_lines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t lf = bytes.find('\n', start);
        const bool last = lf == std::string_view::npos;
        std::string_view line = bytes.substr(start, last ? std::string_view::npos : lf - start);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.emplace_back(line);
        if (last) break;
        start = lf + 1;
    }
    return lines;
}

int memory_file(std::string_view bytes) {
    const int fd = ::memfd_create("fuzz", MFD_CLOEXEC);
    if (fd < 0) return -1;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
