// Parsing speed and table memory of the two list formats, each measured
// against a baseline on the same data in the same run: a memchr scan of the
// response's bytes for the two terminators, the least any parser must do.

#include "call_table.h"
#include "customer_table.h"
#include "answer_sink.h"

#include "bench_data.h"
#include "interleaved.h"
#include "parse_bench.h"
#include "ratios.h"

#include <benchmark/benchmark.h>

#include <QString>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace {

const QString& Customers()
{
    return GeneratedCustomerList();
}

const QString& Calls()
{
    return GeneratedCallList();
}

// Counts both terminators with two memchr passes over the text's bytes.
std::size_t ScanTerminators(const QString& text)
{
    const char* begin = reinterpret_cast<const char*>(text.utf16());
    const char* end = begin + text.size() * sizeof(char16_t);
    std::size_t hits = 0;
    for (const char byte : {'\xA9', '\xAE'}) {
        for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, byte, end - p)));
             ++p)
            ++hits;
    }
    return hits;
}

// Parse against scan, timed in turns.
void ParseVsScan(benchmark::State& state, const char* name, const QString& text,
                 const std::function<void()>& parse)
{
    for (auto _ : state) {
        const std::vector<double> t = InterleavedMedians(
            {[&] { return SecondsOf(parse); },
             [&] { return SecondsOf([&] { benchmark::DoNotOptimize(ScanTerminators(text)); }); }},
            15);
        RecordRatio(state, name, t[0], t[1]);
    }
}

void BM_CustomerParseVsScan(benchmark::State& state)
{
    ParseVsScan(state, "customer_parse_vs_scan", Customers(), [] {
        benchmark::DoNotOptimize(TCustomerTable::Parse(Customers()).CustomerCount());
    });
}

void BM_CallParseVsScan(benchmark::State& state)
{
    ParseVsScan(state, "call_parse_vs_scan", Calls(),
                [] { benchmark::DoNotOptimize(TCallTable::Parse(Calls()).CallCount()); });
}

// The bytes of a UTF-8 answer as the network hands them over, in pieces of
// 16 KiB, cut straight into a table.
template <typename Builder>
auto CutPieces(const QByteArray& bytes)
{
    constexpr qsizetype Piece = 16 * 1024;
    Builder builder;
    builder.beginBytes(bytes.size(), AnswerSink::ByteText::Utf8);
    for (qsizetype at = 0; at < bytes.size(); at += Piece)
        builder.takeBytes(QByteArrayView(bytes).sliced(at, std::min(Piece, bytes.size() - at)));
    return builder.take();
}

// Each table replaces the one before, whose buffers it reuses, as in the
// window; the first is cut before timing starts.
template <typename Builder>
void CutRepeatedly(benchmark::State& state, const QByteArray& bytes)
{
    auto table = CutPieces<Builder>(bytes);
    for (auto _ : state) {
        table = CutPieces<Builder>(bytes);
        benchmark::DoNotOptimize(table);
    }
}

void BM_CustomerBytes(benchmark::State& state)
{
    static const QByteArray bytes = Customers().toUtf8();
    CutRepeatedly<TCustomerTable::Builder>(state, bytes);
}

void BM_CallBytes(benchmark::State& state)
{
    static const QByteArray bytes = Calls().toUtf8();
    CutRepeatedly<TCallTable::Builder>(state, bytes);
}

BENCHMARK(BM_CustomerParseVsScan)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CallParseVsScan)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CustomerBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CallBytes)->Unit(benchmark::kMillisecond);

} // namespace

void RecordTableMemoryRatios()
{
    // Memory a loaded table holds per row, over the row's bytes on the wire.
    const TCustomerTable customers = TCustomerTable::Parse(Customers());
    RecordRatioValue("customer_memory_vs_wire",
                     double(customers.memoryBytes()) / double(Customers().toUtf8().size()));
    const TCallTable calls = TCallTable::Parse(Calls());
    RecordRatioValue("call_memory_vs_wire",
                     double(calls.memoryBytes()) / double(Calls().toUtf8().size()));
}
