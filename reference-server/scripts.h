#pragma once

#include "credentials.h"
#include "store.h"

#include <httplib.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace refserver {

struct ServerConfig
{
    // When set, every script needs Basic authentication by one of these users.
    std::shared_ptr<const Credentials> credentials;
    // Failed sign-ins answered per client and second; beyond them 429.
    int failedSignInsPerSecond = 10;
    // Answer in ISO-8859-1 without a charset parameter, as older servers do.
    bool latin1 = false;
    bool logRequests = true;
    // Honour the RowDigest and RequestId of a write; off, they are ignored
    // like any unknown field, as the vendor's own scripts do.
    bool writeGuards = true;
    // Called with the method and target of every request, before it is
    // answered (tests watch it).
    std::function<void(const std::string& method, const std::string& target)> observer;
    // The date (year-month-day) and time (hours:minutes:seconds) a saved
    // call is stamped with; the local clock when unset. Tests that compare
    // two servers give both the same.
    std::function<std::pair<std::string, std::string>()> callStamp;
};

// The largest form body a script accepts, counted as it arrives.
inline constexpr std::size_t MaxBodyBytes = 1 << 20;

// Threads that run the scripts.
inline constexpr std::size_t WorkerThreads = 16;

// Registers the nine server scripts on `server`, with the checks every
// request passes before a script reads its body.
void InstallScripts(httplib::Server& server, Store& store, const ServerConfig& config);

// The scripts served on a loopback address; for tests and the executable
// alike. Other machines reach it through the nginx front, which does the
// work of a server facing the network (TLS, time-outs, rate limits).
class ReferenceServer
{
public:
    ReferenceServer(Store& store, ServerConfig config);
    ~ReferenceServer();

    // Binds host:port (port 0: any free port). False when it cannot listen.
    bool bind(const std::string& host, int port);
    int port() const;
    void start(); // serves on a background thread
    void run();   // serves on the calling thread until stop()
    void stop();

private:
    ServerConfig m_config;
    std::unique_ptr<httplib::Server> m_server;
    int m_port = 0;
    std::thread m_thread;
};

} // namespace refserver
