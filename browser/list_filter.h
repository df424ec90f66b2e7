#pragma once

#include "customer_list_model.h"
#include "customer_table.h"

#include <QString>
#include <QStringView>

#include <vector>

// Which rows of a loaded list get an entry: the letter tab (0 is "ALL",
// otherwise the trimmed last name must start with the tab's letter, case
// sensitive) and, for the CD view, a trimmed delivery method of exactly
// "CD By Mail".
struct ListFilter
{
    int letterTab = 0;
    QString letter;
    bool cdOnly = false;
    std::uint8_t image = 0;

    bool passes(const TCustomerTable& table, std::int32_t row) const;
};

struct LoadedList
{
    TCustomerTable table;
    std::vector<CustomerListModel::Entry> entries;
};

// The entries of a loaded table's rows that pass the filter, in table order.
std::vector<CustomerListModel::Entry> FilteredEntries(const TCustomerTable& table,
                                                      const ListFilter& filter);

// Parses the records after the count header into a new table and picks its
// entries.
LoadedList ParseFilteredList(QStringView records, std::int32_t count, const ListFilter& filter);
