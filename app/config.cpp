#include "app/config.h"

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/command_lines.h"
#include "app/scan_probe.h"
#include "app/shell_text.h"
#include "rt/files.h"
#include "rt/new_files.h"
#include "rt/runtime.h"

namespace {

// Characters of the first two lines that are skipped unread: a label of the user's choosing.
constexpr std::size_t TERMINAL_LABEL = 9;
constexpr std::size_t PROXY_LABEL = 6;
constexpr std::string_view PORT_KEY = "port=";
constexpr std::string_view HTTP_KEY = "http=";
constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

// The path as it reads from the working folder, for the messages about the whole file.
std::string working_folder_path(std::string_view path) {
    if (path.starts_with('/')) return std::string(path);
    std::string dir(4096, '\0');
    if (getcwd(dir.data(), dir.size()) == nullptr) return "./" + std::string(path);
    dir.resize(dir.find('\0'));
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir + std::string(path);
}

// What is said about single lines, and how many lines were not taken as they stand.
struct LineReports {
    std::string_view file; // as opened
    int count = 0;
    void operator()(long line_number, const std::string& text) {
        ++count;
        std::fprintf(stderr, "velmora: %.*s, Zeile %ld: %s\n", static_cast<int>(file.size()), file.data(),
                     line_number, text.c_str());
    }
};

// Empty when the check accepted the text, else why not. The text starts at column start + 1 of its line;
// the message names the column in the line.
std::string refusal(const TextCheck& check, std::size_t start) {
    if (check.ok) return {};
    return check.why + " (Stelle " + std::to_string(start + check.at + 1) + ")";
}

// The next line; one longer than MAX_CONFIG_LINE is reported and comes back empty, which every
// line of the file treats as nothing given. The bound keeps a line without end from eating memory.
void read_line(int file, LineReports& report, long line_number, std::string& line) {
    if (rt_line_input_bounded(file, line, MAX_CONFIG_LINE)) return;
    if (rt_stop_requested()) { // the line was cut by the stop, not by its length
        line.clear();
        return;
    }
    report(line_number, "länger als " + std::to_string(MAX_CONFIG_LINE) + " Bytes; Zeile wird ignoriert.");
    line.clear();
}

// Reading state from line 3 on.
struct Reader {
    ServerTable& table;
    LineReports& report;
    // The server that port= and http= lines go to; null before the first server and after a
    // server line that was refused, so they never land on the server before it.
    ServerRecord* current = nullptr;
    uint8_t port_count = 0;
};

void handle_port(Reader& r, long number, const std::string& line) {
    if (r.current == nullptr) {
        r.report(number, "\"port=\"-Zeile ohne gültigen Server davor; wird ignoriert.");
        return;
    }
    if (r.port_count >= MAX_EXPECTED_PORTS) {
        r.report(number, "mehr als " + std::to_string(MAX_EXPECTED_PORTS) +
                             " \"port=\"-Zeilen für diesen Server; wird ignoriert.");
        return;
    }
    ++r.port_count;
    r.current->expected_ports[r.port_count] = rest_from(line, PORT_KEY.size());
}

void handle_http(Reader& r, long number, const std::string& line) {
    if (r.current == nullptr) {
        r.report(number, "\"http=\"-Zeile ohne gültigen Server davor; wird ignoriert.");
        return;
    }
    std::string target = rest_from(line, HTTP_KEY.size());
    // Blanks alone would leave httping without a target: it would take the next option word for one.
    if (is_blank(target)) {
        r.current->http_target.clear();
        return;
    }
    const std::string why = refusal(check_http_target(target), HTTP_KEY.size());
    if (!why.empty()) {
        r.report(number, "HTTP-Ziel " + why + "; Zeile wird übersprungen.");
        return;
    }
    r.current->http_target = std::move(target);
}

void handle_server(Reader& r, long number, const std::string& line) {
    r.current = nullptr;
    r.port_count = 0;
    if (r.table.server_count >= MAX_SERVERS) {
        r.report(number, "mehr als " + std::to_string(MAX_SERVERS) + " Server; Zeile wird ignoriert.");
        return;
    }
    const std::string why = refusal(check_host(line), 0);
    if (!why.empty()) {
        r.report(number, "Servername " + why + "; Zeile wird übersprungen.");
        return;
    }
    // Probed once the whole file is read, all servers at once.
    add_unprobed_server(r.table, line);
    r.current = &r.table.servers[r.table.server_count - 1];
}

void handle_line(Reader& r, long number, const std::string& line) {
    // A line of nothing but blanks would run the tools without a host; nslookup would then wait
    // for commands on the program's own input.
    if (is_blank(line)) return;
    if (line.find('#') != std::string::npos) return;
    if (line.starts_with(PORT_KEY)) {
        handle_port(r, number, line);
    } else if (line.starts_with(HTTP_KEY)) {
        handle_http(r, number, line);
    } else {
        handle_server(r, number, line);
    }
}

} // namespace

void add_unprobed_server(ServerTable& table, std::string_view line) {
    const uint8_t index = table.server_count;
    ServerRecord& record = table.servers[index];
    record.name = std::string(line);
    record.last_probe = index;
    record.interval = DEFAULT_INTERVAL;
    record.awaiting_scan = true;
    table.server_count = index + 1;
}

ConfigResult read_configuration(const ConfigSource& source, ServerTable& table, DashboardState& state) {
    const std::string shown = source.shown.empty() ? working_folder_path(source.path) : source.shown;
    // Only a regular file opens: a directory, a device or a FIFO is as unreadable as a missing file.
    const int n = rt_free_file();
    // The path as named: it is the one that was looked up, and the one the messages name.
    if (rt_open_file(source.path, n, PathSpelling::as_named) != RT_OK) {
        const DanglingLink dangling = rt_dangling_link(source.path);
        if (dangling.link.empty()) {
            std::fprintf(stderr, "velmora: Konfigurationsdatei %s fehlt oder ist nicht lesbar.\n",
                         shown.c_str());
        } else {
            std::fprintf(
                stderr,
                "velmora: Konfigurationsdatei %s ist nicht lesbar: %s ist eine symbolische Verknüpfung "
                "ins Leere (ihr Ziel %s gibt es nicht).\n",
                shown.c_str(), dangling.link.c_str(), dangling.target.c_str());
        }
        return {};
    }
    LineReports report{.file = source.path};
    std::string line;
    read_line(n, report, 1, line);
    // An editor's byte-order mark would otherwise eat into the label and cut the command.
    if (line.starts_with(BYTE_ORDER_MARK)) line.erase(0, BYTE_ORDER_MARK.size());
    state.terminal_command = rest_from(line, TERMINAL_LABEL);

    line.clear();
    read_line(n, report, 2, line);
    std::string proxy = rest_from(line, PROXY_LABEL);
    const std::string why = is_blank(proxy) ? std::string() : refusal(check_proxy(proxy), PROXY_LABEL);
    if (is_blank(proxy)) {
        proxy.clear(); // "-x" without a proxy would break every HTTP probe
    } else if (!why.empty()) {
        report(2, "Proxy " + why + "; es wird kein Proxy verwendet.");
        proxy.clear();
    }
    state.proxy = std::move(proxy);

    Reader reader{.table = table, .report = report};
    long number = 2;
    while (!rt_eof(n)) {
        read_line(n, report, ++number, line);
        handle_line(reader, number, line);
    }
    rt_close(n);
    // A stop ends the reading where it is (rt/files.h): what was read is not the whole file.
    if (rt_stop_requested()) {
        std::fprintf(stderr, "velmora: Das Lesen der Konfigurationsdatei %s wurde abgebrochen.\n",
                     shown.c_str());
        return {.opened = true, .ok = false, .refused_lines = report.count};
    }

    if (table.server_count == 0) {
        std::fprintf(stderr, "velmora: Konfigurationsdatei %s nennt keinen Server.\n", shown.c_str());
        return {.opened = true, .ok = false, .refused_lines = report.count};
    }
    if (source.probe) {
        if (source.probing) source.probing(table.server_count);
        probe_servers_at_once(table, source.notice);
    }
    return {.opened = true, .ok = true, .refused_lines = report.count};
}

void probe_servers_at_once(ServerTable& table, ServerNotice done) {
    const int count = table.server_count;
    std::mutex lock;
    std::condition_variable finished_one;
    std::vector<int> finished; // indices, in the order their probes ended
    auto probe = [&](int i) {
        probe_lookup_and_scan(table.servers[i]);
        table.servers[i].awaiting_scan = false;
        const std::lock_guard hold(lock);
        finished.push_back(i);
        finished_one.notify_one();
    };
    std::vector<std::thread> workers;
    for (int i = 0; i < count; ++i) {
        try {
            workers.emplace_back(probe, i);
        } catch (const std::system_error&) {
            probe(i); // no thread to be had: this one probes it
        }
    }
    // The notices come from this thread, one whole line each, in the order the servers finish.
    for (int reported = 0; reported < count; ++reported) {
        std::unique_lock hold(lock);
        finished_one.wait(hold, [&] { return static_cast<int>(finished.size()) > reported; });
        const int i = finished[static_cast<std::size_t>(reported)];
        hold.unlock();
        if (done) done(table.servers[i].name);
    }
    for (std::thread& worker : workers) worker.join();
}

bool read_configuration(ServerTable& table, DashboardState& state, ServerNotice notice) {
    ConfigSource source;
    source.notice = notice;
    return read_configuration(source, table, state).ok;
}
