#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
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

    bool operator==(const Customer&) const = default;
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

    bool operator==(const Call&) const = default;
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
    static GuardedWrite missing()
    {
        GuardedWrite w;
        w.outcome = Outcome::Missing;
        return w;
    }
    // Repeated: the digest of the earlier request's other fields.
    std::string fingerprint;
    Customer current;
};

// A whole database, identifiers included: what --copy-db moves between
// engines. The last identifiers handed out may exceed the largest stored
// ones (calls are deleted by the dormant move); a copy keeps them, so
// identifiers are never used twice.
struct Snapshot
{
    std::vector<Customer> customers; // by identifier
    std::vector<Call> calls;         // by identifier
    std::int64_t lastCustomerId = 0;
    std::int64_t lastCallId = 0;
};

// Any failure of the storage engine; the scripts answer 500 for it.
class DatabaseError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The server's data. Every engine gives the same answers for the same
// sequence of operations: the same identifiers (one more than the largest
// ever handed out, never reused) and the same order. Safe to use from many
// threads.
class Store
{
public:
    virtual ~Store() = default;

    // Status 1 and 0, or status -1; by last name, then first name, with
    // ASCII letters compared case-blind and all else byte for byte, then by
    // identifier.
    virtual std::vector<Customer> activeCustomers() = 0;
    virtual std::vector<Customer> dormantCustomers() = 0;
    virtual std::vector<Call> calls() = 0;             // in the order they were logged
    virtual std::vector<std::string> stateCodes() = 0; // distinct two-character codes, sorted
    virtual Statistics statistics() = 0;
    virtual bool isEmpty() = 0;

    virtual std::int64_t addCustomer(const Customer& customer) = 0;
    // False when no customer has that identifier.
    virtual bool modifyCustomer(const Customer& customer) = 0;
    // Sets the status to dormant and deletes the customer's calls.
    virtual bool moveToDormant(std::int64_t id) = 0;
    // The new call's identifier, or nullopt when the customer does not exist.
    virtual std::optional<std::int64_t> saveCall(const Call& call) = 0;

    // The writes above with their guards; each checks and writes in one
    // transaction. With a key, a RequestId stored before repeats its first
    // answer and writes nothing; otherwise the answer `answerFor` makes from
    // the new or changed record's identifier is kept with the key. A modify
    // with an expected digest writes only when `digestOf` the stored row
    // gives that digest. Without key and digest they write as the plain ones.
    using AnswerFor = std::function<std::string(std::int64_t id)>;
    using DigestOf = std::function<std::string(const Customer&)>;
    virtual GuardedWrite addCustomerGuarded(const Customer& customer,
                                            const std::optional<RequestKey>& key,
                                            const AnswerFor& answerFor) = 0;
    virtual GuardedWrite modifyCustomerGuarded(const Customer& customer,
                                               const std::optional<std::string>& expectedDigest,
                                               const DigestOf& digestOf,
                                               const std::optional<RequestKey>& key,
                                               const AnswerFor& answerFor) = 0;
    virtual GuardedWrite moveToDormantGuarded(std::int64_t id, const std::optional<RequestKey>& key,
                                              const AnswerFor& answerFor) = 0;
    virtual GuardedWrite saveCallGuarded(const Call& call, const std::optional<RequestKey>& key,
                                         const AnswerFor& answerFor) = 0;

    // Adds many records in one transaction (demo data, generated data). A
    // call's customerId here is the 1-based position of its customer in
    // `customers`.
    virtual void bulkInsert(const std::vector<Customer>& customers,
                            const std::vector<Call>& calls) = 0;

    // Everything, read in one transaction.
    virtual Snapshot snapshot() = 0;
    // Stores `data` with its identifiers in one transaction, which is
    // rolled back unless the database was empty and ends up holding exactly
    // the snapshot's counts.
    virtual void restore(const Snapshot& data) = 0;
};

// Where `--db` points: a postgresql:// or postgres:// connection URI, or
// else an SQLite file.
bool IsPostgresAddress(const std::string& database);

// Opens (creating or upgrading the schema) the database `--db` names.
std::unique_ptr<Store> OpenStore(const std::string& database);

} // namespace refserver
