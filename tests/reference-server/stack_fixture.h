// The deployment as a vendor runs it, started through scripts/stack: nginx
// in front with the shipped site, tillora-server processes behind it.
#pragma once

#include <gtest/gtest.h>

#include <QString>

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <netinet/in.h>

#include <fcntl.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace refserver_test {

// A port nobody listens on just now.
inline int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("cannot find a free port");
    ::close(fd);
    return ntohs(address.sin_port);
}

class StackFixture
{
public:
    // `arguments` go to scripts/stack after --port.
    explicit StackFixture(std::vector<std::string> arguments = {}) : m_port(FreePort())
    {
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0)
            throw std::runtime_error("cannot make a pipe");
        std::vector<std::string> args = {TILLORA_STACK_PATH, "--port", std::to_string(m_port)};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> environment = {"TILLORA_SERVER_BIN=" TILLORA_SERVER_PATH};
        for (char** e = environ; *e; ++e)
            if (!std::string_view(*e).starts_with("TILLORA_SERVER_BIN="))
                environment.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : environment)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, pipe[1], 2);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        // Its own process group, so that nothing it starts outlives the test.
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        const int spawned =
            posix_spawn(&m_pid, argv[0], &actions, &attributes, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(pipe[1]);
        if (spawned != 0) {
            ::close(pipe[0]);
            throw std::runtime_error("cannot start scripts/stack");
        }
        m_reader = std::thread([this, fd = pipe[0]] { read(fd); });
        if (!waitFor("ready at ", std::chrono::seconds(60))) {
            stop();
            throw std::runtime_error("scripts/stack did not get ready:\n" + output());
        }
        const std::string all = output();
        const std::size_t ready = all.find("ready at ");
        m_base = all.substr(ready + 9, all.find_first_of(" \n", ready + 9) - ready - 9);
        while (!m_base.empty() && m_base.back() == '/')
            m_base.pop_back();
    }

    ~StackFixture() { stop(); }
    StackFixture(const StackFixture&) = delete;
    StackFixture& operator=(const StackFixture&) = delete;

    int port() const { return m_port; }

    // The address of `path` through the front; `host` may name another way
    // to 127.0.0.1, such as "localhost".
    QString address(QStringView path, QStringView host = u"127.0.0.1") const
    {
        QString base = QString::fromStdString(m_base);
        base.replace(QStringLiteral("127.0.0.1"), host.toString());
        return base + path.toString();
    }

    // Everything the stack and its servers wrote so far.
    std::string output() const
    {
        std::lock_guard lock(m_mutex);
        return m_output;
    }

    // True once `text` appears in the output after what was there at `from`.
    bool waitFor(const std::string& text, std::chrono::milliseconds wait, std::size_t from = 0)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, wait, [&] {
            return m_output.find(text, from) != std::string::npos || m_ended;
        }) && m_output.find(text, from) != std::string::npos;
    }

    struct Server
    {
        pid_t pid = 0;
        int port = 0;
    };

    // Each server, by number, as the stack last reported it.
    std::map<int, Server> servers() const
    {
        std::map<int, Server> servers;
        const std::string all = output();
        for (std::size_t at = all.find("stack: server "); at != std::string::npos;
             at = all.find("stack: server ", at + 1)) {
            int number = 0, pid = 0, port = 0;
            if (std::sscanf(all.c_str() + at, "stack: server %d pid %d on 127.0.0.1:%d", &number,
                            &pid, &port) == 3)
                servers[number] = {pid, port};
        }
        return servers;
    }

    // SIGTERM to the stack, which stops all it started; the exit status.
    int stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_status = status;
            // Whatever it failed to stop goes with its group.
            ::kill(-m_pid, SIGKILL);
            m_pid = 0;
        }
        if (m_reader.joinable())
            m_reader.join();
        return m_status;
    }

private:
    void read(int fd)
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            std::lock_guard lock(m_mutex);
            m_output.append(buffer, std::size_t(n));
            m_changed.notify_all();
        }
        ::close(fd);
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_changed.notify_all();
    }

    int m_port;
    pid_t m_pid = 0;
    int m_status = 0;
    std::string m_base;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_output;
    bool m_ended = false;
};

} // namespace refserver_test
