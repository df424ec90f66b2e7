// The reference server on a free 127.0.0.1 port with a temporary database,
// shared by the reference server tests.
#pragma once

#include "call_table.h"
#include "customer_table.h"
#include "http_client.h"

#include "database.h"
#include "postgres.h"
#include "postgres_cluster.h"
#include "scripts.h"
#include "store.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <ostream>
#include <stdexcept>

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace refserver_test {

using namespace Qt::StringLiterals;
using refserver::ReferenceServer;
using refserver::ServerConfig;
using refserver::Store;

enum class Engine { Sqlite, Postgres };

inline void PrintTo(Engine engine, std::ostream* os)
{
    *os << (engine == Engine::Sqlite ? "SQLite" : "PostgreSQL");
}

// The engine of the running test: EngineTest sets it for each of its runs.
inline Engine& CurrentEngine()
{
    static Engine engine = Engine::Sqlite;
    return engine;
}

// A fixture whose tests run once on each engine (TILLORA_ON_BOTH_ENGINES).
class EngineTest : public ::testing::TestWithParam<Engine>
{
protected:
    void SetUp() override { CurrentEngine() = GetParam(); }
    void TearDown() override { CurrentEngine() = Engine::Sqlite; }
};

inline std::string EngineName(const ::testing::TestParamInfo<Engine>& info)
{
    return info.param == Engine::Sqlite ? "SQLite" : "PostgreSQL";
}

#define TILLORA_ON_BOTH_ENGINES(Suite)                                                         \
    INSTANTIATE_TEST_SUITE_P(Engines, Suite,                                                   \
                             ::testing::Values(refserver_test::Engine::Sqlite,                 \
                                               refserver_test::Engine::Postgres),              \
                             refserver_test::EngineName)

// A new empty database of the current engine: a file in `dir`, or a
// database of the test's PostgreSQL server.
inline QString FreshDatabase(const QTemporaryDir& dir)
{
    if (CurrentEngine() == Engine::Postgres)
        return QString::fromStdString(PostgresCluster::Shared().createDatabase());
    return dir.filePath(u"test.sqlite"_s);
}

// Runs `sql` on a database of either engine behind the server's back.
inline void ExecBehindTheServer(const QString& database, const char* sql)
{
    if (refserver::IsPostgresAddress(database.toStdString()))
        refserver::PgConnection(database.toStdString()).exec(sql);
    else
        refserver::Database(database.toStdString()).exec(sql);
}

class ServerFixture
{
public:
    // `dbPath`: an SQLite file or a PostgreSQL URI; by default a fresh
    // database of the current engine.
    explicit ServerFixture(ServerConfig config = quietConfig(), QString dbPath = {})
        : m_dbPath(dbPath.isEmpty() ? FreshDatabase(m_dir) : dbPath), m_scheme(u"http"_s)
    {
        m_store = refserver::OpenStore(m_dbPath.toStdString());
        m_server = std::make_unique<ReferenceServer>(*m_store, config);
        if (!m_server->bind("127.0.0.1", 0))
            throw std::runtime_error("cannot bind");
        m_server->start();
    }

    static ServerConfig quietConfig()
    {
        ServerConfig c;
        c.logRequests = false;
        return c;
    }

    // `host` may name another way to 127.0.0.1, such as "localhost".
    QString address(QStringView path, QStringView host = u"127.0.0.1") const
    {
        return m_scheme + u"://"_s + host.toString() + u':' + QString::number(m_server->port()) +
               path.toString();
    }
    int port() const { return m_server->port(); }
    const QString& dbPath() const { return m_dbPath; }
    Store& store() { return *m_store; }
    void stop()
    {
        m_server.reset();
        m_store.reset();
    }

private:
    QTemporaryDir m_dir;
    QString m_dbPath;
    QString m_scheme;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<ReferenceServer> m_server;
};

// The credentials of one user, for a server that needs sign-in.
inline std::shared_ptr<const refserver::Credentials> OneUser(const std::string& user,
                                                            const std::string& password)
{
    auto parsed = refserver::Credentials::Parse(user + ":" + refserver::HashPassword(password));
    return std::make_shared<const refserver::Credentials>(
        std::get<refserver::Credentials>(std::move(parsed)));
}

// The 21 fields of the customer save, in the order the edit dialog sends them.
inline QStringList CustomerFields(const QString& id, const QString& last, const QString& first)
{
    return {u"ID="_s + id,
            u"txtLN="_s + last,
            u"txtFN="_s + first,
            u"txtBN=  Feed & Seed "_s,
            u"txtAD=12 Elm St\r\nSuite 4"_s,
            u"txtCY=Dover"_s,
            u"txtST=DE"_s,
            u"txtZP=19901"_s,
            u"txtP1=3025550143"_s,
            u"txtP2="_s,
            u"txtEM=a+b@example.com"_s,
            u"txtHO=Word Of Mouth"_s,
            u"txtDV=CD By Mail"_s,
            u"txtPM=Starter (Receipts)"_s,
            u"txtSN=0042"_s,
            u"txtPK=TLR-1=2"_s,
            u"txtBD=01/15/2024"_s,
            u"txtDD=02/29/2024"_s,
            u"txtPD=  /  /    "_s,
            u"txtANI=12/31/2025"_s,
            u"txtACT=1"_s};
}

// `server`: a ServerFixture or a StackFixture.
template <typename Server>
TCustomerTable LoadActive(HttpClient& client, const Server& server)
{
    return TCustomerTable::Parse(client.Post(server.address(u"/manage/datapile.php"), {}));
}

template <typename Server>
TCustomerTable LoadDormant(HttpClient& client, const Server& server)
{
    return TCustomerTable::Parse(client.Post(server.address(u"/manage/dormantpile.php"), {}));
}

template <typename Server>
TCallTable LoadCalls(HttpClient& client, const Server& server)
{
    return TCallTable::Parse(client.Post(server.address(u"/manage/callpile.php"), {}));
}

inline int StatusOf(HttpClient& client, const QString& address, const QStringList& fields)
{
    try {
        client.Post(address, fields);
    } catch (const HttpStatusError& e) {
        EXPECT_TRUE(e.body().startsWith(u"Error: ")) << e.body().toStdString();
        return e.status();
    }
    return 200;
}

// The status and text of an answer through the client; 200 and the text for
// a success.
struct Answer
{
    int status = 0;
    QString text;
};

inline Answer PostFor(HttpClient& client, const QString& address, const QStringList& fields)
{
    try {
        return {200, client.Post(address, fields)};
    } catch (const HttpStatusError& e) {
        return {e.status(), e.body()};
    }
}

// Adds a customer and returns its new number.
inline QString AddCustomer(HttpClient& client, const ServerFixture& server, const QString& last)
{
    client.Post(server.address(u"/manage/newguy.php"), CustomerFields(u"0"_s, last, u"F"_s));
    const TCustomerTable table = LoadActive(client, server);
    for (std::int32_t row = 0; row < table.CustomerCount(); ++row)
        if (table.LN(row) == last)
            return QString::number(table.ID(row));
    throw std::runtime_error("the added customer is not listed");
}

} // namespace refserver_test
