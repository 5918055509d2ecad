// Benchmarks report ratios against a baseline measured in the same run: this reporter keeps each
// benchmark's time (the median when repeated) so that main can print the ratios with their limits.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // Colours only on a terminal, so that the output can be piped and parsed.
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    std::map<std::string, double> times;
    std::map<std::string, double> cpu_times; // the benchmark thread's own CPU time, without waits
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const std::string name = r.run_name.function_name;
            if (r.run_type == Run::RT_Iteration && !medians.count(name)) {
                times[name] = r.GetAdjustedRealTime();
                cpu_times[name] = r.GetAdjustedCPUTime();
            }
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
                times[name] = r.GetAdjustedRealTime();
                cpu_times[name] = r.GetAdjustedCPUTime();
                medians[name] = true;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

  private:
    std::map<std::string, bool> medians;
};

inline void print_ratio(const RatioReporter& r, const char* what, const char* slow, const char* fast,
                        const char* limit) {
    if (!r.times.count(slow) || !r.times.count(fast)) return;
    std::printf("%-52s %6.2f   (%s)\n", what, r.times.at(slow) / r.times.at(fast), limit);
}

// The same over the benchmark thread's CPU time: what the measured code itself costs, without the time it
// waits for another process (an X server's reply).
inline void print_cpu_ratio(const RatioReporter& r, const char* what, const char* slow, const char* fast,
                            const char* limit) {
    if (!r.cpu_times.count(slow) || !r.cpu_times.count(fast)) return;
    std::printf("%-52s %6.2f   (%s)\n", what, r.cpu_times.at(slow) / r.cpu_times.at(fast), limit);
}

// Runs the benchmarks the command line selects. A shared machine changes speed for seconds at a time;
// repetitions of all benchmarks in random order give each ratio's two sides the same mix. Flags given on
// the command line come later and win. False when the command line was not understood.
inline bool run_ratio_benchmarks(int argc, char** argv, RatioReporter& reporter, int repetitions = 9) {
    std::vector<std::string> defaults = {"--benchmark_repetitions=" + std::to_string(repetitions),
                                         "--benchmark_enable_random_interleaving=true",
                                         "--benchmark_report_aggregates_only=true"};
    std::vector<char*> args = {argv[0]};
    for (std::string& d : defaults) args.push_back(d.data());
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return false;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    return true;
}
