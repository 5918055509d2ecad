// File numbers: text files and command output read line by line, and the shell.
//
// Threads may run commands at once: numbers are handed out under a lock, and each thread keeps its own last
// result code (rt/result.h). An open number belongs to the thread that opened it; only that thread reads or
// closes it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "rt/result.h"

// Numbers 1..MAX_FILE_NUMBER can be opened; 0 is the console and never handed out.
inline constexpr int MAX_FILE_NUMBER = 255;
// Lines are assembled from chunks of at most LINE_CHUNK - 1 bytes.
inline constexpr int LINE_CHUNK = 512;

// Lowest number in 1..255 that is not open, 0 when all are. Does not reserve it.
[[nodiscard]] int rt_free_file();
// How rt_open_file reads a path: with every backslash taken as a slash, or exactly as named, for a path that
// has been looked at on the file system already and must be the one read.
enum class PathSpelling { backslash_as_slash, as_named };
// Opens a regular text file for input, without ever blocking (a FIFO or a device is refused with
// RT_CANNOT_OPEN). Returns the result code. Once a stop is requested an open file reads as ended, and a line
// being read ends where it is, so that a huge file keeps no stop waiting.
int rt_open_file(std::string_view path, int number, PathSpelling spelling = PathSpelling::backslash_as_slash);
// A command's output is read for at most this long and this many bytes; then the command and what it
// started are ended and its output reads as ended. Closing waits for the command until the same deadline.
inline constexpr int PIPE_TIME_LIMIT_MS = 60000;
inline constexpr std::size_t PIPE_BYTE_LIMIT = 4 << 20;
// Sets both limits for pipes opened later (tests use short ones); 0 restores the defaults above.
void rt_set_pipe_limits(int milliseconds, std::size_t bytes);

// Starts the command through the shell, unchanged, and reads its standard output. The command runs with
// LC_ALL=C added to our environment, so that tools print numbers and messages as their output is parsed.
// Returns the result code; RT_CANNOT_OPEN once a stop is requested (rt/runtime.h), which also ends the
// commands that run.
int rt_open_pipe(std::string_view command, int number);
// The same for a program started without a shell: arguments[0] is looked for on PATH and gets the arguments
// as they are, one word each, so that nothing in them is ever read as syntax. Same environment, process
// group, limits and stop as rt_open_pipe. A program not found: RT_CANNOT_OPEN, and nothing said (the caller
// names a missing tool once, not at every start). A replaced PipeOpener is handed the arguments joined by
// single blanks.
int rt_open_program(std::span<const std::string> arguments, int number);
// True when no more input can come; an invalid or free number is always at its end.
[[nodiscard]] bool rt_eof(int number);
// Replaces text with the next line, terminator (LF, CR LF, or a CR at the end of input) removed.
// On an invalid or free number the text is left as it was.
void rt_line_input(int number, std::string& text);
// The same, keeping at most max_bytes of the line and reading past the rest without storing it, so that a
// line without end cannot exhaust memory. False when the line was longer; text then holds its first
// max_bytes bytes.
bool rt_line_input_bounded(int number, std::string& text, std::size_t max_bytes);
// How a command pipe is started and ended. The default ({nullptr, nullptr}) runs the command through the
// shell with the limits above; fuzz targets and tests that must not start a process put in their own, for
// example one that serves fixed text, which is read as it comes, without those limits. Its open is called
// under the lock that hands out numbers, so by one thread at a time.
struct PipeOpener {
    std::FILE* (*open)(const char* command); // a stream of the command's output, null on failure
    int (*close)(std::FILE* stream);         // ends the stream
};
// Puts the opener in place for every later rt_open_pipe and returns the one it replaces. Only while no
// pipe is open: an open pipe is closed by whatever opener is in place then.
PipeOpener rt_set_pipe_opener(PipeOpener opener);
// Closes the number; a pipe waits for its command to end. Returns the result code.
int rt_close(int number);
// Closes every open number; also run at program exit.
void rt_close_all();

// Ends every command pipe's command that still runs, from any thread and even from a signal handler: SIGTERM
// to each one's process group, SIGKILL to what is left of the groups once their commands are gone or after
// STOP_GRACE_MS (rt/runtime.h), never longer. What the ends that do not return (an X error, a lost display,
// a stop that is not obeyed in time) do last, so that no tool outlives us.
void rt_end_all_commands();

// Starts the command through the shell in a session of its own and returns at once: true once it runs. It is
// the user's (a terminal, a remote session): never ended by us, neither by a stop nor by our end, and out of
// reach of the launching terminal's Ctrl+C; not our child, so whoever inherits it (init) reaps it when it
// ends. Nothing starts once a stop is requested.
bool rt_start_detached(std::string_view command);

// Runs the command through the shell and waits. Returns its exit code; -1 for an empty command, one the
// shell cannot run (127) or that failed to start; the raw status when it died by a signal. Once a stop is
// requested nothing starts, and a command waited for is left running and -1 returned.
int rt_shell(std::string_view command);
