#pragma once

#include "call_table.h"
#include "customer_table.h"

#include <QString>

// One line per row, columns separated by tabs, after a first line with the
// count. Integers in decimal; in text fields "\" is written "\\", tab "\t",
// CR "\r" and LF "\n", so every row stays on one line.
QString DumpTable(const TCustomerTable& table);
QString DumpTable(const TCallTable& table);

QString EscapeField(QStringView text);
