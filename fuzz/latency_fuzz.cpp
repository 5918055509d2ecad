// The ping and httping line handling over arbitrary tool output: one sample per "time=" line, in
// order, each the value parse_time_value reads, never negative or beyond what the graph can scale;
// the histories shift by push_sample with entry 0 untouched; total loss clears up only on lines
// without a time. The same bytes are served to both tools.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/latency_probe.h"
#include "fuzz/fuzz_support.h"
#include "rt/files.h"

namespace {

constexpr std::string_view TIME_MARK = "time=";
constexpr std::string_view TOTAL_LOSS = "100% packet loss";
constexpr std::string_view HTTP_TOTAL_LOSS = "100.00% failed"; // httping's word for the same

void check_history(const std::array<double, HISTORY_SLOTS>& history,
                   const std::array<std::string, HISTORY_SLOTS>& times, const std::vector<double>& samples) {
    fuzz_check(history[0] == 0 && times[0].empty(), "entry 0 of a history was touched");
    const std::size_t kept = std::min<std::size_t>(samples.size(), HISTORY_LENGTH);
    for (int i = 1; i <= HISTORY_LENGTH; ++i) {
        const std::size_t from_end = static_cast<std::size_t>(HISTORY_LENGTH - i);
        if (from_end < kept) {
            const double expected = samples[samples.size() - 1 - from_end];
            fuzz_check(history[i] == expected, "a sample is not where the shift puts it");
            fuzz_check(times[i].size() == 8, "a sample has no hh:mm:ss stamp");
        } else {
            fuzz_check(history[i] == 0 && times[i].empty(), "an entry without a sample changed");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    serve_output("ping", bytes);
    serve_output("httping", bytes);

    std::vector<double> samples;
    bool loss = false;
    for (const std::string& line : split_lines(bytes)) {
        if (line.find(TIME_MARK) != std::string::npos) {
            const double ms = parse_time_value(line);
            fuzz_check(std::isfinite(ms) && ms >= 0, "a time the graph cannot scale");
            samples.push_back(ms);
        } else if (line.find(TOTAL_LOSS) != std::string::npos ||
                   line.find(HTTP_TOTAL_LOSS) != std::string::npos) {
            loss = true;
        }
    }

    ServerRecord record;
    record.name = "127.0.0.1";
    record.http_target = "127.0.0.1:8089";
    record.up = 1;
    probe_ping(record);
    fuzz_check(record.up == (loss ? 0 : 1), "up does not follow the loss lines");
    record.up = 1;
    probe_http(record, "127.0.0.1:3128");
    fuzz_check(record.up == (loss ? 0 : 1), "up does not follow the loss lines");
    check_history(record.ping_history, record.ping_times, samples);
    check_history(record.http_history, record.http_times, samples);

    const std::vector<std::string> commands = take_commands();
    fuzz_check(commands.size() == 2 && commands[0] == "ping 127.0.0.1 -c 1 -W 1" &&
                   commands[1] == "httping -h 127.0.0.1:8089 -x 127.0.0.1:3128 -c 1 -t 2 -i 0.01",
               "the probes ran other commands");
    fuzz_check(rt_free_file() == 1, "a pipe stayed open");
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    serve_tools();
    return 0;
}
