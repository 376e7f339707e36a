// Benchmark reporter that keeps every run's throughput, so that a benchmark
// program can print its ratios against the reference of the same run.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end() && !run.error_occurred)
                speed[run.benchmark_name()] = it->second.value;
        }
    }
    // Bytes per second by benchmark name.
    std::map<std::string, double> speed;
};
