#include "postgres.h"

#include <charconv>
#include <cstring>

namespace refserver {

namespace {

std::string Trimmed(const char* message)
{
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// Throws unless `result` holds the end of a statement.
PgResult Checked(PGconn* conn, PGresult* result, const std::string& what)
{
    PgResult out(result);
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY)
        return out;
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    throw PostgresError(what + ": " +
                            Trimmed(result ? PQresultErrorMessage(result) : PQerrorMessage(conn)),
                        state ? state : "");
}

void IgnoreNotice(void*, const char*) {}

} // namespace

std::string PgResult::text(int row, int column) const
{
    return std::string(PQgetvalue(m_result.get(), row, column),
                       std::size_t(PQgetlength(m_result.get(), row, column)));
}

std::int64_t PgResult::integer(int row, int column) const
{
    const char* p = PQgetvalue(m_result.get(), row, column);
    const char* end = p + PQgetlength(m_result.get(), row, column);
    std::int64_t value = 0;
    const auto [stop, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || stop != end)
        throw DatabaseError("PostgreSQL answered \"" + std::string(p, end) +
                            "\" where a number belongs");
    return value;
}

std::int64_t PgResult::affected() const
{
    const char* n = PQcmdTuples(m_result.get());
    std::int64_t value = 0;
    std::from_chars(n, n + std::strlen(n), value);
    return value;
}

PgConnection::PgConnection(const std::string& uri) : m_conn(PQconnectdb(uri.c_str()), &PQfinish)
{
    if (!m_conn)
        throw DatabaseError("cannot connect to PostgreSQL: out of memory");
    if (PQstatus(m_conn.get()) != CONNECTION_OK)
        throw DatabaseError("cannot connect to PostgreSQL at " + uri + ": " +
                            Trimmed(PQerrorMessage(m_conn.get())));
    PQsetNoticeProcessor(m_conn.get(), IgnoreNotice, nullptr);
    // Texts are stored as the UTF-8 the scripts take in; another encoding
    // would change them or refuse some.
    const char* encoding = PQparameterStatus(m_conn.get(), "server_encoding");
    if (!encoding || std::strcmp(encoding, "UTF8") != 0)
        throw DatabaseError("the PostgreSQL database at " + uri + " has the encoding " +
                            (encoding ? encoding : "(unknown)") +
                            "; create it with ENCODING 'UTF8'");
    if (PQsetClientEncoding(m_conn.get(), "UTF8") != 0)
        throw DatabaseError("cannot set the client encoding UTF8: " +
                            Trimmed(PQerrorMessage(m_conn.get())));
}

void PgConnection::exec(const char* sql)
{
    Checked(m_conn.get(), PQexec(m_conn.get(), sql), sql);
}

PgResult PgConnection::run(const char* name, const char* sql, const std::vector<PgParam>& params)
{
    if (!m_prepared.contains(std::string_view(name))) {
        Checked(m_conn.get(), PQprepare(m_conn.get(), name, sql, 0, nullptr),
                std::string("prepare ") + sql);
        m_prepared.emplace(name);
    }
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const PgParam& p : params)
        values.push_back(p ? p->c_str() : nullptr);
    return Checked(m_conn.get(),
                   PQexecPrepared(m_conn.get(), name, int(values.size()), values.data(), nullptr,
                                  nullptr, 0),
                   sql);
}

std::string PostgresAddressProblem(const std::string& uri)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
    if (!options) {
        std::string text = error ? Trimmed(error) : "out of memory";
        PQfreemem(error);
        // libpq quotes the address, which may hold a password.
        for (std::size_t at; (at = text.find(uri)) != std::string::npos;)
            text.replace(at, uri.size(), "(the address)");
        // Not repeated: a malformed address may still hold a password.
        return "the database address is not a PostgreSQL connection URI: " + text;
    }
    std::string problem;
    for (PQconninfoOption* o = options; o->keyword; ++o)
        if (std::strcmp(o->keyword, "password") == 0 && o->val && *o->val)
            problem = "--db must not carry the password, which anyone on this machine could "
                      "read from the command line: put it in a password file (PGPASSFILE, "
                      "default ~/.pgpass) or in PGPASSWORD";
    PQconninfoFree(options);
    return problem;
}

} // namespace refserver
