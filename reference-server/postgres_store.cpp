#include "postgres_store.h"

#include "migrations.h"
#include "write_guards.h"

#include <chrono>
#include <random>
#include <string>
#include <thread>

namespace refserver {

namespace {

const char CustomerColumns[] =
    "id, ln, fn, bn, ad, cy, st, zp, p1, p2, em, ho, dv, sn, pk, pm, bd, dd, ani, pd, act";

// SQLite's NOCASE folds A-Z and nothing else, then compares bytes; so does
// this, whatever the database's collation.
#define TILLORA_NOCASE(column)                                                                 \
    "translate(" column ", 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 'abcdefghijklmnopqrstuvwxyz') "     \
    "COLLATE \"C\""
const char NameOrder[] =
    " ORDER BY " TILLORA_NOCASE("ln") ", " TILLORA_NOCASE("fn") ", id";
#undef TILLORA_NOCASE

// Serializes schema changes between processes starting together.
const char MigrationLock[] = "SELECT pg_advisory_xact_lock(7461636873)";

constexpr int Attempts = 10;

// After a failure; the failure is what the caller hears about.
void rollBack(PgConnection& db)
{
    if (db.broken())
        return;
    try {
        db.exec("ROLLBACK");
    } catch (const DatabaseError&) {
    }
}

Customer ReadCustomer(const PgResult& r, int row)
{
    Customer c;
    c.id = r.integer(row, 0);
    std::string* texts[] = {&c.ln, &c.fn, &c.bn, &c.ad, &c.cy, &c.st, &c.zp, &c.p1,
                            &c.p2, &c.em, &c.ho, &c.dv, &c.sn, &c.pk, &c.pm};
    int column = 1;
    for (std::string* t : texts)
        *t = r.text(row, column++);
    for (std::optional<std::string>* d : {&c.bd, &c.dd, &c.ani, &c.pd}) {
        if (!r.isNull(row, column))
            *d = r.text(row, column);
        ++column;
    }
    c.act = int(r.integer(row, column));
    return c;
}

Call ReadCall(const PgResult& r, int row)
{
    return {r.integer(row, 0), r.integer(row, 1), r.text(row, 2), r.text(row, 3),
            r.text(row, 4),    r.text(row, 5),    r.text(row, 6)};
}

// The 20 fields after the identifier.
std::vector<PgParam> CustomerParams(const Customer& c)
{
    std::vector<PgParam> p;
    p.reserve(21);
    for (const std::string* t : {&c.ln, &c.fn, &c.bn, &c.ad, &c.cy, &c.st, &c.zp, &c.p1, &c.p2,
                                 &c.em, &c.ho, &c.dv, &c.sn, &c.pk, &c.pm})
        p.emplace_back(*t);
    for (const std::optional<std::string>* d : {&c.bd, &c.dd, &c.ani, &c.pd})
        p.push_back(*d);
    p.emplace_back(std::to_string(c.act));
    return p;
}

std::vector<PgParam> CallParams(const Call& c)
{
    return {std::to_string(c.customerId), c.direction, c.handler, c.date, c.time, c.text};
}

const char InsertCustomer[] =
    "INSERT INTO customers (ln, fn, bn, ad, cy, st, zp, p1, p2, em, ho, dv, sn, pk, pm, bd, dd, "
    "ani, pd, act, id) VALUES ($1,$2,$3,$4,$5,$6,$7,$8,$9,$10,$11,$12,$13,$14,$15,$16,$17,$18,"
    "$19,$20,$21)";

const char ModifyCustomer[] =
    "UPDATE customers SET ln=$1, fn=$2, bn=$3, ad=$4, cy=$5, st=$6, zp=$7, p1=$8, p2=$9, em=$10, "
    "ho=$11, dv=$12, sn=$13, pk=$14, pm=$15, bd=$16, dd=$17, ani=$18, pd=$19, "
    // An unticked box on a dormant customer keeps it dormant.
    "act = CASE WHEN act = -1 AND $20::integer = 0 THEN -1 ELSE $20::integer END "
    "WHERE id = $21";

const char InsertCall[] = "INSERT INTO calls (customer_id, direction, handler, call_date, "
                          "call_time, text, id) VALUES ($1,$2,$3,$4,$5,$6,$7)";

// Takes `count` numbers from a counter; the last of them. The row stays
// locked until the transaction ends.
std::int64_t TakeIds(PgConnection& db, const char* counter, std::int64_t count)
{
    const PgResult r = db.run("take_ids",
                              "UPDATE id_counters SET last = last + $2 WHERE name = $1 "
                              "RETURNING last",
                              {std::string(counter), std::to_string(count)});
    if (r.rows() != 1)
        throw DatabaseError(std::string("the identifier counter ") + counter + " is missing");
    return r.integer(0, 0);
}

std::int64_t Count(PgConnection& db, const char* name, const char* sql)
{
    return db.run(name, sql).integer(0, 0);
}

} // namespace

template <typename Work>
auto PostgresStore::transaction(const char* begin, Work work)
{
    static thread_local std::minstd_rand jitter(std::random_device{}());
    for (int attempt = 1;; ++attempt) {
        Lease db(m_pool);
        try {
            db->exec(begin);
            auto result = work(*db);
            db->exec("COMMIT");
            return result;
        } catch (const PostgresError& e) {
            rollBack(*db);
            if (!e.retryable() || attempt == Attempts)
                throw;
        } catch (...) {
            rollBack(*db);
            throw;
        }
        // Writers that collided go again at different moments.
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + jitter() % (5 * attempt)));
    }
}

PostgresStore::PostgresStore(std::string uri) : m_uri(std::move(uri))
{
    transaction("BEGIN", [&](PgConnection& db) {
        db.exec(MigrationLock);
        db.exec("CREATE TABLE IF NOT EXISTS schema_version (version integer PRIMARY KEY)");
        const std::int64_t version =
            Count(db, "schema_version", "SELECT coalesce(max(version), 0) FROM schema_version");
        const auto steps = PostgresMigrations();
        if (version > steps.back().version)
            throw DatabaseError("the database at " + m_uri + " has schema version " +
                                std::to_string(version) + ", newer than this server knows (" +
                                std::to_string(steps.back().version) + "): use a newer server");
        for (const Migration& step : steps) {
            if (step.version <= version)
                continue;
            db.exec(step.sql);
            db.run("record_version", "INSERT INTO schema_version (version) VALUES ($1)",
                   {std::to_string(step.version)});
        }
        return 0;
    });
}

PostgresStore::~PostgresStore() = default;

std::vector<Customer> PostgresStore::activeCustomers()
{
    static const std::string sql = std::string("SELECT ") + CustomerColumns +
                                   " FROM customers WHERE act IN (0, 1)" + NameOrder;
    Lease db(m_pool);
    const PgResult r = db->run("active_customers", sql.c_str());
    std::vector<Customer> out;
    out.reserve(std::size_t(r.rows()));
    for (int row = 0; row < r.rows(); ++row)
        out.push_back(ReadCustomer(r, row));
    return out;
}

std::vector<Customer> PostgresStore::dormantCustomers()
{
    static const std::string sql =
        std::string("SELECT ") + CustomerColumns + " FROM customers WHERE act = -1" + NameOrder;
    Lease db(m_pool);
    const PgResult r = db->run("dormant_customers", sql.c_str());
    std::vector<Customer> out;
    out.reserve(std::size_t(r.rows()));
    for (int row = 0; row < r.rows(); ++row)
        out.push_back(ReadCustomer(r, row));
    return out;
}

std::vector<Call> PostgresStore::calls()
{
    Lease db(m_pool);
    const PgResult r = db->run("calls",
                               "SELECT id, customer_id, direction, handler, call_date, call_time, "
                               "text FROM calls ORDER BY id");
    std::vector<Call> out;
    out.reserve(std::size_t(r.rows()));
    for (int row = 0; row < r.rows(); ++row)
        out.push_back(ReadCall(r, row));
    return out;
}

std::vector<std::string> PostgresStore::stateCodes()
{
    Lease db(m_pool);
    // SQLite's trim() takes off blanks only, and its length() counts
    // characters; the codes sort byte for byte.
    const PgResult r = db->run("state_codes",
                               "SELECT DISTINCT btrim(st, ' ') COLLATE \"C\" AS code FROM "
                               "customers WHERE length(btrim(st, ' ')) = 2 ORDER BY code");
    std::vector<std::string> out;
    for (int row = 0; row < r.rows(); ++row)
        out.push_back(r.text(row, 0));
    return out;
}

Statistics PostgresStore::statistics()
{
    Lease db(m_pool);
    const PgResult r = db->run("statistics",
                               "SELECT (SELECT count(*) FROM customers WHERE act = 1), "
                               "(SELECT count(*) FROM customers WHERE act = 0), "
                               "(SELECT count(*) FROM customers WHERE act = -1), "
                               "(SELECT count(*) FROM calls)");
    return {r.integer(0, 0), r.integer(0, 1), r.integer(0, 2), r.integer(0, 3)};
}

bool PostgresStore::isEmpty()
{
    Lease db(m_pool);
    return Count(*db, "is_empty",
                 "SELECT CASE WHEN EXISTS (SELECT 1 FROM customers) OR "
                 "EXISTS (SELECT 1 FROM calls) THEN 0 ELSE 1 END") != 0;
}

std::int64_t PostgresStore::addCustomer(const Customer& customer)
{
    return transaction("BEGIN", [&](PgConnection& db) {
        const std::int64_t id = TakeIds(db, "customers", 1);
        std::vector<PgParam> params = CustomerParams(customer);
        params.emplace_back(std::to_string(id));
        db.run("insert_customer", InsertCustomer, params);
        return id;
    });
}

bool PostgresStore::modifyCustomer(const Customer& customer)
{
    return transaction("BEGIN", [&](PgConnection& db) {
        std::vector<PgParam> params = CustomerParams(customer);
        params.emplace_back(std::to_string(customer.id));
        const PgResult r = db.run("modify_customer", ModifyCustomer, params);
        return r.affected() > 0;
    });
}

bool PostgresStore::moveToDormant(std::int64_t id)
{
    return transaction("BEGIN", [&](PgConnection& db) {
        const std::string number = std::to_string(id);
        if (db.run("make_dormant", "UPDATE customers SET act = -1 WHERE id = $1", {number})
                .affected() == 0)
            return false;
        db.run("purge_calls", "DELETE FROM calls WHERE customer_id = $1", {number});
        return true;
    });
}

std::optional<std::int64_t> PostgresStore::saveCall(const Call& call)
{
    return transaction("BEGIN", [&](PgConnection& db) -> std::optional<std::int64_t> {
        if (db.run("customer_exists", "SELECT 1 FROM customers WHERE id = $1",
                   {std::to_string(call.customerId)})
                .rows() == 0)
            return std::nullopt;
        const std::int64_t id = TakeIds(db, "calls", 1);
        std::vector<PgParam> params = CallParams(call);
        params.emplace_back(std::to_string(id));
        db.run("insert_call", InsertCall, params);
        return id;
    });
}

void PostgresStore::bulkInsert(const std::vector<Customer>& customers,
                               const std::vector<Call>& calls)
{
    for (const Call& call : calls)
        if (call.customerId < 1 || std::size_t(call.customerId) > customers.size())
            throw DatabaseError("bulk call refers to no customer of the batch");
    transaction("BEGIN", [&](PgConnection& db) {
        const std::int64_t n = std::int64_t(customers.size());
        const std::int64_t firstCustomer = TakeIds(db, "customers", n) - n + 1;
        for (std::size_t i = 0; i < customers.size(); ++i) {
            std::vector<PgParam> params = CustomerParams(customers[i]);
            params.emplace_back(std::to_string(firstCustomer + std::int64_t(i)));
            db.run("insert_customer", InsertCustomer, params);
        }
        const std::int64_t m = std::int64_t(calls.size());
        const std::int64_t firstCall = TakeIds(db, "calls", m) - m + 1;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            Call call = calls[i];
            call.customerId = firstCustomer + call.customerId - 1;
            std::vector<PgParam> params = CallParams(call);
            params.emplace_back(std::to_string(firstCall + std::int64_t(i)));
            db.run("insert_call", InsertCall, params);
        }
        return 0;
    });
}

Snapshot PostgresStore::snapshot()
{
    return transaction("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", [&](PgConnection& db) {
        Snapshot out;
        static const std::string customers =
            std::string("SELECT ") + CustomerColumns + " FROM customers ORDER BY id";
        const PgResult c = db.run("all_customers", customers.c_str());
        for (int row = 0; row < c.rows(); ++row)
            out.customers.push_back(ReadCustomer(c, row));
        const PgResult k = db.run("all_calls",
                                  "SELECT id, customer_id, direction, handler, call_date, "
                                  "call_time, text FROM calls ORDER BY id");
        for (int row = 0; row < k.rows(); ++row)
            out.calls.push_back(ReadCall(k, row));
        out.lastCustomerId = Count(db, "last_customer_id",
                                   "SELECT last FROM id_counters WHERE name = 'customers'");
        out.lastCallId =
            Count(db, "last_call_id", "SELECT last FROM id_counters WHERE name = 'calls'");
        return out;
    });
}

void PostgresStore::restore(const Snapshot& data)
{
    transaction("BEGIN", [&](PgConnection& db) {
        db.exec("LOCK TABLE customers, calls, id_counters IN EXCLUSIVE MODE");
        const char* countCustomers = "SELECT count(*) FROM customers";
        const char* countCalls = "SELECT count(*) FROM calls";
        if (Count(db, "count_customers", countCustomers) != 0 ||
            Count(db, "count_calls", countCalls) != 0)
            throw DatabaseError("the database at " + m_uri +
                                " already holds data; a copy goes into an empty database only");
        for (const Customer& customer : data.customers) {
            std::vector<PgParam> params = CustomerParams(customer);
            params.emplace_back(std::to_string(customer.id));
            db.run("insert_customer", InsertCustomer, params);
        }
        for (const Call& call : data.calls) {
            std::vector<PgParam> params = CallParams(call);
            params.emplace_back(std::to_string(call.id));
            db.run("insert_call", InsertCall, params);
        }
        db.run("set_counters",
               "UPDATE id_counters SET last = CASE name WHEN 'customers' THEN $1::bigint "
               "ELSE $2::bigint END",
               {std::to_string(data.lastCustomerId), std::to_string(data.lastCallId)});
        const bool counted =
            Count(db, "count_customers", countCustomers) ==
                std::int64_t(data.customers.size()) &&
            Count(db, "count_calls", countCalls) == std::int64_t(data.calls.size()) &&
            Count(db, "ids_in_range",
                  "SELECT CASE WHEN (SELECT coalesce(max(id), 0) FROM customers) <= "
                  "(SELECT last FROM id_counters WHERE name = 'customers') AND "
                  "(SELECT coalesce(max(id), 0) FROM calls) <= "
                  "(SELECT last FROM id_counters WHERE name = 'calls') THEN 1 ELSE 0 END") == 1;
        if (!counted)
            throw DatabaseError("the copy in " + m_uri +
                                " does not hold what was read; nothing was stored");
        return 0;
    });
}

// Writes guarded by a RequestId and a row digest (write_guards.h).

namespace {

// The first answer of a RequestId stored before. Writes with the same
// RequestId queue on a lock of their own until the first one's transaction
// has ended, so the second sees what the first stored.
std::optional<GuardedWrite> EarlierAnswer(PgConnection& db, const std::optional<RequestKey>& key)
{
    if (!key)
        return std::nullopt;
    db.run("lock_request_id", "SELECT pg_advisory_xact_lock(hashtextextended($1, 0))", {key->id});
    const PgResult r =
        db.run("earlier_answer",
               "SELECT fingerprint, answer FROM request_answers WHERE request_id = $1", {key->id});
    if (r.rows() == 0)
        return std::nullopt;
    GuardedWrite earlier;
    earlier.outcome = GuardedWrite::Outcome::Repeated;
    earlier.fingerprint = r.text(0, 0);
    earlier.answer = r.text(0, 1);
    return earlier;
}

// Keeps the answer of a stored write, and forgets those older than the time
// they are kept for.
GuardedWrite Stored(PgConnection& db, const std::optional<RequestKey>& key, std::int64_t id,
                    const Store::AnswerFor& answerFor)
{
    GuardedWrite stored;
    stored.answer = answerFor(id);
    if (key) {
        const std::int64_t now = SecondsNow();
        db.run("forget_answers", "DELETE FROM request_answers WHERE stored_at < $1::bigint",
               {std::to_string(now - KeptAnswerSeconds)});
        db.run("keep_answer",
               "INSERT INTO request_answers (request_id, fingerprint, answer, stored_at) "
               "VALUES ($1, $2, $3, $4::bigint)",
               {key->id, key->fingerprint, stored.answer, std::to_string(now)});
    }
    return stored;
}

} // namespace

GuardedWrite PostgresStore::addCustomerGuarded(const Customer& customer,
                                               const std::optional<RequestKey>& key,
                                               const AnswerFor& answerFor)
{
    return transaction("BEGIN", [&](PgConnection& db) {
        if (auto earlier = EarlierAnswer(db, key))
            return *earlier;
        const std::int64_t id = TakeIds(db, "customers", 1);
        std::vector<PgParam> params = CustomerParams(customer);
        params.emplace_back(std::to_string(id));
        db.run("insert_customer", InsertCustomer, params);
        return Stored(db, key, id, answerFor);
    });
}

GuardedWrite PostgresStore::modifyCustomerGuarded(const Customer& customer,
                                                  const std::optional<std::string>& expectedDigest,
                                                  const DigestOf& digestOf,
                                                  const std::optional<RequestKey>& key,
                                                  const AnswerFor& answerFor)
{
    static const std::string locked =
        std::string("SELECT ") + CustomerColumns + " FROM customers WHERE id = $1 FOR UPDATE";
    return transaction("BEGIN", [&](PgConnection& db) {
        if (auto earlier = EarlierAnswer(db, key))
            return *earlier;
        // The row stays locked until the write is committed: a save with
        // the same digest waits here and then reads the row as written.
        const PgResult current =
            db.run("customer_for_update", locked.c_str(), {std::to_string(customer.id)});
        if (current.rows() == 0)
            return GuardedWrite::missing();
        if (expectedDigest) {
            GuardedWrite changed;
            changed.current = ReadCustomer(current, 0);
            if (digestOf(changed.current) != *expectedDigest) {
                changed.outcome = GuardedWrite::Outcome::Changed;
                return changed;
            }
        }
        std::vector<PgParam> params = CustomerParams(customer);
        params.emplace_back(std::to_string(customer.id));
        db.run("modify_customer", ModifyCustomer, params);
        return Stored(db, key, customer.id, answerFor);
    });
}

GuardedWrite PostgresStore::moveToDormantGuarded(std::int64_t id,
                                                 const std::optional<RequestKey>& key,
                                                 const AnswerFor& answerFor)
{
    return transaction("BEGIN", [&](PgConnection& db) {
        if (auto earlier = EarlierAnswer(db, key))
            return *earlier;
        const std::string number = std::to_string(id);
        if (db.run("make_dormant", "UPDATE customers SET act = -1 WHERE id = $1", {number})
                .affected() == 0)
            return GuardedWrite::missing();
        db.run("purge_calls", "DELETE FROM calls WHERE customer_id = $1", {number});
        return Stored(db, key, id, answerFor);
    });
}

GuardedWrite PostgresStore::saveCallGuarded(const Call& call, const std::optional<RequestKey>& key,
                                            const AnswerFor& answerFor)
{
    return transaction("BEGIN", [&](PgConnection& db) {
        if (auto earlier = EarlierAnswer(db, key))
            return *earlier;
        if (db.run("customer_exists", "SELECT 1 FROM customers WHERE id = $1",
                   {std::to_string(call.customerId)})
                .rows() == 0)
            return GuardedWrite::missing();
        const std::int64_t id = TakeIds(db, "calls", 1);
        std::vector<PgParam> params = CallParams(call);
        params.emplace_back(std::to_string(id));
        db.run("insert_call", InsertCall, params);
        return Stored(db, key, id, answerFor);
    });
}

} // namespace refserver
