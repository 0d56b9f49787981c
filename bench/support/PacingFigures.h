#pragma once
// Playback's pacing as the robot sees it, gathered by a benchmark and printed
// with the goals of one command a 50 ms tick.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace kobito::bench {

struct PacingFigures {
    std::vector<double> replyToRow;  // ms, "#QPT000" leaving the robot -> next row on the line
    std::vector<double> pollSpacing; // ms, between polls of one move
    std::vector<double> commandGaps; // ms, between any two commands
    std::vector<double> handOffGaps; // ms, between two commands handed to the serial component

    static double Median(std::vector<double> v) {
        if (v.empty())
            return 0;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }

    // One line a figure, each name after `prefix`.
    void Print(const std::string& prefix) const {
        auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
        auto name = [&](const char* what) { return (prefix + what); };
        if (!replyToRow.empty()) {
            const double median = Median(replyToRow);
            const double max = *std::max_element(replyToRow.begin(), replyToRow.end());
            std::printf("median  %-40s %12.3f ms  (n %zu; goal 20..35: %s)\n",
                        name("finished reply -> next row").c_str(), median, replyToRow.size(),
                        verdict(median >= 20 && median <= 35));
            std::printf("max     %-40s %12.3f ms  (goal <= 60: %s)\n",
                        name("finished reply -> next row").c_str(), max, verdict(max <= 60));
        }
        if (!pollSpacing.empty()) {
            const double median = Median(pollSpacing);
            const double min = *std::min_element(pollSpacing.begin(), pollSpacing.end());
            std::printf("median  %-40s %12.3f ms  (n %zu; goal 47..53: %s)\n",
                        name("poll spacing while moving").c_str(), median, pollSpacing.size(),
                        verdict(median >= 47 && median <= 53));
            // At the far end of a pseudo-terminal, whose writes now and then
            // return late: a figure, not a goal.
            std::printf("min     %-40s %12.3f ms  (reported)\n",
                        name("poll spacing while moving").c_str(), min);
        }
        if (!commandGaps.empty()) {
            const double min = *std::min_element(commandGaps.begin(), commandGaps.end());
            std::printf("min     %-40s %12.3f ms  (n %zu; reported)\n",
                        name("gap between two commands").c_str(), min, commandGaps.size());
        }
        if (!handOffGaps.empty()) {
            const double min = *std::min_element(handOffGaps.begin(), handOffGaps.end());
            std::printf("min     %-40s %12.3f ms  (n %zu; goal >= 48: %s)\n",
                        name("gap between two commands handed over").c_str(), min,
                        handOffGaps.size(), verdict(min >= 48));
        }
    }
};

} // namespace kobito::bench
