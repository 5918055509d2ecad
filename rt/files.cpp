// The file-number table: text files and command pipes opened for input and read line by line.
#include "rt/files.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace {

enum class Device : unsigned char { none, file, pipe };

struct FileEntry {
    Device device = Device::none;
    std::FILE* stream = nullptr;
    long long size = 0; // bytes at the time of opening; files only
};

std::FILE* shell_pipe(const char* command) {
    return ::popen(command, "re");
}

// Entries keep no opener of their own, so it is swapped only while no pipe is open.
PipeOpener pipe_opener{shell_pipe, ::pclose};

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
    // "e": the descriptor must not leak into the tools and terminals we start while it is open.
    std::FILE* f = std::fopen(p.c_str(), "rbe");
    if (!f) return last_error = RT_CANNOT_OPEN;
    std::setvbuf(f, nullptr, _IOFBF, 8192);
    if (fseeko(f, 0, SEEK_END) != 0) {
        std::fclose(f);
        return last_error = RT_NOT_ALLOWED;
    }
    long long size = ftello(f);
    // Text mode is the same as binary here; reopening resets the stream to the start with a fresh buffer.
    f = std::freopen(p.c_str(), "re", f);
    if (!f) return last_error = RT_CANNOT_OPEN;
    std::setvbuf(f, nullptr, _IOFBF, 8192);
    file_table[number] = FileEntry{Device::file, f, size};
    return last_error = RT_OK;
}

PipeOpener rt_set_pipe_opener(PipeOpener opener) {
    const PipeOpener previous = pipe_opener;
    pipe_opener = opener;
    return previous;
}

int rt_open_pipe(std::string_view command, int number) {
    if (!number_usable_for_open(number)) return last_error = RT_NOT_ALLOWED;
    std::string cmd(command);
    std::fflush(nullptr); // buffered output must not be duplicated into the child
    std::FILE* f = pipe_opener.open(cmd.c_str());
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
    FileEntry* e = open_entry(number);
    if (!e) {
        last_error = RT_NOT_ALLOWED;
        return;
    }
    // Read in chunks of up to LINE_CHUNK - 1 bytes, counting bytes ourselves rather than searching for the
    // last non-zero byte, so NUL bytes in tool output survive and never cut a line.
    char chunk[LINE_CHUNK];
    bool first = true;
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
            // After a full chunk, a CR that filled it was the last byte of the input: a terminator.
            if (first)
                text.clear();
            else if (text.ends_with('\r'))
                text.pop_back();
            break;
        }
        bool ended = false;
        if (chunk[n - 1] == '\n') {
            --n;
            // The CR of a CR LF may have ended the previous chunk.
            if (n > 0 && chunk[n - 1] == '\r')
                --n;
            else if (n == 0 && !first && text.ends_with('\r'))
                text.pop_back();
            ended = true;
        } else if (c == EOF) {
            // Only a CR that closes the input or stands before an LF is a terminator; others are data.
            if (chunk[n - 1] == '\r') --n;
            ended = true;
        }
        if (first)
            text.assign(chunk, n);
        else
            text.append(chunk, n);
        first = false;
        if (ended) break;
    }
    last_error = RT_OK;
}

int rt_close(int number) {
    FileEntry* e = open_entry(number);
    if (!e) return last_error = RT_NOT_ALLOWED;
    if (e->device == Device::pipe)
        pipe_opener.close(e->stream); // waits for the command; its status is of no interest
    else
        std::fclose(e->stream);
    *e = FileEntry{};
    return last_error = RT_OK;
}

void rt_close_all() {
    for (int n = 1; n <= MAX_FILE_NUMBER; ++n)
        if (file_table[n].device != Device::none) rt_close(n);
}
