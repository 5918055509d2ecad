// What the fuzz targets share: tool output served from memory instead of a started process, the
// line split the dashboard promises, and a hard stop that names the broken promise.
//
// Not thread-safe: libFuzzer runs one input at a time on one thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Ends the run with the message on stderr, so libFuzzer records the input as a crash.
[[noreturn]] void fuzz_fail(const char* what);
inline void fuzz_check(bool ok, const char* what) {
    if (!ok) fuzz_fail(what);
}

// From now on rt_open_pipe and rt_open_program start nothing: a command whose first word is "nslookup",
// "nmap", "ping" or "httping" reads the bytes served for that tool, any other command reads nothing.
void serve_tools();
void serve_output(std::string_view tool, std::string_view bytes);
// The commands opened since the last call, oldest first; a program's arguments joined by blanks.
[[nodiscard]] std::vector<std::string> take_commands();

// True when a text from the configuration can be nothing but one argument of a tool: not empty, not an
// option word (a leading '-'), no blank, control byte or byte beyond ASCII. Written apart from the
// program's own checks so that each can catch the other.
[[nodiscard]] bool one_word(std::string_view word);

// The lines rt_line_input hands out for these bytes: split at LF, a CR before the LF and a CR that
// ends the input removed, no empty line after a final LF.
[[nodiscard]] std::vector<std::string> split_lines(std::string_view bytes);

// A descriptor of an anonymous memory file holding a copy of the bytes, read from the start; -1 when none
// can be had.
[[nodiscard]] int memory_file(std::string_view bytes);
