#pragma once

#include <QString>

// List responses in the server's formats: `records` customers or calls.
QString MakeCustomerList(int records);
QString MakeCallList(int records);

// The shared ones, built once: 100,000 customers and 1,000,000 calls.
const QString& GeneratedCustomerList();
const QString& GeneratedCallList();
