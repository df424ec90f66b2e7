#include "list_filter.h"

#include "text_basics.h"

bool ListFilter::passes(const TCustomerTable& table, std::int32_t row) const
{
    if (letterTab != 0) {
        const QStringView last = Trim(table.textView(CustomerField::LN, row));
        if (last.isEmpty() || last.first(1) != letter)
            return false;
    }
    return !cdOnly || Trim(table.textView(CustomerField::DV, row)) == u"CD By Mail";
}

std::vector<CustomerListModel::Entry> FilteredEntries(const TCustomerTable& table,
                                                      const ListFilter& filter)
{
    std::vector<CustomerListModel::Entry> entries;
    const bool all = filter.letterTab == 0 && !filter.cdOnly;
    entries.reserve(std::size_t(all ? table.CustomerCount() : 0));
    for (std::int32_t row = 0; row < table.CustomerCount(); ++row)
        if (all || filter.passes(table, row))
            entries.push_back({row, filter.image});
    return entries;
}

LoadedList ParseFilteredList(QStringView records, std::int32_t count, const ListFilter& filter)
{
    LoadedList list;
    list.table = TCustomerTable::ParseRecords(records, count);
    list.entries = FilteredEntries(list.table, filter);
    return list;
}
