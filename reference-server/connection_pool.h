#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace refserver {

// Database connections kept open between requests. A request borrows one
// for as long as its Lease lives, so no connection is ever used by two
// threads at once.
template <typename Connection>
class ConnectionPool
{
public:
    using Opener = std::function<std::unique_ptr<Connection>()>;
    // Whether a connection handed back may serve again; one that cannot is
    // dropped, and the next borrower opens a new one.
    using Check = std::function<bool(const Connection&)>;

    explicit ConnectionPool(Opener open, Check reusable = {})
        : m_open(std::move(open)), m_reusable(std::move(reusable))
    {
    }

    class Lease
    {
    public:
        explicit Lease(ConnectionPool& pool) : m_pool(pool), m_connection(pool.acquire()) {}
        ~Lease() { m_pool.release(std::move(m_connection)); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Connection* operator->() { return m_connection.get(); }
        Connection& operator*() { return *m_connection; }

    private:
        ConnectionPool& m_pool;
        std::unique_ptr<Connection> m_connection;
    };

private:
    std::unique_ptr<Connection> acquire()
    {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_idle.empty()) {
                std::unique_ptr<Connection> connection = std::move(m_idle.back());
                m_idle.pop_back();
                return connection;
            }
        }
        return m_open();
    }

    void release(std::unique_ptr<Connection> connection)
    {
        if (m_reusable && !m_reusable(*connection))
            return;
        const std::lock_guard lock(m_mutex);
        m_idle.push_back(std::move(connection));
    }

    Opener m_open;
    Check m_reusable;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Connection>> m_idle;
};

} // namespace refserver
