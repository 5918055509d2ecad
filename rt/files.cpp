// The file-number table: text files and command pipes opened for input and read line by line; and the
// shell.
#include "rt/files.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "rt/runtime.h"

extern char** environ;

namespace {

// A served pipe comes from a replaced PipeOpener: a stream read like a file, closed by the opener.
enum class Device : unsigned char { none, file, pipe, served };

using Clock = std::chrono::steady_clock;

// A command's output, read through a buffer of our own so that no read waits past the command's deadline.
struct PipeReader {
    int fd = -1;
    pid_t pid = -1; // leader of the command's own session and process group
    int number = 0; // its file number, under which running_commands names it
    Clock::time_point deadline;
    std::size_t total = 0; // bytes taken from the command so far
    std::size_t limit = 0; // bytes it may send
    std::size_t pos = 0, len = 0;
    bool ended = false; // no more bytes will be taken
    char buffer[4096];
};

struct FileEntry {
    Device device = Device::none;
    std::FILE* stream = nullptr;      // files
    std::unique_ptr<PipeReader> pipe; // pipes
    long long size = 0;               // bytes at the time of opening; files only
};

// Entry i belongs to number i; entry 0 (the console) is never handed out.
std::array<FileEntry, MAX_FILE_NUMBER + 1> file_table{};
// Numbers are taken and given back under this lock, together with the settings below, so that threads that
// run tools at once never share a number. An open number is read by the thread that opened it alone, which
// needs no lock: nobody else touches its entry until it is given back.
std::mutex table_lock;
// The commands that run, by file number: read without any lock by rt_end_all_commands, which the error
// handlers and the stop's deadline call from wherever the process is.
std::array<std::atomic<pid_t>, MAX_FILE_NUMBER + 1> running_commands{};
static_assert(std::atomic<pid_t>::is_always_lock_free);
// Null members: commands start through the shell, with the limits above.
PipeOpener pipe_opener{nullptr, nullptr};
int pipe_time_limit_ms = PIPE_TIME_LIMIT_MS;
std::size_t pipe_byte_limit = PIPE_BYTE_LIMIT;

FileEntry* open_entry(int number) {
    if (number < 1 || number > MAX_FILE_NUMBER) return nullptr;
    FileEntry& e = file_table[number];
    return e.device == Device::none ? nullptr : &e;
}

bool number_usable_for_open(int number) {
    return number >= 1 && number <= MAX_FILE_NUMBER && file_table[number].device == Device::none;
}

// The command has been reaped: nothing is left to end under its number.
void forget_command(PipeReader& p) {
    if (p.number > 0) running_commands[p.number].store(0);
    p.pid = -1;
}

// Ends the command and everything it started.
void stop_command(PipeReader& p) {
    if (p.pid > 0) ::kill(-p.pid, SIGKILL);
}

// The grace of a stop request: the command's process group is asked to end, and the command has STOP_GRACE_MS
// to do so; then whatever is left of the group is forced, be it the command itself or what it started and
// left behind. Reaps the command.
void end_on_stop(PipeReader& p) {
    if (p.pid <= 0) return;
    ::kill(-p.pid, SIGTERM);
    const auto forced_at = Clock::now() + std::chrono::milliseconds(STOP_GRACE_MS);
    bool reaped = false;
    useconds_t pause = 100;
    while (!reaped && Clock::now() < forced_at) {
        const pid_t done = ::waitpid(p.pid, nullptr, WNOHANG);
        reaped = done == p.pid || (done < 0 && errno == ECHILD);
        if (reaped) break;
        ::usleep(pause);
        pause = std::min<useconds_t>(pause * 2, 10000);
    }
    stop_command(p);
    while (!reaped && ::waitpid(p.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    forget_command(p);
}

// Refills the buffer; false at the end of the output, after the deadline, or past the byte limit. A command
// that prints forever, never ends or floods us is cut off there and reads as ended; so is every command once
// a stop is requested, which the poll sees at once.
bool fill(PipeReader& p) {
    if (p.ended) return false;
    for (;;) {
        if (rt_stop_requested()) {
            p.ended = true;
            end_on_stop(p);
            return false;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(p.deadline - Clock::now()).count();
        pollfd ready[2] = {{p.fd, POLLIN, 0}, {rt_stop_descriptor(), POLLIN, 0}};
        int polled = left > 0 ? ::poll(ready, 2, static_cast<int>(std::min<long long>(left, 1000))) : 0;
        if (polled < 0 && errno == EINTR) continue;
        if (polled > 0 && ready[0].revents == 0) continue; // the stop request
        if (polled == 0 && left > 1000) continue;
        if (polled <= 0) break;
        ssize_t n = ::read(p.fd, p.buffer, sizeof p.buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            p.ended = true;
            return false;
        }
        p.pos = 0;
        p.len = static_cast<std::size_t>(n);
        p.total += p.len;
        if (p.total > p.limit) break;
        return true;
    }
    p.ended = true;
    stop_command(p);
    return false;
}

int next_byte(FileEntry& e) {
    if (e.device != Device::pipe) return getc_unlocked(e.stream);
    PipeReader& p = *e.pipe;
    if (p.pos == p.len && !fill(p)) return EOF;
    return static_cast<unsigned char>(p.buffer[p.pos++]);
}

bool at_end(FileEntry& e) {
    if (e.device != Device::pipe) {
        if (e.device == Device::file && rt_stop_requested()) return true;
        if (std::feof(e.stream)) return true;
        int c = std::getc(e.stream);
        if (c == EOF) return true;
        std::ungetc(c, e.stream);
        return false;
    }
    PipeReader& p = *e.pipe;
    return p.pos == p.len && !fill(p);
}

// Waits for the command, but not past its deadline or a stop request: then it is ended.
void reap(PipeReader& p) {
    if (p.fd >= 0) ::close(p.fd);
    p.fd = -1;
    if (p.pid <= 0) return;
    useconds_t pause = 100;
    for (;;) {
        pid_t done = ::waitpid(p.pid, nullptr, WNOHANG);
        if (done == p.pid || (done < 0 && errno != EINTR)) break;
        if (rt_stop_requested()) return end_on_stop(p);
        if (Clock::now() >= p.deadline) {
            stop_command(p);
            while (::waitpid(p.pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        ::usleep(pause);
        pause = std::min<useconds_t>(pause * 2, 10000);
    }
    forget_command(p);
}

} // namespace

int rt_free_file() {
    const std::lock_guard hold(table_lock);
    for (int n = 1; n <= MAX_FILE_NUMBER; ++n)
        if (file_table[n].device == Device::none) return n;
    return 0;
}

int rt_open_file(std::string_view path, int number, PathSpelling spelling) {
    {
        const std::lock_guard hold(table_lock);
        if (!number_usable_for_open(number)) return rt_result(RT_NOT_ALLOWED);
    }
    std::string p(path);
    if (spelling == PathSpelling::backslash_as_slash) std::replace(p.begin(), p.end(), '\\', '/');
    // Without O_NONBLOCK a FIFO with no writer would hang the open; only a regular file is taken, so that a
    // device such as /dev/zero cannot feed an endless line. O_CLOEXEC: the descriptor must not leak into the
    // tools and terminals we start while it is open.
    const int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return rt_result(RT_CANNOT_OPEN);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return rt_result(RT_CANNOT_OPEN);
    }
    std::FILE* f = ::fdopen(fd, "r");
    if (!f) {
        ::close(fd);
        return rt_result(RT_CANNOT_OPEN);
    }
    std::setvbuf(f, nullptr, _IOFBF, 8192);
    if (fseeko(f, 0, SEEK_END) != 0) {
        std::fclose(f);
        return rt_result(RT_NOT_ALLOWED);
    }
    long long size = ftello(f);
    // Text mode is the same as binary here; reading starts again at the beginning of the file.
    if (fseeko(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return rt_result(RT_CANNOT_OPEN);
    }
    const std::lock_guard hold(table_lock);
    // Another thread may have taken the number while the file opened.
    if (!number_usable_for_open(number)) {
        std::fclose(f);
        return rt_result(RT_NOT_ALLOWED);
    }
    file_table[number] = FileEntry{Device::file, f, nullptr, size};
    return rt_result(RT_OK);
}

void rt_set_pipe_limits(int milliseconds, std::size_t bytes) {
    const std::lock_guard hold(table_lock);
    pipe_time_limit_ms = milliseconds > 0 ? milliseconds : PIPE_TIME_LIMIT_MS;
    pipe_byte_limit = bytes > 0 ? bytes : PIPE_BYTE_LIMIT;
}

PipeOpener rt_set_pipe_opener(PipeOpener opener) {
    const std::lock_guard hold(table_lock);
    const PipeOpener previous = pipe_opener;
    pipe_opener = opener;
    return previous;
}

namespace {

// The environment of a probe tool: ours, with LC_ALL=C in place of any LC_ALL, so that every tool prints
// its numbers with a decimal point and its messages in the words the probes look for, whatever language
// the desktop speaks.
std::vector<char*> tool_environment() {
    static char c_locale[] = "LC_ALL=C";
    std::vector<char*> env;
    for (char** v = environ; v != nullptr && *v != nullptr; ++v)
        if (std::strncmp(*v, "LC_ALL=", 7) != 0) env.push_back(*v);
    env.push_back(c_locale);
    env.push_back(nullptr);
    return env;
}

} // namespace

namespace {

// Takes the number for a command's output, or serves it from a replaced opener (which is handed text). Null
// when the number is taken now; else the result code, the number left free.
std::unique_ptr<PipeReader> take_number_for_command(int number, const std::string& text, int& code) {
    auto reader = std::make_unique<PipeReader>();
    const std::lock_guard hold(table_lock);
    code = RT_OK;
    if (!number_usable_for_open(number)) {
        code = RT_NOT_ALLOWED;
        return nullptr;
    }
    // Once a stop is requested no tool starts: the frame's remaining probes find nothing to read.
    if (rt_stop_requested()) {
        code = RT_CANNOT_OPEN;
        return nullptr;
    }
    if (pipe_opener.open) {
        std::FILE* f = pipe_opener.open(text.c_str());
        if (!f) {
            code = RT_CANNOT_OPEN;
            return nullptr;
        }
        file_table[number] = FileEntry{Device::served, f, nullptr, 0};
        return nullptr;
    }
    // The number is taken here; the command starts without the lock, so that threads start theirs side by
    // side.
    file_table[number].device = Device::pipe;
    reader->deadline = Clock::now() + std::chrono::milliseconds(pipe_time_limit_ms);
    reader->limit = pipe_byte_limit;
    return reader;
}

// Starts program with its standard output on a pipe read under the taken number; search: the program is
// looked for on PATH. Gives the number back when it cannot start. Returns the result code.
int start_reading(int number, std::unique_ptr<PipeReader> reader, const char* program, char* const argv[],
                  bool search) {
    auto give_back = [number] {
        const std::lock_guard hold(table_lock);
        file_table[number] = FileEntry{};
        return rt_result(RT_CANNOT_OPEN);
    };
    std::fflush(nullptr); // buffered output must not be duplicated into the child
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return give_back();
    reader->fd = ends[0];
    // The command leads a session of its own, and with it a process group, so that cutting it off also ends
    // what it started; and no terminal is its controlling terminal, so that a terminal's job control (stty
    // tostop, a write to it from a background group) cannot stop it. Its standard error is still ours.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> env = tool_environment();
    int failed = search ? ::posix_spawnp(&reader->pid, program, &actions, &attributes, argv, env.data())
                        : ::posix_spawn(&reader->pid, program, &actions, &attributes, argv, env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (failed) {
        // A missing tool is named once at start (app/tool_check), not at every probe that would run it.
        ::close(ends[0]);
        return give_back();
    }
    reader->number = number;
    running_commands[number].store(reader->pid);
    const std::lock_guard hold(table_lock);
    file_table[number].pipe = std::move(reader);
    return rt_result(RT_OK);
}

} // namespace

int rt_open_pipe(std::string_view command, int number) {
    std::string cmd(command);
    int code = RT_OK;
    std::unique_ptr<PipeReader> reader = take_number_for_command(number, cmd, code);
    if (!reader) return rt_result(code);
    char sh[] = "sh", dash_c[] = "-c";
    char* argv[] = {sh, dash_c, cmd.data(), nullptr};
    return start_reading(number, std::move(reader), "/bin/sh", argv, false);
}

int rt_open_program(std::span<const std::string> arguments, int number) {
    if (arguments.empty() || arguments[0].empty()) return rt_result(RT_NOT_ALLOWED);
    std::string words;
    for (const std::string& a : arguments) words += (words.empty() ? "" : " ") + a;
    int code = RT_OK;
    std::unique_ptr<PipeReader> reader = take_number_for_command(number, words, code);
    if (!reader) return rt_result(code);
    std::vector<std::string> copies(arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    return start_reading(number, std::move(reader), copies[0].c_str(), argv.data(), true);
}

bool rt_eof(int number) {
    FileEntry* e = open_entry(number);
    return !e || at_end(*e);
}

void rt_line_input(int number, std::string& text) {
    (void)rt_line_input_bounded(number, text, std::string::npos - 1);
}

bool rt_line_input_bounded(int number, std::string& text, std::size_t max_bytes) {
    FileEntry* e = open_entry(number);
    if (!e) {
        rt_set_error(RT_NOT_ALLOWED);
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
            c = next_byte(*e);
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
        // A line without end in a huge file would keep a stop waiting for as long as the file takes to read.
        if (rt_stop_requested()) break;
    }
    // The CR of a CR LF, or a CR that closes the input, is removed on the whole line: it may have been the
    // last byte of the chunk before. A CR followed by more text stays.
    if (!cut && !text.empty() && text.back() == '\r') text.pop_back();
    rt_set_error(RT_OK);
    if (!cut && text.size() <= max_bytes) return true;
    text.resize(max_bytes);
    return false;
}

int rt_close(int number) {
    FileEntry* e = open_entry(number);
    if (!e) return rt_result(RT_NOT_ALLOWED);
    // Waiting for a command is done without the lock; the number is given back once it has ended.
    if (e->device == Device::pipe) {
        reap(*e->pipe); // its status is of no interest
    } else if (e->device == Device::served) {
        PipeOpener opener;
        {
            const std::lock_guard hold(table_lock);
            opener = pipe_opener;
        }
        if (opener.close)
            opener.close(e->stream);
        else
            std::fclose(e->stream);
    } else {
        std::fclose(e->stream);
    }
    const std::lock_guard hold(table_lock);
    *e = FileEntry{};
    return rt_result(RT_OK);
}

void rt_close_all() {
    for (int n = 1; n <= MAX_FILE_NUMBER; ++n) {
        bool open = false;
        {
            const std::lock_guard hold(table_lock);
            open = file_table[n].device != Device::none;
        }
        if (open) rt_close(n);
    }
}

int rt_shell(std::string_view command) {
    if (command.empty() || rt_stop_requested()) return -1;
    std::string cmd(command);
    std::fflush(nullptr);
    // In our own process group, as the shell would start it: a terminal's Ctrl+C reaches both, and we do
    // not ignore it meanwhile. The command starts with SIGINT and SIGQUIT at their defaults whatever we do
    // with them.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGQUIT, SIGPIPE}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    char sh[] = "sh", dash_c[] = "-c";
    char* argv[] = {sh, dash_c, cmd.data(), nullptr};
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, "/bin/sh", nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (failed) return -1;
    // The command is the user's session: a stop ends our wait, never the command. Without a descriptor for
    // the process the wait looks in slices.
    const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if ((done < 0 && errno != EINTR) || rt_stop_requested()) {
            if (process >= 0) ::close(process);
            return -1;
        }
        pollfd ready[2] = {{process, POLLIN, 0}, {rt_stop_descriptor(), POLLIN, 0}};
        (void)::poll(ready, 2, process >= 0 ? -1 : 50);
    }
    if (process >= 0) ::close(process);
    // The runtime never takes the terminal into a mode of its own, so there is nothing to hand back here.
    if ((status & 0x7F) != 0) return status;
    int code = (status >> 8) & 0xFF;
    return code == 127 ? -1 : code;
}

namespace {

long long milliseconds_since(const timespec& start) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
}

} // namespace

// Only async-signal-safe calls: kill, waitpid, clock_gettime, nanosleep. Whoever else waits for one of these
// commands finds it reaped (ECHILD) and goes on.
void rt_end_all_commands() {
    pid_t groups[MAX_FILE_NUMBER + 1];
    int count = 0;
    for (std::atomic<pid_t>& slot : running_commands) {
        const pid_t pid = slot.exchange(0);
        if (pid <= 0) continue;
        ::kill(-pid, SIGTERM);
        groups[count++] = pid;
    }
    if (count == 0) return;
    const int saved = errno;
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    bool leaders_left = true;
    while (leaders_left && milliseconds_since(start) < STOP_GRACE_MS) {
        leaders_left = false;
        for (int i = 0; i < count; ++i) {
            if (groups[i] < 0) continue;
            const pid_t done = ::waitpid(groups[i], nullptr, WNOHANG);
            if (done == groups[i] || (done < 0 && errno == ECHILD))
                groups[i] = -groups[i]; // reaped; its group may still hold what it started
            else
                leaders_left = true;
        }
        const timespec pause{0, 2000000};
        if (leaders_left) ::nanosleep(&pause, nullptr);
    }
    for (int i = 0; i < count; ++i) ::kill(groups[i] < 0 ? groups[i] : -groups[i], SIGKILL);
    errno = saved;
}

bool rt_start_detached(std::string_view command) {
    if (command.empty() || rt_stop_requested()) return false;
    std::string cmd(command);
    char sh[] = "sh", dash_c[] = "-c";
    char* argv[] = {sh, dash_c, cmd.data(), nullptr};
    std::fflush(nullptr);
    // Started through a process of its own that leaves at once, so that the command is not our child: whoever
    // inherits it reaps it when it ends, however long after us that is, and nothing of ours waits for it. In
    // a session of its own: a terminal's Ctrl+C, its hang-up and our end never reach it; with the signals at
    // their defaults and none blocked, whatever this thread does with them. Between fork and exec only
    // async-signal-safe calls: another thread may hold any lock.
    const pid_t middle = ::fork();
    if (middle < 0) return false;
    if (middle == 0) {
        ::setsid();
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        for (int signal : {SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGHUP})
            ::sigaction(signal, &defaults, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const pid_t session = ::fork();
        if (session == 0) {
            ::execve("/bin/sh", argv, environ);
            ::_exit(127);
        }
        ::_exit(session < 0 ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
