#pragma once

#include "connection_pool.h"
#include "database.h"
#include "store.h"

namespace refserver {

// The store in an SQLite file. Each call borrows a connection of its own
// from a small pool; writers queue on SQLite's write lock.
class SqliteStore final : public Store
{
public:
    explicit SqliteStore(std::string path);
    ~SqliteStore() override;

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
    using Lease = ConnectionPool<Database>::Lease;
    std::vector<Customer> customersWhere(const char* condition);

    std::string m_path;
    ConnectionPool<Database> m_pool{[this] { return std::make_unique<Database>(m_path); }};
};

} // namespace refserver
