#pragma once
// The console report as usual, plus each benchmark's median kept by name, so
// that a benchmark's main can print ratios between them after the run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace kobito::bench {

class MedianReporter : public benchmark::ConsoleReporter {
public:
    MedianReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            // A single repetition has no aggregates: its own run is the figure.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (!median && !single)
                continue;
            Figure& f = figures_[Key(run)];
            f.seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            for (const auto& [name, counter] : run.counters)
                f.counters[name] = counter.value;
        }
    }

    // Function name and arguments, e.g. "AddLog/lines:1000".
    static std::string Key(const Run& run) {
        return run.run_name.args.empty() ? run.run_name.function_name
                                         : run.run_name.function_name + "/" + run.run_name.args;
    }

    bool Has(const std::string& key) const { return figures_.count(key) != 0; }
    double Seconds(const std::string& key) const { return figures_.at(key).seconds; }
    double Counter(const std::string& key, const std::string& name) const {
        const auto& c = figures_.at(key).counters;
        const auto it = c.find(name);
        return it == c.end() ? 0.0 : it->second;
    }

    // One summary line per median, in a fixed unit.
    void PrintMedian(const std::string& key, const char* unit = "us") const {
        if (!Has(key))
            return;
        const std::string u = unit;
        const double scale = u == "ms" ? 1e3 : u == "ns" ? 1e9 : 1e6;
        std::printf("median  %-40s %12.3f %s\n", key.c_str(), Seconds(key) * scale, unit);
    }

    // numerator / denominator of the medians, against a goal.
    void PrintRatio(const char* label, const std::string& numerator, const std::string& denominator,
                    double goal) const {
        if (!Has(numerator) || !Has(denominator) || Seconds(denominator) <= 0) {
            std::printf("ratio   %-40s n/a (a run is missing)\n", label);
            return;
        }
        const double r = Seconds(numerator) / Seconds(denominator);
        std::printf("ratio   %-40s %12.2f   (goal <= %.1f: %s)\n", label, r, goal,
                    r <= goal ? "met" : "MISSED");
    }

    // The same for a counter of two benchmarks.
    void PrintCounterRatio(const char* label, const std::string& counter,
                           const std::string& numerator, const std::string& denominator,
                           double goal) const {
        if (!Has(numerator) || !Has(denominator) || Counter(denominator, counter) <= 0) {
            std::printf("ratio   %-40s n/a (a run is missing)\n", label);
            return;
        }
        const double r = Counter(numerator, counter) / Counter(denominator, counter);
        std::printf("ratio   %-40s %12.2f   (goal <= %.1f: %s; %.1f / %.1f %s)\n", label, r, goal,
                    r <= goal ? "met" : "MISSED", Counter(numerator, counter),
                    Counter(denominator, counter), counter.c_str());
    }

private:
    struct Figure {
        double seconds = 0;
        std::map<std::string, double> counters;
    };
    std::map<std::string, Figure> figures_;
};

} // namespace kobito::bench
