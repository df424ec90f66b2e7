// The find box's second search (telephone digits, e-mail, business name,
// serial number, product key) over 100,000 customers, for a text that only
// the last entry holds, against one memchr pass over the table's text.

#include "bench_data.h"
#include "caller_search.h"

#include <benchmark/benchmark.h>

#include <cstring>

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
    for (auto _ : state) {
        const int found = FindCallerByOtherFields(table, entries, typed);
        if (found != last) {
            state.SkipWithError("the search did not find the last entry");
            break;
        }
        benchmark::DoNotOptimize(found);
    }
}

void BM_TableTextScan100k(benchmark::State& state)
{
    const QStringView text = Table().allText();
    const char* begin = reinterpret_cast<const char*>(text.utf16());
    const std::size_t bytes = std::size_t(text.size()) * sizeof(char16_t);
    for (auto _ : state)
        benchmark::DoNotOptimize(std::memchr(begin, '\x01', bytes)); // never there: a full pass
}

BENCHMARK(BM_TableTextScan100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindFallback100k)->Unit(benchmark::kMillisecond);

} // namespace
