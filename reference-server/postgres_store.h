#pragma once

#include "connection_pool.h"
#include "postgres.h"
#include "store.h"

namespace refserver {

// The store in a PostgreSQL database, shared by any number of server
// processes. Each call borrows a connection of its own from a small pool.
// A write is one READ COMMITTED transaction that locks the identifier
// counter it takes a number from, so numbers go out in commit order;
// serialization failures and deadlocks are retried.
class PostgresStore final : public Store
{
public:
    explicit PostgresStore(std::string uri);
    ~PostgresStore() override;

    std::vector<Customer> activeCustomers() override;
    std::vector<Customer> dormantCustomers() override;
    std::vector<Call> calls() override;
    std::vector<std::string> stateCodes() override;
    Statistics statistics() override;
    bool isEmpty() override;
    std::int64_t addCustomer(const Customer& customer) override;
    bool modifyCustomer(const Customer& customer) override;
    bool moveToDormant(std::int64_t id) override;
    std::optional<std::int64_t> saveCall(const Call& call) override;
    GuardedWrite addCustomerGuarded(const Customer& customer, const std::optional<RequestKey>& key,
                                    const AnswerFor& answerFor) override;
    GuardedWrite modifyCustomerGuarded(const Customer& customer,
                                       const std::optional<std::string>& expectedDigest,
                                       const DigestOf& digestOf,
                                       const std::optional<RequestKey>& key,
                                       const AnswerFor& answerFor) override;
    GuardedWrite moveToDormantGuarded(std::int64_t id, const std::optional<RequestKey>& key,
                                      const AnswerFor& answerFor) override;
    GuardedWrite saveCallGuarded(const Call& call, const std::optional<RequestKey>& key,
                                 const AnswerFor& answerFor) override;
    void bulkInsert(const std::vector<Customer>& customers, const std::vector<Call>& calls) override;
    Snapshot snapshot() override;
    void restore(const Snapshot& data) override;

private:
    using Lease = ConnectionPool<PgConnection>::Lease;
    // Runs `work` in a transaction opened with `begin`, again after a
    // serialization failure or deadlock.
    template <typename Work>
    auto transaction(const char* begin, Work work);

    std::string m_uri;
    ConnectionPool<PgConnection> m_pool{[this] { return std::make_unique<PgConnection>(m_uri); },
                                        [](const PgConnection& db) { return !db.broken(); }};
};

} // namespace refserver
