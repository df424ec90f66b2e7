#pragma once

#include <benchmark/benchmark.h>

#include <string>

// The "ratio <name> <value>" lines a run ends with, in the order measured.

// A time against its baseline from the same run: recorded for the closing
// lines, and shown in the benchmark's own row as the measured side's time
// (manual time) with both sides and the ratio as counters.
void RecordRatio(benchmark::State& state, const std::string& name, double measured,
                 double baseline);
// A ratio that is not a time (memory over wire bytes).
void RecordRatioValue(const std::string& name, double value);
std::string RatioLines();
