// Rebuilding the customer list once its answer has arrived: parse, filter and
// entries shown in a real list view. Compared with the parse alone.

#include "bench_data.h"
#include "interleaved.h"
#include "ratios.h"
#include "customer_list_model.h"
#include "list_filter.h"

#include <benchmark/benchmark.h>

#include <QTreeView>

#include <algorithm>
#include <vector>

namespace {

// A real list view over the model the window uses, rebuilt from the answer.
struct RebuiltList
{
    QString response = GeneratedCustomerList();
    CountHeader header = TCustomerTable::ReadCountHeader(response);
    TCustomerTable table;
    CustomerListModel model;
    QTreeView view;

    RebuiltList()
    {
        model.setTable(&table);
        view.setModel(&model);
        view.setUniformRowHeights(true);
        view.resize(265, 600);
        view.show();
    }

    double rebuild(const ListFilter& filter)
    {
        return SecondsOf([&] {
            LoadedList list = ParseFilteredList(QStringView(response).sliced(header.recordsStart),
                                                header.count, filter);
            model.clear();
            table = std::move(list.table);
            model.setEntries(std::move(list.entries));
            view.scrollToTop();
            benchmark::DoNotOptimize(model.count());
        });
    }
};

// The slower of a full rebuild and a letter switch, against the parse alone.
void BM_ListRebuild100k(benchmark::State& state)
{
    RebuiltList list;
    const ListFilter all{0, QStringLiteral("ALL"), false, 0};
    const ListFilter letter{19, QStringLiteral("S"), false, 0};
    for (auto _ : state) {
        const std::vector<double> t = InterleavedMedians(
            {[&] { return list.rebuild(all); }, [&] { return list.rebuild(letter); },
             [&] {
                 return SecondsOf([&] {
                     benchmark::DoNotOptimize(TCustomerTable::Parse(list.response).CustomerCount());
                 });
             }},
            11);
        RecordRatio(state, "list_rebuild_100k", std::max(t[0], t[1]), t[2]);
    }
}

BENCHMARK(BM_ListRebuild100k)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
