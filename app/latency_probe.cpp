#include "app/latency_probe.h"

#include <cmath>
#include <utility>

#include "app/command_lines.h"
#include "app/shell_text.h"
#include "rt/clock.h"
#include "rt/numbers.h"

namespace {

constexpr std::string_view TIME_MARK = "time=";
constexpr std::string_view TOTAL_LOSS = "100% packet loss";
// httping's own words for total loss.
constexpr std::string_view HTTP_TOTAL_LOSS = "100.00% failed";

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Shared by both probes: they differ only in the command and the history they fill.
void run_latency_probe(ServerRecord& record, const ToolArguments& command,
                       std::array<double, HISTORY_SLOTS>& history,
                       std::array<std::string, HISTORY_SLOTS>& times) {
    read_command_lines(command, [&](std::string_view line) {
        if (line.find(TIME_MARK) != std::string_view::npos) {
            push_sample(history, times, parse_time_value(line), rt_time_string());
        } else if (line.find(TOTAL_LOSS) != std::string_view::npos ||
                   line.find(HTTP_TOTAL_LOSS) != std::string_view::npos) {
            record.up = 0;
        }
    });
}

} // namespace

ToolArguments ping_arguments(const ServerRecord& record) {
    const std::optional<std::string> host = host_argument(record.name);
    if (!host) return {};
    return {"ping", *host, "-c", "1", "-W", "1"};
}

ToolArguments http_arguments(const ServerRecord& record, std::string_view proxy) {
    // A blank target would leave httping taking "-c" for its target and running forever.
    if (is_blank(record.http_target)) return {};
    const TextCheck target = check_http_target(record.http_target);
    if (!target.ok) return {};
    ToolArguments arguments = {"httping", "-h", target.word};
    // "-x" with nothing after it would take "-c" for the proxy, and httping would never stop.
    if (!is_blank(proxy)) {
        const TextCheck checked = check_proxy(proxy);
        if (!checked.ok) return {};
        arguments.insert(arguments.end(), {"-x", checked.word});
    }
    // The frame waits for the probe: httping's own timeout and interval keep a dropped request to 2 s and
    // an answered one from waiting a second after its reply.
    arguments.insert(arguments.end(), {"-c", "1", "-t", "2", "-i", "0.01"});
    return arguments;
}

double parse_time_value(std::string_view line) {
    const std::size_t mark = line.find(TIME_MARK);
    if (mark == std::string_view::npos) return 0;
    std::size_t start = mark + TIME_MARK.size();
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
    // Only digits and one point are taken, so "inf", "nan", signs and exponents never make a
    // sample the graph cannot scale.
    std::size_t end = start;
    bool point = false;
    while (end < line.size() && (is_digit(line[end]) || (line[end] == '.' && !point))) {
        if (line[end] == '.') point = true;
        ++end;
    }
    const double ms = rt_parse_number(line.substr(start, end - start));
    // More digits than a double can hold read as infinity; that is no time either.
    return std::isfinite(ms) ? ms : 0;
}

void push_sample(std::array<double, HISTORY_SLOTS>& history, std::array<std::string, HISTORY_SLOTS>& times,
                 double sample, std::string stamp) {
    for (int i = 1; i < HISTORY_LENGTH; ++i) {
        history[i] = history[i + 1];
        times[i] = std::move(times[i + 1]);
    }
    // The graph scales by its samples: one it cannot scale counts as a line without a number.
    history[HISTORY_LENGTH] = std::isfinite(sample) ? sample : 0;
    times[HISTORY_LENGTH] = std::move(stamp);
}

void probe_ping(ServerRecord& record) {
    run_latency_probe(record, ping_arguments(record), record.ping_history, record.ping_times);
}

void probe_http(ServerRecord& record, std::string_view proxy) {
    run_latency_probe(record, http_arguments(record, proxy), record.http_history, record.http_times);
}
