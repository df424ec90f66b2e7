#include "ratios.h"

#include <sstream>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<std::string, double>>& Recorded()
{
    static std::vector<std::pair<std::string, double>> ratios;
    return ratios;
}

} // namespace

void RecordRatio(benchmark::State& state, const std::string& name, double measured,
                 double baseline)
{
    state.SetIterationTime(measured);
    state.counters["measured_ms"] = measured * 1000;
    state.counters["baseline_ms"] = baseline * 1000;
    state.counters["ratio"] = measured / baseline;
    RecordRatioValue(name, measured / baseline);
}

void RecordRatioValue(const std::string& name, double value)
{
    Recorded().emplace_back(name, value);
}

std::string RatioLines()
{
    std::ostringstream out;
    for (const auto& [name, value] : Recorded())
        out << "ratio " << name << " " << value << "\n";
    return out.str();
}
