#pragma once

#include <string>

// A throwaway PostgreSQL server for tests and benchmarks, from Debian's
// binaries (/usr/lib/postgresql/*/bin): a fresh data folder under a new
// temporary folder, serving on 127.0.0.1 and a free port. initdb and
// postgres refuse to run as root, so as root they run as the postgres
// system user. The destructor stops it and removes the folder; a watchdog
// process does the same when this process ends any other way.
class PostgresCluster
{
public:
    // `durable`: fsync as a production server does (for measurements);
    // tests run without it. Throws std::runtime_error, with the server's
    // log, when it cannot start.
    explicit PostgresCluster(bool durable = false);
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    int port() const { return m_port; }
    // Creates an empty UTF-8 database owned by `owner` and returns its
    // connection URI as that role. The superuser "postgres" needs no
    // password; any other role signs in with its password.
    std::string createDatabase(const std::string& owner = "postgres");
    std::string uri(const std::string& database, const std::string& user = "postgres") const;

    // One cluster for the whole process, started on first use.
    static PostgresCluster& Shared();

private:
    std::string m_bin;
    std::string m_dir;
    int m_port = 0;
    int m_watchdogPipe = -1;
    int m_watchdog = -1;
    int m_databases = 0;
};
