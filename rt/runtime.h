// Start of the runtime services.
#pragma once

// Takes LC_CTYPE from the environment (LC_NUMERIC stays "C") and arranges for every open file
// number to be closed at exit. Safe to call more than once.
void rt_init(int argc, char** argv);

// SIGTERM, SIGINT and SIGHUP from now on request a stop (below). Interrupted system calls are restarted; a
// signal ignored at start stays ignored. Installed before the first tool runs, so that none outlives us.
// A signal also has a deadline: if the process is still there a second after it, whatever it waits for, a
// watchdog thread runs the action given to rt_before_forced_end, ends every tool (rt_end_all_commands),
// says so in one line on stderr and ends the process with status 1.
void rt_catch_stop_signals();
// What the forced end does first, from the watchdog thread while the others may be anywhere: it must not
// wait for long, nor take a lock another thread may hold. Null: nothing.
void rt_before_forced_end(void (*action)());

// A stop: the program is to end as closing its window ends it, whatever it waits for. Requested from a
// signal handler (async-signal-safe), from the presenter's close request, or from any thread. From then on
// every command pipe that runs has its process group ended (SIGTERM; SIGKILL for what is left once the
// command has gone, or after STOP_GRACE_MS) and reads as ended, no new pipe or shell command starts, and a
// shell command waited for is no longer waited for. A second request changes nothing.
inline constexpr int STOP_GRACE_MS = 500;
void rt_request_stop();
// True once a stop was requested.
[[nodiscard]] bool rt_stop_requested();
// Readable once a stop was requested: a wait polls it beside what it waits for, so it wakes at once. -1
// when the descriptor cannot be made; the waits then see the request within their own slices.
[[nodiscard]] int rt_stop_descriptor();
// Forgets the request, for tests that run more than one frame loop in one process.
void rt_clear_stop_request();
