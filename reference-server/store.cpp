#include "store.h"

namespace refserver {

namespace {

const char Schema[] = R"sql(
CREATE TABLE IF NOT EXISTS customers (
    id  INTEGER PRIMARY KEY AUTOINCREMENT,
    ln  TEXT NOT NULL, fn TEXT NOT NULL, bn TEXT NOT NULL, ad TEXT NOT NULL,
    cy  TEXT NOT NULL, st TEXT NOT NULL, zp TEXT NOT NULL, p1 TEXT NOT NULL,
    p2  TEXT NOT NULL, em TEXT NOT NULL, ho TEXT NOT NULL, dv TEXT NOT NULL,
    sn  TEXT NOT NULL, pk TEXT NOT NULL, pm TEXT NOT NULL,
    bd  TEXT, dd TEXT, ani TEXT, pd TEXT,
    act INTEGER NOT NULL CHECK (act IN (-1, 0, 1))
);
CREATE TABLE IF NOT EXISTS calls (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    customer_id INTEGER NOT NULL REFERENCES customers(id),
    direction   TEXT NOT NULL,
    handler     TEXT NOT NULL,
    call_date   TEXT NOT NULL,
    call_time   TEXT NOT NULL,
    text        TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS calls_by_customer ON calls(customer_id);
)sql";

// The answers of the writes that carried a RequestId, kept at least a week.
const char RequestAnswersSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS request_answers (
    request_id  TEXT PRIMARY KEY,
    fingerprint TEXT NOT NULL,
    answer      TEXT NOT NULL,
    stored_at   INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS request_answers_by_age ON request_answers(stored_at);
)sql";

constexpr std::int64_t KeptAnswerSeconds = 8 * 24 * 60 * 60;

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

// A pooled connection, handed back when the lease ends.
class Store::Lease
{
public:
    explicit Lease(Store& store) : m_store(store), m_db(store.acquire()) {}
    ~Lease() { m_store.release(std::move(m_db)); }
    Database* operator->() { return m_db.get(); }
    Database& operator*() { return *m_db; }

private:
    Store& m_store;
    std::unique_ptr<Database> m_db;
};

Store::Store(std::string path) : m_path(std::move(path))
{
    Lease db(*this);
    db->exec(Schema);
    db->exec(RequestAnswersSchema);
}

Store::~Store() = default;

std::unique_ptr<Database> Store::acquire()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            std::unique_ptr<Database> db = std::move(m_idle.back());
            m_idle.pop_back();
            return db;
        }
    }
    return std::make_unique<Database>(m_path);
}

void Store::release(std::unique_ptr<Database> db)
{
    std::lock_guard lock(m_mutex);
    m_idle.push_back(std::move(db));
}

std::vector<Customer> Store::customersWhere(const char* condition)
{
    Lease db(*this);
    const std::string sql = std::string("SELECT ") + CustomerColumns + " FROM customers WHERE " +
                            condition + " ORDER BY ln COLLATE NOCASE, fn COLLATE NOCASE, id";
    Statement s = db->prepare(sql.c_str());
    std::vector<Customer> out;
    while (s.step())
        out.push_back(ReadCustomer(s));
    return out;
}

std::vector<Customer> Store::activeCustomers()
{
    return customersWhere("act IN (0, 1)");
}

std::vector<Customer> Store::dormantCustomers()
{
    return customersWhere("act = -1");
}

std::vector<Call> Store::calls()
{
    Lease db(*this);
    Statement s = db->prepare("SELECT id, customer_id, direction, handler, call_date, call_time, "
                              "text FROM calls ORDER BY id");
    std::vector<Call> out;
    while (s.step())
        out.push_back(
            {s.integer(0), s.integer(1), s.text(2), s.text(3), s.text(4), s.text(5), s.text(6)});
    return out;
}

std::vector<std::string> Store::stateCodes()
{
    Lease db(*this);
    Statement s = db->prepare("SELECT DISTINCT trim(st) AS code FROM customers "
                              "WHERE length(trim(st)) = 2 ORDER BY code");
    std::vector<std::string> out;
    while (s.step())
        out.push_back(s.text(0));
    return out;
}

Statistics Store::statistics()
{
    Lease db(*this);
    Statement s = db->prepare("SELECT (SELECT count(*) FROM customers WHERE act = 1), "
                              "(SELECT count(*) FROM customers WHERE act = 0), "
                              "(SELECT count(*) FROM customers WHERE act = -1), "
                              "(SELECT count(*) FROM calls)");
    s.step();
    return {s.integer(0), s.integer(1), s.integer(2), s.integer(3)};
}

bool Store::isEmpty()
{
    Lease db(*this);
    Statement s = db->prepare("SELECT NOT EXISTS (SELECT 1 FROM customers) AND "
                              "NOT EXISTS (SELECT 1 FROM calls)");
    s.step();
    return s.integer(0) != 0;
}

std::int64_t Store::addCustomer(const Customer& customer)
{
    Lease db(*this);
    WriteTransaction tx(*db);
    Statement s = db->prepare(InsertCustomer);
    BindCustomerFields(s, customer, 1);
    s.step();
    const std::int64_t id = db->lastInsertId();
    tx.commit();
    return id;
}

bool Store::modifyCustomer(const Customer& customer)
{
    Lease db(*this);
    WriteTransaction tx(*db);
    Statement s = db->prepare(UpdateCustomer);
    BindCustomerFields(s, customer, 1);
    s.bind(21, customer.id);
    s.step();
    const bool found = db->changes() > 0;
    tx.commit();
    return found;
}

bool Store::moveToDormant(std::int64_t id)
{
    Lease db(*this);
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

std::optional<std::int64_t> Store::saveCall(const Call& call)
{
    Lease db(*this);
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

void Store::bulkInsert(const std::vector<Customer>& customers, const std::vector<Call>& calls)
{
    Lease db(*this);
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
        Statement purge = db.prepare("DELETE FROM request_answers WHERE stored_at < "
                                     "CAST(strftime('%s', 'now') AS INTEGER) - ?");
        purge.bind(1, KeptAnswerSeconds).step();
        Statement keep =
            db.prepare("INSERT INTO request_answers (request_id, fingerprint, answer, "
                       "stored_at) VALUES (?, ?, ?, CAST(strftime('%s', 'now') AS INTEGER))");
        keep.bind(1, std::string_view(key->id))
            .bind(2, std::string_view(key->fingerprint))
            .bind(3, std::string_view(stored.answer))
            .step();
    }
    return stored;
}

GuardedWrite Missing()
{
    GuardedWrite missing;
    missing.outcome = GuardedWrite::Outcome::Missing;
    return missing;
}

} // namespace

GuardedWrite Store::addCustomerGuarded(const Customer& customer,
                                       const std::optional<RequestKey>& key,
                                       const AnswerFor& answerFor)
{
    Lease db(*this);
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

GuardedWrite
Store::modifyCustomerGuarded(const Customer& customer,
                             const std::optional<std::string>& expectedDigest,
                             const std::function<std::string(const Customer&)>& digestOf,
                             const std::optional<RequestKey>& key, const AnswerFor& answerFor)
{
    Lease db(*this);
    WriteTransaction tx(*db);
    if (auto earlier = EarlierAnswer(*db, key))
        return *earlier;
    const std::string sql =
        std::string("SELECT ") + CustomerColumns + " FROM customers WHERE id = ?";
    Statement current = db->prepare(sql.c_str());
    if (!current.bind(1, customer.id).step())
        return Missing();
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

GuardedWrite Store::moveToDormantGuarded(std::int64_t id, const std::optional<RequestKey>& key,
                                         const AnswerFor& answerFor)
{
    Lease db(*this);
    WriteTransaction tx(*db);
    if (auto earlier = EarlierAnswer(*db, key))
        return *earlier;
    Statement update = db->prepare("UPDATE customers SET act = -1 WHERE id = ?");
    update.bind(1, id).step();
    if (db->changes() == 0)
        return Missing();
    Statement purge = db->prepare("DELETE FROM calls WHERE customer_id = ?");
    purge.bind(1, id).step();
    GuardedWrite done = Stored(*db, key, id, answerFor);
    tx.commit();
    return done;
}

GuardedWrite Store::saveCallGuarded(const Call& call, const std::optional<RequestKey>& key,
                                    const AnswerFor& answerFor)
{
    Lease db(*this);
    WriteTransaction tx(*db);
    if (auto earlier = EarlierAnswer(*db, key))
        return *earlier;
    Statement exists = db->prepare("SELECT 1 FROM customers WHERE id = ?");
    if (!exists.bind(1, call.customerId).step())
        return Missing();
    Statement s = db->prepare(InsertCall);
    BindCall(s, call);
    s.step();
    GuardedWrite done = Stored(*db, key, db->lastInsertId(), answerFor);
    tx.commit();
    return done;
}

} // namespace refserver
