#pragma once

#include "database.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace refserver {

// A customer as stored. Dates are year-month-day; a missing date is nullopt.
struct Customer
{
    std::int64_t id = 0;
    std::string ln, fn, bn, ad, cy, st, zp, p1, p2, em, ho, dv, sn, pk, pm;
    std::optional<std::string> bd, dd, ani, pd;
    int act = 1; // 1 current, 0 expired, -1 dormant
};

struct Call
{
    std::int64_t id = 0;
    std::int64_t customerId = 0;
    std::string direction; // listed as the first tag
    std::string handler;   // listed as the second tag
    std::string date;      // year-month-day
    std::string time;      // hours:minutes:seconds, 24-hour clock
    std::string text;
};

struct Statistics
{
    std::int64_t current = 0, expired = 0, dormant = 0, calls = 0;
};

// The server's data on SQLite. Safe to use from many threads: each call
// borrows a connection of its own from a small pool.
class Store
{
public:
    explicit Store(std::string path);
    ~Store();

    std::vector<Customer> activeCustomers();  // status 1 and 0
    std::vector<Customer> dormantCustomers(); // status -1
    std::vector<Call> calls();                // in the order they were logged
    std::vector<std::string> stateCodes();    // distinct two-character codes, sorted
    Statistics statistics();
    bool isEmpty();

    std::int64_t addCustomer(const Customer& customer);
    // False when no customer has that identifier.
    bool modifyCustomer(const Customer& customer);
    // Sets the status to dormant and deletes the customer's calls.
    bool moveToDormant(std::int64_t id);
    // The new call's identifier, or nullopt when the customer does not exist.
    std::optional<std::int64_t> saveCall(const Call& call);

    // Adds many records in one transaction (demo data, generated data). A
    // call's customerId here is the 1-based position of its customer in
    // `customers`.
    void bulkInsert(const std::vector<Customer>& customers, const std::vector<Call>& calls);

private:
    class Lease;
    std::unique_ptr<Database> acquire();
    void release(std::unique_ptr<Database> db);
    std::vector<Customer> customersWhere(const char* condition);

    std::string m_path;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Database>> m_idle;
};

} // namespace refserver
