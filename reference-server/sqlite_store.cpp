#include "sqlite_store.h"

#include "migrations.h"
#include "write_guards.h"

#include <string>

namespace refserver {

namespace {

const char CustomerColumns[] =
    "id, ln, fn, bn, ad, cy, st, zp, p1, p2, em, ho, dv, sn, pk, pm, bd, dd, ani, pd, act";

Customer ReadCustomer(const Statement& s)
{
    Customer c;
    c.id = s.integer(0);
    std::string* texts[] = {&c.ln, &c.fn, &c.bn, &c.ad, &c.cy, &c.st, &c.zp, &c.p1,
                            &c.p2, &c.em, &c.ho, &c.dv, &c.sn, &c.pk, &c.pm};
    int column = 1;
    for (std::string* t : texts)
        *t = s.text(column++);
    for (std::optional<std::string>* d : {&c.bd, &c.dd, &c.ani, &c.pd}) {
        if (!s.isNull(column))
            *d = s.text(column);
        ++column;
    }
    c.act = int(s.integer(column));
    return c;
}

// Binds the 19 fields after the identifier, starting at `first`.
void BindCustomerFields(Statement& s, const Customer& c, int first)
{
    int i = first;
    for (const std::string* t : {&c.ln, &c.fn, &c.bn, &c.ad, &c.cy, &c.st, &c.zp, &c.p1, &c.p2,
                                 &c.em, &c.ho, &c.dv, &c.sn, &c.pk, &c.pm})
        s.bind(i++, std::string_view(*t));
    for (const std::optional<std::string>* d : {&c.bd, &c.dd, &c.ani, &c.pd})
        s.bind(i++, *d);
    s.bind(i, std::int64_t(c.act));
}

const char InsertCustomer[] =
    "INSERT INTO customers (ln, fn, bn, ad, cy, st, zp, p1, p2, em, ho, dv, sn, pk, pm, "
    "bd, dd, ani, pd, act) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

const char UpdateCustomer[] = "UPDATE customers SET ln=?, fn=?, bn=?, ad=?, cy=?, st=?, zp=?, "
                              "p1=?, p2=?, em=?, ho=?, dv=?, sn=?, pk=?, pm=?, bd=?, dd=?, "
                              "ani=?, pd=?, "
                              // An unticked box on a dormant customer keeps it dormant.
                              "act = CASE WHEN act = -1 AND ?20 = 0 THEN -1 ELSE ?20 END "
                              "WHERE id = ?21";

const char InsertCall[] = "INSERT INTO calls (customer_id, direction, handler, call_date, "
                          "call_time, text) VALUES (?,?,?,?,?,?)";

void BindCall(Statement& s, const Call& c)
{
    s.bind(1, c.customerId)
        .bind(2, std::string_view(c.direction))
        .bind(3, std::string_view(c.handler))
        .bind(4, std::string_view(c.date))
        .bind(5, std::string_view(c.time))
        .bind(6, std::string_view(c.text));
}

} // namespace

SqliteStore::SqliteStore(std::string path) : m_path(std::move(path))
{
    Lease db(m_pool);
    WriteTransaction tx(*db);
    db->exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY)");
    Statement current = db->prepare("SELECT coalesce(max(version), 0) FROM schema_version");
    current.step();
    const std::int64_t version = current.integer(0);
    const auto steps = SqliteMigrations();
    if (version > steps.back().version)
        throw DatabaseError(m_path + " has schema version " + std::to_string(version) +
                            ", newer than this server knows (" +
                            std::to_string(steps.back().version) + "): use a newer server");
    Statement record = db->prepare("INSERT INTO schema_version (version) VALUES (?)");
    for (const Migration& step : steps) {
        if (step.version <= version)
            continue;
        db->exec(step.sql);
        record.bind(1, std::int64_t(step.version)).step();
        record.reset();
    }
    tx.commit();
}

SqliteStore::~SqliteStore() = default;

std::vector<Customer> SqliteStore::customersWhere(const char* condition)
{
    Lease db(m_pool);
    const std::string sql = std::string("SELECT ") + CustomerColumns + " FROM customers WHERE " +
                            condition + " ORDER BY ln COLLATE NOCASE, fn COLLATE NOCASE, id";
    Statement s = db->prepare(sql.c_str());
    std::vector<Customer> out;
    while (s.step())
        out.push_back(ReadCustomer(s));
    return out;
}

std::vector<Customer> SqliteStore::activeCustomers()
{
    return customersWhere("act IN (0, 1)");
}

std::vector<Customer> SqliteStore::dormantCustomers()
{
    return customersWhere("act = -1");
}

std::vector<Call> SqliteStore::calls()
{
    Lease db(m_pool);
    Statement s = db->prepare("SELECT id, customer_id, direction, handler, call_date, call_time, "
                              "text FROM calls ORDER BY id");
    std::vector<Call> out;
    while (s.step())
        out.push_back(
            {s.integer(0), s.integer(1), s.text(2), s.text(3), s.text(4), s.text(5), s.text(6)});
    return out;
}

std::vector<std::string> SqliteStore::stateCodes()
{
    Lease db(m_pool);
    Statement s = db->prepare("SELECT DISTINCT trim(st) AS code FROM customers "
                              "WHERE length(trim(st)) = 2 ORDER BY code");
    std::vector<std::string> out;
    while (s.step())
        out.push_back(s.text(0));
    return out;
}

Statistics SqliteStore::statistics()
{
    Lease db(m_pool);
    Statement s = db->prepare("SELECT (SELECT count(*) FROM customers WHERE act = 1), "
                              "(SELECT count(*) FROM customers WHERE act = 0), "
                              "(SELECT count(*) FROM customers WHERE act = -1), "
                              "(SELECT count(*) FROM calls)");
    s.step();
    return {s.integer(0), s.integer(1), s.integer(2), s.integer(3)};
}

bool SqliteStore::isEmpty()
{
    Lease db(m_pool);
    Statement s = db->prepare("SELECT NOT EXISTS (SELECT 1 FROM customers) AND "
                              "NOT EXISTS (SELECT 1 FROM calls)");
    s.step();
    return s.integer(0) != 0;
}

std::int64_t SqliteStore::addCustomer(const Customer& customer)
{
    Lease db(m_pool);
    WriteTransaction tx(*db);
    Statement s = db->prepare(InsertCustomer);
    BindCustomerFields(s, customer, 1);
    s.step();
    const std::int64_t id = db->lastInsertId();
    tx.commit();
    return id;
}

bool SqliteStore::modifyCustomer(const Customer& customer)
{
    Lease db(m_pool);
    WriteTransaction tx(*db);
    Statement s = db->prepare(UpdateCustomer);
    BindCustomerFields(s, customer, 1);
    s.bind(21, customer.id);
    s.step();
    const bool found = db->changes() > 0;
    tx.commit();
    return found;
}

bool SqliteStore::moveToDormant(std::int64_t id)
{
    Lease db(m_pool);
    WriteTransaction tx(*db);
    Statement update = db->prepare("UPDATE customers SET act = -1 WHERE id = ?");
    update.bind(1, id).step();
    if (db->changes() == 0)
        return false;
    Statement purge = db->prepare("DELETE FROM calls WHERE customer_id = ?");
    purge.bind(1, id).step();
    tx.commit();
    return true;
}

std::optional<std::int64_t> SqliteStore::saveCall(const Call& call)
{
    Lease db(m_pool);
    WriteTransaction tx(*db);
    Statement exists = db->prepare("SELECT 1 FROM customers WHERE id = ?");
    if (!exists.bind(1, call.customerId).step())
        return std::nullopt;
    Statement s = db->prepare(InsertCall);
    BindCall(s, call);
    s.step();
    const std::int64_t id = db->lastInsertId();
    tx.commit();
    return id;
}

void SqliteStore::bulkInsert(const std::vector<Customer>& customers, const std::vector<Call>& calls)
{
    Lease db(m_pool);
    WriteTransaction tx(*db);
    Statement c = db->prepare(InsertCustomer);
    std::vector<std::int64_t> ids;
    ids.reserve(customers.size());
    for (const Customer& customer : customers) {
        BindCustomerFields(c, customer, 1);
        c.step();
        c.reset();
        ids.push_back(db->lastInsertId());
    }
    Statement k = db->prepare(InsertCall);
    for (Call call : calls) {
        if (call.customerId < 1 || std::size_t(call.customerId) > ids.size())
            throw DatabaseError("bulk call refers to no customer of the batch");
        call.customerId = ids[std::size_t(call.customerId - 1)];
        BindCall(k, call);
        k.step();
        k.reset();
    }
    tx.commit();
}

namespace {

std::int64_t LastId(Database& db, const char* table)
{
    // AUTOINCREMENT hands out one more than the larger of these.
    Statement s = db.prepare((std::string("SELECT max(coalesce((SELECT seq FROM sqlite_sequence "
                                          "WHERE name = '") +
                              table + "'), 0), coalesce((SELECT max(id) FROM " + table + "), 0))")
                                 .c_str());
    s.step();
    return s.integer(0);
}

std::int64_t Count(Database& db, const char* table)
{
    Statement s = db.prepare((std::string("SELECT count(*) FROM ") + table).c_str());
    s.step();
    return s.integer(0);
}

} // namespace

Snapshot SqliteStore::snapshot()
{
    Lease db(m_pool);
    // One read transaction: a consistent picture while writers go on.
    db->exec("BEGIN");
    Snapshot out;
    try {
        Statement c = db->prepare((std::string("SELECT ") + CustomerColumns +
                                   " FROM customers ORDER BY id").c_str());
        while (c.step())
            out.customers.push_back(ReadCustomer(c));
        Statement k = db->prepare("SELECT id, customer_id, direction, handler, call_date, "
                                  "call_time, text FROM calls ORDER BY id");
        while (k.step())
            out.calls.push_back({k.integer(0), k.integer(1), k.text(2), k.text(3), k.text(4),
                                 k.text(5), k.text(6)});
        out.lastCustomerId = LastId(*db, "customers");
        out.lastCallId = LastId(*db, "calls");
    } catch (...) {
        db->exec("ROLLBACK");
        throw;
    }
    db->exec("COMMIT");
    return out;
}

void SqliteStore::restore(const Snapshot& data)
{
    Lease db(m_pool);
    WriteTransaction tx(*db);
    if (Count(*db, "customers") != 0 || Count(*db, "calls") != 0)
        throw DatabaseError(m_path + " already holds data; a copy goes into an empty database only");
    Statement c = db->prepare((std::string("INSERT INTO customers (") + CustomerColumns +
                               ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)")
                                  .c_str());
    for (const Customer& customer : data.customers) {
        c.bind(1, customer.id);
        BindCustomerFields(c, customer, 2);
        c.step();
        c.reset();
    }
    Statement k = db->prepare("INSERT INTO calls (id, customer_id, direction, handler, call_date, "
                              "call_time, text) VALUES (?,?,?,?,?,?,?)");
    for (const Call& call : data.calls) {
        k.bind(1, call.id);
        k.bind(2, call.customerId)
            .bind(3, std::string_view(call.direction))
            .bind(4, std::string_view(call.handler))
            .bind(5, std::string_view(call.date))
            .bind(6, std::string_view(call.time))
            .bind(7, std::string_view(call.text));
        k.step();
        k.reset();
    }
    for (const auto& [table, last] : {std::pair{"customers", data.lastCustomerId},
                                      std::pair{"calls", data.lastCallId}}) {
        Statement drop = db->prepare("DELETE FROM sqlite_sequence WHERE name = ?");
        drop.bind(1, std::string_view(table)).step();
        if (last > 0) {
            Statement set = db->prepare("INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)");
            set.bind(1, std::string_view(table)).bind(2, last).step();
        }
    }
    if (Count(*db, "customers") != std::int64_t(data.customers.size()) ||
        Count(*db, "calls") != std::int64_t(data.calls.size()) ||
        LastId(*db, "customers") != data.lastCustomerId || LastId(*db, "calls") != data.lastCallId)
        throw DatabaseError("the copy in " + m_path +
                            " does not hold what was read; nothing was stored");
    tx.commit();
}

// Writes guarded by a RequestId and a row digest (write_guards.h).

namespace {

// The first answer of a RequestId stored before, inside the write's transaction.
std::optional<GuardedWrite> EarlierAnswer(Database& db, const std::optional<RequestKey>& key)
{
    if (!key)
        return std::nullopt;
    Statement s =
        db.prepare("SELECT fingerprint, answer FROM request_answers WHERE request_id = ?");
    if (!s.bind(1, std::string_view(key->id)).step())
        return std::nullopt;
    GuardedWrite earlier;
    earlier.outcome = GuardedWrite::Outcome::Repeated;
    earlier.fingerprint = s.text(0);
    earlier.answer = s.text(1);
    return earlier;
}

// Keeps the answer of a stored write, and forgets those older than the time
// they are kept for.
GuardedWrite Stored(Database& db, const std::optional<RequestKey>& key, std::int64_t id,
                    const Store::AnswerFor& answerFor)
{
    GuardedWrite stored;
    stored.answer = answerFor(id);
    if (key) {
        const std::int64_t now = SecondsNow();
        Statement purge = db.prepare("DELETE FROM request_answers WHERE stored_at < ?");
        purge.bind(1, now - KeptAnswerSeconds).step();
        Statement keep = db.prepare("INSERT INTO request_answers (request_id, fingerprint, answer, "
                                    "stored_at) VALUES (?, ?, ?, ?)");
        keep.bind(1, std::string_view(key->id))
            .bind(2, std::string_view(key->fingerprint))
            .bind(3, std::string_view(stored.answer))
            .bind(4, now)
            .step();
    }
    return stored;
}

} // namespace

GuardedWrite SqliteStore::addCustomerGuarded(const Customer& customer,
                                             const std::optional<RequestKey>& key,
                                             const AnswerFor& answerFor)
{
    Lease db(m_pool);
    WriteTransaction tx(*db);
    if (auto earlier = EarlierAnswer(*db, key))
        return *earlier;
    Statement s = db->prepare(InsertCustomer);
    BindCustomerFields(s, customer, 1);
    s.step();
    GuardedWrite done = Stored(*db, key, db->lastInsertId(), answerFor);
    tx.commit();
    return done;
}

GuardedWrite SqliteStore::modifyCustomerGuarded(const Customer& customer,
                                                const std::optional<std::string>& expectedDigest,
                                                const DigestOf& digestOf,
                                                const std::optional<RequestKey>& key,
                                                const AnswerFor& answerFor)
{
    Lease db(m_pool);
    WriteTransaction tx(*db);
    if (auto earlier = EarlierAnswer(*db, key))
        return *earlier;
    const std::string sql =
        std::string("SELECT ") + CustomerColumns + " FROM customers WHERE id = ?";
    Statement current = db->prepare(sql.c_str());
    if (!current.bind(1, customer.id).step())
        return GuardedWrite::missing();
    if (expectedDigest) {
        GuardedWrite changed;
        changed.current = ReadCustomer(current);
        if (digestOf(changed.current) != *expectedDigest) {
            changed.outcome = GuardedWrite::Outcome::Changed;
            return changed;
        }
    }
    Statement s = db->prepare(UpdateCustomer);
    BindCustomerFields(s, customer, 1);
    s.bind(21, customer.id);
    s.step();
    GuardedWrite done = Stored(*db, key, customer.id, answerFor);
    tx.commit();
    return done;
}

GuardedWrite SqliteStore::moveToDormantGuarded(std::int64_t id,
                                               const std::optional<RequestKey>& key,
                                               const AnswerFor& answerFor)
{
    Lease db(m_pool);
    WriteTransaction tx(*db);
    if (auto earlier = EarlierAnswer(*db, key))
        return *earlier;
    Statement update = db->prepare("UPDATE customers SET act = -1 WHERE id = ?");
    update.bind(1, id).step();
    if (db->changes() == 0)
        return GuardedWrite::missing();
    Statement purge = db->prepare("DELETE FROM calls WHERE customer_id = ?");
    purge.bind(1, id).step();
    GuardedWrite done = Stored(*db, key, id, answerFor);
    tx.commit();
    return done;
}

GuardedWrite SqliteStore::saveCallGuarded(const Call& call, const std::optional<RequestKey>& key,
                                          const AnswerFor& answerFor)
{
    Lease db(m_pool);
    WriteTransaction tx(*db);
    if (auto earlier = EarlierAnswer(*db, key))
        return *earlier;
    Statement exists = db->prepare("SELECT 1 FROM customers WHERE id = ?");
    if (!exists.bind(1, call.customerId).step())
        return GuardedWrite::missing();
    Statement s = db->prepare(InsertCall);
    BindCall(s, call);
    s.step();
    GuardedWrite done = Stored(*db, key, db->lastInsertId(), answerFor);
    tx.commit();
    return done;
}

} // namespace refserver
