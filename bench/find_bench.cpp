// The find box's second search (telephone digits, e-mail, business name,
// serial number, product key) over 100,000 customers, for a text that only
// the last entry holds, against one memchr pass over the table's text.

#include "bench_data.h"
#include "interleaved.h"
#include "ratios.h"
#include "caller_search.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

const TCustomerTable& Table()
{
    static const TCustomerTable table = TCustomerTable::Parse(GeneratedCustomerList());
    return table;
}

void BM_FindFallback100k(benchmark::State& state)
{
    const TCustomerTable& table = Table();
    std::vector<CustomerListModel::Entry> entries;
    for (std::int32_t row = 0; row < table.CustomerCount(); ++row)
        entries.push_back({row, 0});
    const int last = int(entries.size()) - 1;
    const QString typed = table.PK(last);
    const QStringView text = table.allText();
    const char* begin = reinterpret_cast<const char*>(text.utf16());
    const std::size_t bytes = std::size_t(text.size()) * sizeof(char16_t);
    bool found = true;
    for (auto _ : state) {
        const std::vector<double> t = InterleavedMedians(
            {[&] {
                 return SecondsOf([&] {
                     found = found && FindCallerByOtherFields(table, entries, typed) == last;
                 });
             },
             [&] {
                 // Never there: a full pass.
                 return SecondsOf([&] { benchmark::DoNotOptimize(std::memchr(begin, '\x01', bytes)); });
             }},
            15);
        if (!found) {
            state.SkipWithError("the search did not find the last entry");
            break;
        }
        RecordRatio(state, "find_fallback_100k", t[0], t[1]);
    }
}

BENCHMARK(BM_FindFallback100k)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
