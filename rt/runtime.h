// Start of the runtime services.
#pragma once

// Takes LC_CTYPE from the environment (LC_NUMERIC stays "C") and arranges for every open file
// number to be closed at exit. Safe to call more than once.
void rt_init(int argc, char** argv);

// SIGTERM, SIGINT and SIGHUP from now on ask the program to end the way closing its window does, after the
// frame that runs: the handler only notes the request. Interrupted system calls are restarted; a signal
// ignored at start stays ignored.
void rt_catch_stop_signals();
// True once one of those signals arrived.
[[nodiscard]] bool rt_stop_requested();
