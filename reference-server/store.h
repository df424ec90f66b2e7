#pragma once

#include "database.h"

#include <cstdint>
#include <functional>
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

// A write's RequestId and the digest of the request's other fields.
struct RequestKey
{
    std::string id;
    std::string fingerprint;
};

// What a write guarded by a RequestId (and, for a modify, by the row's
// digest) did. Nothing is stored unless the outcome is Stored.
struct GuardedWrite
{
    enum class Outcome
    {
        Stored,   // written; `answer` is kept for the request's RequestId
        Repeated, // the RequestId was stored before: `answer` is the first answer
        Changed,  // the row's digest is not the one expected: `current` holds it
        Missing   // no customer has that identifier
    };
    Outcome outcome = Outcome::Stored;
    std::string answer;
    // Repeated: the digest of the earlier request's other fields.
    std::string fingerprint;
    Customer current;
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

    // The writes above with their guards; each checks and writes in one
    // transaction. With a key, a RequestId stored before repeats its first
    // answer and writes nothing; otherwise the answer `answerFor` makes from
    // the new or changed record's identifier is kept with the key. A modify
    // with an expected digest writes only when `digestOf` the stored row
    // gives that digest. Without key and digest they write as the plain ones.
    using AnswerFor = std::function<std::string(std::int64_t id)>;
    GuardedWrite addCustomerGuarded(const Customer& customer, const std::optional<RequestKey>& key,
                                    const AnswerFor& answerFor);
    GuardedWrite modifyCustomerGuarded(const Customer& customer,
                                       const std::optional<std::string>& expectedDigest,
                                       const std::function<std::string(const Customer&)>& digestOf,
                                       const std::optional<RequestKey>& key,
                                       const AnswerFor& answerFor);
    GuardedWrite moveToDormantGuarded(std::int64_t id, const std::optional<RequestKey>& key,
                                      const AnswerFor& answerFor);
    GuardedWrite saveCallGuarded(const Call& call, const std::optional<RequestKey>& key,
                                 const AnswerFor& answerFor);

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
