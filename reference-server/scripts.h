#pragma once

#include "listener.h"
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
    // When set, every script needs Basic authentication.
    std::optional<std::string> user;
    std::optional<std::string> password;
    // Answer in ISO-8859-1 without a charset parameter, as older servers do.
    bool latin1 = false;
    bool logRequests = true;
    // Called with the method and target of every request, before it is
    // answered (tests watch it).
    std::function<void(const std::string& method, const std::string& target)> observer;
    ListenerLimits limits;
    // When set, the server speaks HTTPS with this certificate.
    std::shared_ptr<const TlsContext> tls;
};

// The largest form body a script accepts, counted as it arrives.
inline constexpr std::size_t MaxBodyBytes = 1 << 20;

// Registers the nine server scripts on `server`, with the checks every
// request passes before a script reads its body.
void InstallScripts(httplib::Server& server, Store& store, const ServerConfig& config);

// A server running on its own thread; for tests and the executable alike.
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
    class ScriptServer;

    ServerConfig m_config;
    std::unique_ptr<ScriptServer> m_server;
    std::unique_ptr<Listener> m_listener;
    std::thread m_thread;
};

} // namespace refserver
