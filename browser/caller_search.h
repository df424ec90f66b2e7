#pragma once

#include "customer_list_model.h"
#include "customer_table.h"

#include <QStringView>

#include <vector>

// The find box's second search, for a caller who gives something other
// than the name the list shows. Over the entries in list order, the first
// customer whose
// - first or second telephone number holds the typed text's digits in a
//   row, when at least four digits were typed (every other character, on
//   either side, is ignored), or whose
// - e-mail address, business name, serial number or product key contains
//   the typed text, when it has at least three characters, letters compared
//   without regard to case and blanks at both ends of the typed text ignored.
// Returns the entry's position, or -1.
int FindCallerByOtherFields(const TCustomerTable& table,
                            const std::vector<CustomerListModel::Entry>& entries,
                            QStringView typed);
