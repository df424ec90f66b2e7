// Rebuilding the customer list once its answer has arrived: parse, filter and
// entries shown in a real list view. Compared with the parse alone.

#include "bench_data.h"
#include "customer_list_model.h"
#include "list_filter.h"

#include <benchmark/benchmark.h>

#include <QTreeView>

namespace {

void Rebuild(benchmark::State& state, const ListFilter& filter)
{
    const QString& response = GeneratedCustomerList();
    const CountHeader header = TCustomerTable::ReadCountHeader(response);
    TCustomerTable table;
    CustomerListModel model;
    model.setTable(&table);
    QTreeView view;
    view.setModel(&model);
    view.setUniformRowHeights(true);
    view.resize(265, 600);
    view.show();
    for (auto _ : state) {
        LoadedList list = ParseFilteredList(QStringView(response).sliced(header.recordsStart),
                                            header.count, filter);
        model.clear();
        table = std::move(list.table);
        model.setEntries(std::move(list.entries));
        view.scrollToTop();
        benchmark::DoNotOptimize(model.count());
    }
}

void BM_ListRebuildAll(benchmark::State& state)
{
    Rebuild(state, ListFilter{0, QStringLiteral("ALL"), false, 0});
}

void BM_ListLetterSwitch(benchmark::State& state)
{
    Rebuild(state, ListFilter{19, QStringLiteral("S"), false, 0});
}

BENCHMARK(BM_ListRebuildAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListLetterSwitch)->Unit(benchmark::kMillisecond);

} // namespace
