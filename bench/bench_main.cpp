// Runs every benchmark and ends with one line per measure:
// "ratio <name> <value>", each against a baseline of the same run, the two
// sides timed in turns.

#include "bench_data.h"
#include "parse_bench.h"
#include "ratios.h"
#include "server_bench.h"
#include "window_bench.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdlib>
#include <iostream>

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

    RecordTableMemoryRatios();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::cout << RatioLines();
    EndWindowBench();
    std::cout << ServerThroughputLines();
    return 0;
}
