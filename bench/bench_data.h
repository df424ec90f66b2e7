#pragma once

#include <QString>

// Generated list responses shared by the benchmarks: 100,000 customers and
// 1,000,000 calls, built once.
const QString& GeneratedCustomerList();
const QString& GeneratedCallList();
