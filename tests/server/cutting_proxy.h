#pragma once

// A forwarding stand-in for a network fault between client and server: it
// passes each request on to a real server on 127.0.0.1 and relays the
// answer, except that it drops the answers of chosen requests after the
// server has acted on them.

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace scripted {

class CuttingProxy
{
public:
    // The first `cuts` requests whose target starts with `path` reach the
    // server whole; their answers are read to the end and dropped, and the
    // client's connection is closed without a byte of them.
    CuttingProxy(int serverPort, std::string path, int cuts = 1);
    ~CuttingProxy();
    CuttingProxy(const CuttingProxy&) = delete;
    CuttingProxy& operator=(const CuttingProxy&) = delete;

    int port() const { return m_port; }
    std::string address(std::string_view path = "") const;
    // Answers dropped so far.
    int cutCount() const { return m_cut; }

private:
    void acceptLoop();
    void relay(int client);

    int m_serverPort;
    std::string m_path;
    std::atomic<int> m_cutsLeft;
    std::atomic<int> m_cut{0};
    int m_listenFd = -1;
    int m_port = 0;
    std::mutex m_mutex;
    std::vector<std::thread> m_relays;
    std::thread m_acceptor;
};

} // namespace scripted
