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

LoadedList ParseFilteredList(QStringView records, std::int32_t count, const ListFilter& filter)
{
    LoadedList list;
    list.table = TCustomerTable::ParseRecords(records, count,
                                              [&](const TCustomerTable& t, std::int32_t row) {
                                                  if (filter.passes(t, row))
                                                      list.entries.push_back({row, filter.image});
                                              });
    return list;
}
