// The file-number table: text files and command pipes opened for input and read line by line; and the
// shell.
#include "rt/files.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Device : unsigned char { none, file, pipe };

struct FileEntry {
    Device device = Device::none;
    std::FILE* stream = nullptr;
    long long size = 0; // bytes at the time of opening; files only
};

// Entry i belongs to number i; entry 0 (the console) is never handed out.
std::array<FileEntry, MAX_FILE_NUMBER + 1> file_table{};
int last_error = RT_OK;

FileEntry* open_entry(int number) {
    if (number < 1 || number > MAX_FILE_NUMBER) return nullptr;
    FileEntry& e = file_table[number];
    return e.device == Device::none ? nullptr : &e;
}

bool number_usable_for_open(int number) {
    return number >= 1 && number <= MAX_FILE_NUMBER && file_table[number].device == Device::none;
}

} // namespace

int rt_last_error() {
    return last_error;
}
void rt_set_error(int code) {
    last_error = code;
}

int rt_free_file() {
    for (int n = 1; n <= MAX_FILE_NUMBER; ++n)
        if (file_table[n].device == Device::none) return n;
    return 0;
}

int rt_open_file(std::string_view path, int number) {
    if (!number_usable_for_open(number)) return last_error = RT_NOT_ALLOWED;
    std::string p(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    // Without O_NONBLOCK a FIFO with no writer would hang the open; only a regular file is taken, so that a
    // device such as /dev/zero cannot feed an endless line. O_CLOEXEC: the descriptor must not leak into the
    // tools and terminals we start while it is open.
    const int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return last_error = RT_CANNOT_OPEN;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return last_error = RT_CANNOT_OPEN;
    }
    std::FILE* f = ::fdopen(fd, "r");
    if (!f) {
        ::close(fd);
        return last_error = RT_CANNOT_OPEN;
    }
    std::setvbuf(f, nullptr, _IOFBF, 8192);
    if (fseeko(f, 0, SEEK_END) != 0) {
        std::fclose(f);
        return last_error = RT_NOT_ALLOWED;
    }
    long long size = ftello(f);
    // Text mode is the same as binary here; reading starts again at the beginning of the file.
    if (fseeko(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return last_error = RT_CANNOT_OPEN;
    }
    file_table[number] = FileEntry{Device::file, f, size};
    return last_error = RT_OK;
}

int rt_open_pipe(std::string_view command, int number) {
    if (!number_usable_for_open(number)) return last_error = RT_NOT_ALLOWED;
    std::string cmd(command);
    std::fflush(nullptr); // buffered output must not be duplicated into the child
    std::FILE* f = ::popen(cmd.c_str(), "re");
    if (!f) return last_error = RT_CANNOT_OPEN;
    file_table[number] = FileEntry{Device::pipe, f, 0};
    return last_error = RT_OK;
}

bool rt_eof(int number) {
    FileEntry* e = open_entry(number);
    if (!e) return true;
    if (std::feof(e->stream)) return true;
    int c = std::getc(e->stream);
    if (c == EOF) return true;
    std::ungetc(c, e->stream);
    return false;
}

void rt_line_input(int number, std::string& text) {
    (void)rt_line_input_bounded(number, text, std::string::npos - 1);
}

bool rt_line_input_bounded(int number, std::string& text, std::size_t max_bytes) {
    FileEntry* e = open_entry(number);
    if (!e) {
        last_error = RT_NOT_ALLOWED;
        return true;
    }
    // Read in chunks of up to LINE_CHUNK - 1 bytes, counting bytes ourselves rather than searching for the
    // last non-zero byte, so NUL bytes in tool output survive and never cut a line. One byte beyond the
    // bound is kept: it may be the CR of the terminator.
    const std::size_t keep = max_bytes + 1;
    char chunk[LINE_CHUNK];
    bool first = true;
    bool cut = false;
    for (;;) {
        int n = 0;
        int c = 0;
        while (n < LINE_CHUNK - 1) {
            c = getc_unlocked(e->stream);
            if (c == EOF) break;
            chunk[n++] = static_cast<char>(c);
            if (c == '\n') break;
        }
        if (n == 0) {
            if (first) text.clear();
            break;
        }
        const bool line_feed = chunk[n - 1] == '\n';
        if (line_feed) --n;
        const std::size_t held = first ? 0 : text.size();
        const std::size_t take = std::min(static_cast<std::size_t>(n), keep - held);
        cut = cut || take < static_cast<std::size_t>(n);
        if (first)
            text.assign(chunk, take);
        else
            text.append(chunk, take);
        first = false;
        if (line_feed || c == EOF) break;
    }
    // The CR of a CR LF, or a CR that closes the input, is removed on the whole line: it may have been the
    // last byte of the chunk before. A CR followed by more text stays.
    if (!cut && !text.empty() && text.back() == '\r') text.pop_back();
    last_error = RT_OK;
    if (!cut && text.size() <= max_bytes) return true;
    text.resize(max_bytes);
    return false;
}

int rt_close(int number) {
    FileEntry* e = open_entry(number);
    if (!e) return last_error = RT_NOT_ALLOWED;
    if (e->device == Device::pipe)
        ::pclose(e->stream); // waits for the command; its status is of no interest
    else
        std::fclose(e->stream);
    *e = FileEntry{};
    return last_error = RT_OK;
}

void rt_close_all() {
    for (int n = 1; n <= MAX_FILE_NUMBER; ++n)
        if (file_table[n].device != Device::none) rt_close(n);
}

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
