#include "app/server_workers.h"

#include <cmath>
#include <pthread.h>
#include <system_error>

#include "app/latency_probe.h"
#include "app/panel.h"
#include "app/scan_probe.h"
#include "rt/runtime.h"

namespace {

// A ping of a host that is down, into a record of its own so that an answer is told from a loss whatever
// the history held; its samples then go to the server's history in their order.
bool ping_answers(ServerRecord& record) {
    ServerRecord echo;
    echo.name = record.name;
    probe_ping(echo);
    int first = HISTORY_SLOTS;
    while (first > 1 && !echo.ping_times[first - 1].empty()) --first;
    for (int k = first; k <= HISTORY_LENGTH; ++k)
        push_sample(record.ping_history, record.ping_times, echo.ping_history[k],
                    std::move(echo.ping_times[k]));
    return first <= HISTORY_LENGTH;
}

// What the tools write, and last_probe; the rest of the record is the frame's.
void copy_results(const ServerRecord& from, ServerRecord& to) {
    to.ip = from.ip;
    to.alias = from.alias;
    to.nmap_lines = from.nmap_lines;
    to.ping_history = from.ping_history;
    to.http_history = from.http_history;
    to.ping_times = from.ping_times;
    to.http_times = from.http_times;
    to.last_probe = from.last_probe;
    to.up = from.up;
    to.awaiting_scan = from.awaiting_scan;
}

// One job, on the worker's own record; the results go out whole.
void run_one(ServerWorker& w, bool scan) {
    if (scan) {
        run_scan_step(w.own);
    } else {
        run_latency_step(w.own, w.proxy);
    }
    const std::lock_guard hold(w.lock);
    copy_results(w.own, w.published);
    if (!scan) ++w.probes_done;
    w.published_version.store(++w.version, std::memory_order_release);
}

// The next job: a lookup and scan before a latency step, as the panel asks for them in that order.
bool take_job(ServerWorker& w, bool& scan) {
    scan = w.scan_asked;
    if (!w.scan_asked && !w.probe_asked) return false;
    (scan ? w.scan_asked : w.probe_asked) = false;
    return true;
}

void work(ServerWorker& w) {
    // Named, so that a look at the process tells the workers from the frame and the presenter.
    pthread_setname_np(pthread_self(), WORKER_THREAD_NAME);
    std::unique_lock hold(w.lock);
    for (;;) {
        w.wake.wait(hold, [&] { return w.quit || w.scan_asked || w.probe_asked; });
        if (w.quit) break;
        bool scan = false;
        if (!take_job(w, scan)) continue;
        w.running = true;
        hold.unlock();
        run_one(w, scan);
        hold.lock();
        w.running = false;
        w.wake.notify_all();
    }
    w.running = false;
    w.wake.notify_all();
}

// Without a thread the frame runs the jobs it hands over, as it did before there were workers.
void run_here(ServerWorker& w) {
    bool scan = false;
    for (;;) {
        {
            const std::lock_guard hold(w.lock);
            if (!take_job(w, scan)) return;
        }
        run_one(w, scan);
    }
}

void hand(ServerWorker& w, bool ServerWorker::*job) {
    {
        const std::lock_guard hold(w.lock);
        w.*job = true;
    }
    if (w.threaded) {
        w.wake.notify_all();
    } else {
        run_here(w);
    }
}

} // namespace

void run_latency_step(ServerRecord& record, std::string_view proxy) {
    if (record.up == 1) {
        probe_ping(record);
        if (!record.http_target.empty()) probe_http(record, proxy);
    } else if (ping_answers(record)) {
        run_scan_step(record);
    }
    record.last_probe = static_cast<int64_t>(std::nearbyint(panel_clock()));
}

void run_scan_step(ServerRecord& record) {
    probe_lookup_and_scan(record);
    record.awaiting_scan = false;
}

void start_server_workers(ServerWorkers& workers, const ServerTable& table, std::string_view proxy,
                          bool scan_first) {
    workers.count = table.server_count;
    for (int i = 0; i < workers.count; ++i) {
        ServerWorker& w = workers.servers[i];
        w.own = table.servers[i];
        w.published = w.own;
        w.proxy = std::string(proxy);
        w.scan_asked = scan_first;
        try {
            w.thread = std::thread(work, std::ref(w));
            w.threaded = true;
        } catch (const std::system_error&) {
            w.threaded = false;
        }
    }
    for (int i = 0; i < workers.count; ++i) {
        if (!workers.servers[i].threaded) run_here(workers.servers[i]);
    }
}

ServerWorkers::~ServerWorkers() {
    for (ServerWorker& w : servers) {
        if (w.thread.joinable()) w.thread.detach();
    }
}

void stop_server_workers(ServerWorkers& workers) {
    for (int i = 0; i < workers.count; ++i) {
        ServerWorker& w = workers.servers[i];
        {
            const std::lock_guard hold(w.lock);
            w.quit = true;
        }
        w.wake.notify_all();
    }
    for (int i = 0; i < workers.count; ++i) {
        if (workers.servers[i].thread.joinable()) workers.servers[i].thread.join();
    }
}

bool take_results(ServerWorkers& workers, ServerTable& table) {
    bool landed = false;
    for (int i = 0; i < workers.count; ++i) {
        ServerWorker& w = workers.servers[i];
        if (w.published_version.load(std::memory_order_acquire) == w.seen_version) continue;
        ServerRecord& record = table.servers[i];
        const bool was_awaiting = record.awaiting_scan;
        landed = true;
        {
            const std::lock_guard hold(w.lock);
            copy_results(w.published, record);
            w.seen_version = w.version;
            w.probes_seen = w.probes_done;
        }
        if (was_awaiting && !record.awaiting_scan && workers.first_scan_done)
            workers.first_scan_done(record.name);
    }
    return landed;
}

void wait_until_idle(ServerWorkers& workers) {
    for (int i = 0; i < workers.count; ++i) {
        ServerWorker& w = workers.servers[i];
        std::unique_lock hold(w.lock);
        w.wake.wait(hold, [&] {
            return w.quit || !w.threaded || rt_stop_requested() ||
                   (!w.running && !w.scan_asked && !w.probe_asked);
        });
    }
}

void hand_reload(ServerWorker& worker) {
    hand(worker, &ServerWorker::scan_asked);
}

void hand_latency_step(ServerWorker& worker) {
    ++worker.probes_handed;
    hand(worker, &ServerWorker::probe_asked);
}

bool latency_step_pending(const ServerWorker& worker) {
    return worker.probes_handed > worker.probes_seen;
}
