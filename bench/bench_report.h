// A console reporter that also keeps each benchmark's median real time, so
// that a benchmark program can print its figures as ratios between
// benchmarks measured in the same run.
#ifndef BENCH_REPORT_H
#define BENCH_REPORT_H

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class MedianReporter : public benchmark::ConsoleReporter {
  public:
    // Median seconds per iteration of the benchmark registered as `name`;
    // 0 when it did not run (filtered out or failed).
    double seconds(const std::string &name) const {
        auto found = medians_.find(name);
        return found == medians_.end() ? 0.0 : found->second;
    }

    // Whether any benchmark stopped with an error.
    bool failed() const { return failed_; }

    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            failed_ = failed_ || run.error_occurred;
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (!run.error_occurred && (median || single)) {
                medians_[run.run_name.function_name] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
        }
    }

  private:
    std::map<std::string, double> medians_;
    bool failed_ = false;
};

// The settings every benchmark here shares: real time in milliseconds,
// nine repetitions reported by their aggregates (the median among them).
inline void medianOfNine(benchmark::internal::Benchmark *registered) {
    registered->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Repetitions(9)
        ->ReportAggregatesOnly(true);
}

// Runs the registered benchmarks into `reporter`; false when one failed.
inline bool runBenchmarks(MedianReporter *reporter) {
    benchmark::RunSpecifiedBenchmarks(reporter);
    benchmark::Shutdown();
    return !reporter->failed();
}

// Exit statuses of the benchmark programs: 0 every target met, 1 a
// benchmark failed, 3 a target missed.
constexpr int targetMissed = 3;

// Prints one target line: what was measured, the figure, the limit and
// whether the figure is within it. Returns whether it is.
inline bool printTarget(const char *what, double figure, const char *relation, double limit,
                        const char *unit) {
    bool met = relation[0] == '<' ? figure <= limit : figure >= limit;
    std::printf("TARGET %-58s %10.2f %s (%s %.2f %s): %s\n", what, figure, unit, relation, limit,
                unit, met ? "met" : "MISSED");
    return met;
}

#endif
