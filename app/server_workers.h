// The servers' tools beside the frame: one worker thread per server runs that server's lookup and scan and
// its latency probes, one job at a time, while the frame goes on drawing. The frame hands jobs over and
// takes each server's results whole, between two frames; it never waits for a tool.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "app/server_table.h"

// The name each worker thread carries.
inline constexpr const char* WORKER_THREAD_NAME = "velmora-probe";

// One server's latency step on its record: while the host is up its ping and then, with a target, its HTTP
// probe; while it is down only the ping, and a ping that answers runs the lookup and the scan again, whose
// scan then decides whether the host is up. last_probe becomes the rounded clock after the step.
void run_latency_step(ServerRecord& record, std::string_view proxy);
// The lookup and the scan, after which the record is known (awaiting_scan cleared).
void run_scan_step(ServerRecord& record);

struct ServerWorker {
    std::mutex lock;
    std::condition_variable wake; // a job or the end for the worker; a job's end for a waiting frame
    // Under lock.
    bool scan_asked = false;  // the first lookup and scan, or a reload: one however often it was asked
    bool probe_asked = false; // a latency step
    bool running = false;
    bool quit = false;
    ServerRecord published;                     // the results of the last job that ended, whole
    uint64_t version = 0;                       // jobs ended
    uint64_t probes_done = 0;                   // latency steps ended
    std::atomic<uint64_t> published_version{0}; // version, read by the frame without the lock

    // The frame's own.
    uint64_t seen_version = 0;
    uint64_t probes_handed = 0;
    uint64_t probes_seen = 0;

    // The worker's own: the record its tools write, and what they need besides.
    ServerRecord own;
    std::string proxy;
    std::thread thread;
    bool threaded = false; // false: no thread could be had and the jobs run on the frame's thread
};

// Told a server's name, on the frame's thread, when its first lookup and scan have ended.
using FirstScanNotice = void (*)(std::string_view name);

struct ServerWorkers {
    std::array<ServerWorker, MAX_SERVERS> servers;
    int count = 0;
    FirstScanNotice first_scan_done = nullptr;
    ServerWorkers() = default;
    ServerWorkers(const ServerWorkers&) = delete;
    ServerWorkers& operator=(const ServerWorkers&) = delete;
    // An exit that comes before stop_server_workers leaves the workers to the process's end rather than
    // aborting it.
    ~ServerWorkers();
};

// One worker for each server of the table, starting from its record as it stands; with scan_first each
// begins with the server's lookup and scan (the start-up probes, all servers at once).
void start_server_workers(ServerWorkers& workers, const ServerTable& table, std::string_view proxy,
                          bool scan_first);
// Ends the workers once their jobs have ended. A stop requested before (rt_request_stop) ends the tools
// that run, so that this returns at once.
void stop_server_workers(ServerWorkers& workers);
// Between two frames: every server's results that landed since, into its record (the fields the tools
// write, and last_probe). The frame keeps interval and everything the configuration gave. True when any
// result landed, so that the picture may have changed.
bool take_results(ServerWorkers& workers, ServerTable& table);
// Waits until no job is asked for or runs, or a stop is requested.
void wait_until_idle(ServerWorkers& workers);

// The frame's hand-overs. A reload asked while one is asked already stays one.
void hand_reload(ServerWorker& worker);
void hand_latency_step(ServerWorker& worker);
// True while a latency step handed over has not landed in the frame's record.
[[nodiscard]] bool latency_step_pending(const ServerWorker& worker);
