#pragma once

#include "store.h"

#include <vector>

namespace refserver {

// Records to fill a fresh database. A call's customerId is the 1-based
// position of its customer in the customer vector (see Store::bulkInsert).
struct Dataset
{
    std::vector<Customer> customers;
    std::vector<Call> calls;
};

// About 60 fictional customers in about 12 states and about 150 calls, dated
// around `currentYear` so that the quarterly report always has entries.
Dataset DemoData(int currentYear);

// `customers` synthetic customers and `calls` calls, for benchmarks.
Dataset SyntheticData(int customers, int calls, int currentYear);

} // namespace refserver
