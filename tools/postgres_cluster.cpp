#include "postgres_cluster.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string BinaryFolder()
{
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec))
        if (fs::exists(entry.path() / "bin" / "initdb"))
            found.push_back(entry.path() / "bin");
    if (found.empty())
        throw std::runtime_error("no PostgreSQL server in /usr/lib/postgresql (scripts/install-deps "
                                 "installs Debian's postgresql package)");
    std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
        return std::stoi(a.parent_path().filename()) < std::stoi(b.parent_path().filename());
    });
    return found.back().string();
}

// As the postgres system user when running as root.
std::string AsServerUser(const std::string& command)
{
    return geteuid() == 0 ? "runuser -u postgres -- " + command : command;
}

int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
        if (s >= 0)
            close(s);
        throw std::runtime_error("no free port on 127.0.0.1");
    }
    close(s);
    return ntohs(a.sin_port);
}

std::string FileText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

PostgresCluster::PostgresCluster(bool durable) : m_bin(BinaryFolder())
{
    char folder[] = "/tmp/tillora-pg.XXXXXX";
    if (!mkdtemp(folder))
        throw std::runtime_error("cannot make a temporary folder");
    m_dir = folder;
    if (geteuid() == 0) {
        const passwd* user = getpwnam("postgres");
        if (!user || chown(m_dir.c_str(), user->pw_uid, user->pw_gid) != 0)
            throw std::runtime_error("cannot hand " + m_dir + " to the postgres user");
    }

    // The watchdog waits for the end of this pipe, which comes when this
    // process ends however it ends, then stops the server and removes the
    // folder.
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe");
    const std::string cleanup =
        AsServerUser(m_bin + "/pg_ctl -D " + m_dir + "/data -m immediate -w stop") +
        " >/dev/null 2>&1; rm -rf " + m_dir;
    const pid_t watchdog = fork();
    if (watchdog == 0) {
        setsid(); // out of reach of a Ctrl-C meant for the tests
        close(pipeEnds[1]);
        char byte;
        while (read(pipeEnds[0], &byte, 1) != 0) {
        }
        execl("/bin/sh", "sh", "-c", cleanup.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[0]);
    m_watchdogPipe = pipeEnds[1];
    m_watchdog = watchdog;

    const std::string data = m_dir + "/data";
    if (std::system((AsServerUser(m_bin + "/initdb -D " + data +
                                  " -U postgres -A trust -E UTF8 --locale=C.UTF-8 -N") +
                     " >" + m_dir + "/initdb.log 2>&1")
                        .c_str()) != 0)
        throw std::runtime_error("initdb failed:\n" + FileText(m_dir + "/initdb.log"));
    // The superuser gets in without a password; every other role needs its
    // password, so that tests can show where the server finds it.
    {
        std::ofstream hba(data + "/pg_hba.conf", std::ios::trunc);
        hba << "local all all trust\n"
               "host all postgres 127.0.0.1/32 trust\n"
               "host all all 127.0.0.1/32 scram-sha-256\n";
        if (!hba)
            throw std::runtime_error("cannot write " + data + "/pg_hba.conf");
    }

    // Another program may take the free port before the server does.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = FreePort();
        const std::string settings = "-h 127.0.0.1 -p " + std::to_string(m_port) + " -k " + m_dir +
                                     " -c max_connections=300" +
                                     (durable ? "" : " -c fsync=off -c synchronous_commit=off");
        if (std::system((AsServerUser(m_bin + "/pg_ctl -D " + data + " -l " + m_dir +
                                      "/server.log -w -o '" + settings + "' start") +
                         " >/dev/null 2>&1")
                            .c_str()) == 0)
            return;
    }
    throw std::runtime_error("PostgreSQL did not start:\n" + FileText(m_dir + "/server.log"));
}

PostgresCluster::~PostgresCluster()
{
    close(m_watchdogPipe);
    int status = 0;
    waitpid(m_watchdog, &status, 0);
}

std::string PostgresCluster::uri(const std::string& database, const std::string& user) const
{
    return "postgresql://" + user + "@127.0.0.1:" + std::to_string(m_port) + "/" + database;
}

std::string PostgresCluster::createDatabase(const std::string& owner)
{
    const std::string name = "tillora_" + std::to_string(++m_databases);
    const std::unique_ptr<PGconn, void (*)(PGconn*)> admin(PQconnectdb(uri("postgres").c_str()),
                                                         &PQfinish);
    if (PQstatus(admin.get()) != CONNECTION_OK)
        throw std::runtime_error(std::string("cannot reach the test PostgreSQL: ") +
                                 PQerrorMessage(admin.get()));
    PGresult* result = PQexec(admin.get(), ("CREATE DATABASE " + name + " OWNER " + owner +
                                            " ENCODING 'UTF8' TEMPLATE template0")
                                               .c_str());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    if (!ok)
        throw std::runtime_error("CREATE DATABASE failed: " +
                                 std::string(PQerrorMessage(admin.get())));
    return uri(name, owner);
}

PostgresCluster& PostgresCluster::Shared()
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    static std::unique_ptr<PostgresCluster> cluster;
    if (!cluster)
        cluster = std::make_unique<PostgresCluster>();
    return *cluster;
}
