#include "server_bench.h"

#include "postgres_cluster.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <tuple>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Clients = 8;
constexpr int RequestsPerRound = 300; // per client
constexpr int Rounds = 3;

// One tillora-server process on a free loopback port, its log in a file.
class ServerProcess
{
public:
    ServerProcess(const std::string& database, const std::string& log)
    {
        std::vector<std::string> args = {TILLORA_SERVER_PATH, "--listen", "127.0.0.1:0", "--db",
                                         database};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        const int spawned = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            throw std::runtime_error("cannot start " + args[0]);
        static const std::regex serving(R"(serving .* on http://127\.0\.0\.1:(\d+)/)");
        for (;;) {
            std::ifstream in(log);
            std::stringstream text;
            text << in.rdbuf();
            std::smatch m;
            const std::string all = text.str();
            if (std::regex_search(all, m, serving)) {
                m_port = std::stoi(m[1]);
                return;
            }
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = 0;
                throw std::runtime_error("tillora-server did not start: " + all);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~ServerProcess()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            waitpid(m_pid, &status, 0);
        }
    }
    int port() const { return m_port; }

private:
    pid_t m_pid = 0;
    int m_port = 0;
};

std::size_t Discard(char*, std::size_t size, std::size_t count, void*)
{
    return size * count;
}

// The request `i` of client `c`: the mix of a working day, writes included.
std::pair<std::string, std::string> MixedRequest(int c, int i)
{
    const std::string marker = "b" + std::to_string(c) + "-" + std::to_string(i);
    const std::string customer =
        "txtFN=F&txtBN=Feed+%26+Seed&txtAD=12+Elm+St&txtCY=Dover&txtST=DE&txtZP=19901&"
        "txtP1=3025550143&txtP2=&txtEM=a%40example.com&txtHO=Web&txtDV=CD&txtPM=Starter&"
        "txtSN=42&txtPK=TLR&txtBD=01%2F15%2F2024&txtDD=02%2F29%2F2024&txtPD=&txtANI=12%2F31%2F"
        "2025&txtACT=1";
    switch (i % 10) {
    case 0: case 1: case 2:
        return {"/manage/newguy.php", "ID=0&txtLN=" + marker + "&" + customer};
    case 3: case 4:
        return {"/manage/savecall.php",
                "ID=" + std::to_string(1 + i % 5) + "&direction=In&Handler=Ann&textarea=" + marker};
    case 5:
        return {"/manage/modify.php",
                "ID=" + std::to_string(1 + i % 5) + "&txtLN=Seed&" + customer};
    case 6:
        return {i % 50 == 6 ? "/manage/datapile.php" : "/statecount.php", ""};
    case 7:
        return {i % 50 == 7 ? "/manage/callpile.php" : "/quickstats.php", ""};
    default:
        return {"/quickstats.php", ""};
    }
}

// Runs one round against `ports` (client c uses ports[c % size]); adds
// each request's latency to `latencies` and returns the seconds it took.
double Round(const std::vector<int>& ports, int round, std::vector<double>& latencies)
{
    std::vector<std::vector<double>> perClient(Clients);
    std::vector<int> failures(Clients, 0);
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < Clients; ++c)
        threads.emplace_back([&, c] {
            CURL* curl = curl_easy_init();
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
            curl_easy_setopt(curl, CURLOPT_PROXY, "");
            // A fresh connection per request, as the client makes them.
            curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
            for (int i = 0; i < RequestsPerRound; ++i) {
                const auto [path, body] = MixedRequest(c, round * RequestsPerRound + i);
                const std::string url = "http://127.0.0.1:" +
                                        std::to_string(ports[std::size_t(c) % ports.size()]) +
                                        path;
                curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
                curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
                const Clock::time_point sent = Clock::now();
                long status = 0;
                if (curl_easy_perform(curl) != CURLE_OK ||
                    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
                    status != 200)
                    ++failures[std::size_t(c)];
                perClient[std::size_t(c)].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
            }
            curl_easy_cleanup(curl);
        });
    for (std::thread& t : threads)
        t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (int c = 0; c < Clients; ++c) {
        if (failures[std::size_t(c)] > 0)
            throw std::runtime_error(std::to_string(failures[std::size_t(c)]) +
                                     " requests of the server benchmark failed");
        latencies.insert(latencies.end(), perClient[std::size_t(c)].begin(),
                         perClient[std::size_t(c)].end());
    }
    return seconds;
}

void Seed(int port)
{
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/manage/newguy.php";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    const std::string body = MixedRequest(0, 0).second;
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    for (int i = 0; i < 5; ++i)
        curl_easy_perform(curl);
    curl_easy_cleanup(curl);
}

double Percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

} // namespace

std::string ServerThroughputLines()
{
    try {
        char folder[] = "/tmp/tillora-bench.XXXXXX";
        if (!mkdtemp(folder))
            return {};
        const std::string dir = folder;
        // fsync on both sides: SQLite commits with synchronous=FULL.
        PostgresCluster cluster(/*durable=*/true);
        const std::string uri = cluster.createDatabase();

        ServerProcess sqlite(dir + "/bench.sqlite", dir + "/sqlite.log");
        // The first server makes the schema before the others start.
        std::vector<std::unique_ptr<ServerProcess>> postgres;
        for (int i = 0; i < 3; ++i)
            postgres.push_back(
                std::make_unique<ServerProcess>(uri, dir + "/pg" + std::to_string(i) + ".log"));
        const std::vector<int> sqlitePorts = {sqlite.port()};
        std::vector<int> postgresPorts;
        for (const auto& p : postgres)
            postgresPorts.push_back(p->port());
        Seed(sqlitePorts[0]);
        Seed(postgresPorts[0]);

        // Alternating rounds, so both sides meet the same machine load.
        double sqliteSeconds = 0, postgresSeconds = 0;
        std::vector<double> sqliteLatencies, postgresLatencies;
        for (int round = 0; round < Rounds; ++round) {
            sqliteSeconds += Round(sqlitePorts, round, sqliteLatencies);
            postgresSeconds += Round(postgresPorts, round, postgresLatencies);
        }
        const double requests = double(Clients * RequestsPerRound * Rounds);
        std::ostringstream out;
        char line[200];
        for (const auto& [name, seconds, latencies] :
             {std::tuple{"1sqlite", sqliteSeconds, &sqliteLatencies},
              std::tuple{"3pg", postgresSeconds, &postgresLatencies}}) {
            std::snprintf(line, sizeof line,
                          "server %s: %.0f requests/s, latency p50 %.2f ms, p99 %.2f ms\n", name,
                          requests / seconds, Percentile(*latencies, 0.50),
                          Percentile(*latencies, 0.99));
            out << line;
        }
        out << "ratio server_3pg_vs_1sqlite " << sqliteSeconds / postgresSeconds << "\n";
        postgres.clear();
        std::filesystem::remove_all(dir);
        return out.str();
    } catch (const std::exception& e) {
        std::cerr << "server benchmark: " << e.what() << "\n";
        return {};
    }
}
