// Runs every benchmark and ends with one line per measure:
// "ratio <name> <value>", each against a baseline of the same run.

#include "bench_data.h"
#include "parse_bench.h"
#include "server_bench.h"
#include "window_bench.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

namespace {

// Keeps each benchmark's real time per iteration for the ratio lines.
class RecordingReporter : public benchmark::ConsoleReporter
{
public:
    // Plain output: the ratio lines must start their lines.
    RecordingReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                times[run.run_name.function_name] = run.GetAdjustedRealTime();
                for (const auto& [name, counter] : run.counters)
                    counters[run.run_name.function_name + "." + name] = counter.value;
            }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::map<std::string, double> counters;
};

} // namespace

int main(int argc, char** argv)
{
    // The list and window benchmarks drive real windows, offscreen.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    // The offscreen platform cannot raise the progress window and says so
    // at every load.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context,
                              const QString& message) {
        if (!message.contains(u"does not support raise()"))
            qt_message_output(type, context, message);
    });

    // Build the data before timing starts.
    GeneratedCustomerList();
    GeneratedCallList();

    const std::string tableMemory = TableMemoryRatios();

    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto ratio = [&](const std::string& name, const char* measured, const char* baseline) {
        if (reporter.times.count(measured) && reporter.times.count(baseline))
            std::cout << "ratio " << name << " "
                      << reporter.times[measured] / reporter.times[baseline] << "\n";
    };
    ratio("customer_parse_vs_scan", "BM_CustomerParse", "BM_CustomerBaseline");
    ratio("call_parse_vs_scan", "BM_CallParse", "BM_CallBaseline");
    // The slower of a full rebuild and a letter switch, against the parse alone.
    if (reporter.times.count("BM_ListLetterSwitch") && reporter.times.count("BM_ListRebuildAll")) {
        const double worst =
            std::max(reporter.times["BM_ListLetterSwitch"], reporter.times["BM_ListRebuildAll"]);
        std::cout << "ratio list_rebuild_100k " << worst / reporter.times["BM_CustomerParse"]
                  << "\n";
    }
    ratio("find_fallback_100k", "BM_FindFallback100k", "BM_TableTextScan100k");
    ratio("window_load_100k", "BM_WindowLoad100k", "BM_Download100k");
    ratio("window_load_1m", "BM_WindowLoad1m", "BM_Download1m");
    ratio("call_log_load_1m", "BM_CallLogLoad1m", "BM_CallLogDownload1m");
    for (const auto& [name, counter] :
         {std::pair{"window_memory_vs_wire", "BM_WindowMemory.customers"},
          std::pair{"call_log_memory_vs_wire", "BM_WindowMemory.calls"}})
        if (reporter.counters.count(counter))
            std::cout << "ratio " << name << " " << reporter.counters[counter] << "\n";

    std::cout << tableMemory;
    EndWindowBench();
    std::cout << ServerThroughputLines();
    return 0;
}
