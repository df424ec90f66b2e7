// Parsing speed and table memory of the two list formats, each measured
// against a baseline on the same data in the same run: a memchr scan of the
// response's bytes for the two terminators, the least any parser must do.
//
// Ends with one line per measure: "ratio <name> <value>".

#include "call_table.h"
#include "customer_table.h"

#include "bench_data.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <string>

namespace {

using namespace Qt::StringLiterals;

constexpr int CustomerRecords = 100'000;
constexpr int CallRecords = 1'000'000;

const QChar Field(0x00A9);
const QChar Record(0x00AE);

class Generator
{
public:
    QString pick(std::initializer_list<const char16_t*> words)
    {
        auto it = words.begin();
        std::advance(it, std::uniform_int_distribution<std::size_t>(0, words.size() - 1)(m_rng));
        return QString::fromUtf16(*it);
    }
    QString digits(int n)
    {
        QString s;
        for (int i = 0; i < n; ++i)
            s += QChar(u'0' + std::uniform_int_distribution<int>(0, 9)(m_rng));
        return s;
    }
    QString date() { return u"20"_s + digits(2) + u"-0"_s + digits(1) + u"-1"_s + digits(1); }
    int number(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }

private:
    std::mt19937 m_rng{42};
};

QString CustomerList()
{
    Generator g;
    QString out = QString::number(CustomerRecords) + u"<br>"_s;
    for (int i = 0; i < CustomerRecords; ++i) {
        const QString last = g.pick({u"Smith", u"Johnson", u"Williams", u"Brown", u"Garcia",
                                     u"Miller", u"Davis", u"Rodriguez", u"Martinez", u"Wilson"});
        const QString first = g.pick({u"James", u"Mary", u"Robert", u"Patricia", u"John",
                                      u"Jennifer", u"Michael", u"Linda", u"David", u"Elizabeth"});
        const QStringList fields = {
            QString::number(i + 1),
            last,
            first,
            last + u" "_s + g.pick({u"Bookkeeping", u"Tax Service", u"Accounting", u"& Sons"}),
            QString::number(g.number(1, 9999)) + u" "_s +
                g.pick({u"Main St", u"Oak Ave", u"Elm Rd"}),
            g.pick({u"Springfield", u"Dover", u"Austin", u"Portland"}),
            g.pick({u"DE", u"TX", u"OR", u"IL"}),
            g.digits(5),
            g.digits(10),
            g.digits(10),
            first.toLower() + u"@example.com"_s,
            g.pick({u"Friend", u"Magazine", u"Web Search", u"Trade Show"}),
            g.pick({u"Internet Download", u"CD By Mail"}),
            g.digits(4),
            g.digits(5) + u"-"_s + g.digits(5) + u"-"_s + g.digits(5),
            g.pick({u"Unlimited", u"Starter (Receipts)"}),
            g.date(),
            g.date(),
            g.date(),
            g.date(),
            QString::number(g.number(-1, 1))};
        for (const QString& f : fields)
            out += f + Field;
        out += Record + u"\r\n"_s;
    }
    return out;
}

QString CallList()
{
    Generator g;
    QString out = QString::number(CallRecords) + u"<br>"_s;
    for (int i = 0; i < CallRecords; ++i) {
        const QString text = g.pick(
            {u"Asked about the renewal price.",
             u"Printer setup for receipts; walked through the driver install "
             u"and a test page.",
             u"Could not open last year's file.\r\nSent the fix by e-mail.", u"Left a message."});
        const QStringList fields = {QString::number(i + 1),
                                    QString::number(g.number(1, 100000)),
                                    g.pick({u"Incoming", u"Outgoing"}),
                                    g.pick({u"Anna", u"Brian", u"Carol", u"David"}),
                                    g.date(),
                                    u"1"_s + g.digits(1) + u":"_s + u"3"_s + g.digits(1) + u":00"_s,
                                    text};
        for (const QString& f : fields)
            out += f + Field;
        out += Record + u"\r\n"_s;
    }
    return out;
}

} // namespace

const QString& GeneratedCustomerList()
{
    static const QString text = CustomerList();
    return text;
}

const QString& GeneratedCallList()
{
    static const QString text = CallList();
    return text;
}

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

void BM_CustomerBaseline(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(ScanTerminators(Customers()));
}

void BM_CustomerParse(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(TCustomerTable::Parse(Customers()).CustomerCount());
}

void BM_CallBaseline(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(ScanTerminators(Calls()));
}

void BM_CallParse(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(TCallTable::Parse(Calls()).CallCount());
}

BENCHMARK(BM_CustomerBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CustomerParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CallBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CallParse)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's real time per iteration for the ratio lines.
class RecordingReporter : public benchmark::ConsoleReporter
{
public:
    // Plain output: the ratio lines must start their lines.
    RecordingReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv)
{
    // The list benchmark drives a real list view, offscreen.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    // Build the data before timing starts.
    Customers();
    Calls();

    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto ratio = [&](const std::string& name, const char* parse, const char* baseline) {
        if (reporter.times.count(parse) && reporter.times.count(baseline))
            std::cout << "ratio " << name << " " << reporter.times[parse] / reporter.times[baseline]
                      << "\n";
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

    // Memory a loaded table holds per row, over the row's bytes on the wire.
    const TCustomerTable customers = TCustomerTable::Parse(Customers());
    std::cout << "ratio customer_memory_vs_wire "
              << double(customers.memoryBytes()) / double(Customers().toUtf8().size()) << "\n";
    const TCallTable calls = TCallTable::Parse(Calls());
    std::cout << "ratio call_memory_vs_wire "
              << double(calls.memoryBytes()) / double(Calls().toUtf8().size()) << "\n";
    return 0;
}
