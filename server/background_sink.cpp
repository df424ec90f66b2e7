#include "background_sink.h"

#include "vector_state.h"

BackgroundSink::~BackgroundSink()
{
    stop();
}

bool BackgroundSink::beginBytes(std::int64_t expectedBytes, ByteText text)
{
    if (!m_target.beginBytes(expectedBytes, text))
        return false;
    m_pending.reserve(PendingLimit);
    m_worker = std::thread([this] { run(); });
    return true;
}

void BackgroundSink::takeBytes(QByteArrayView bytes)
{
    std::unique_lock lock(m_mutex);
    while (!bytes.isEmpty()) {
        m_changed.wait(lock, [&] { return m_error || m_pending.size() < PendingLimit; });
        if (m_error)
            std::rethrow_exception(m_error);
        const qsizetype n = std::min(bytes.size(), PendingLimit - m_pending.size());
        const bool wasEmpty = m_pending.isEmpty();
        m_pending.append(bytes.first(n));
        bytes = bytes.sliced(n);
        // The worker sleeps only while nothing is pending.
        if (wasEmpty)
            m_changed.notify_all();
    }
}

void BackgroundSink::finish()
{
    endWorker(m_ended);
    if (m_error)
        std::rethrow_exception(m_error);
}

void BackgroundSink::stop()
{
    endWorker(m_stopping);
}

// Raises `flag` (m_ended: hand on what is pending first; m_stopping: drop
// it) and waits for the worker to end.
void BackgroundSink::endWorker(bool& flag)
{
    if (!m_worker.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        flag = true;
    }
    m_changed.notify_all();
    m_worker.join();
}

void BackgroundSink::run()
{
    ClearUpperVectorState();
    // Whatever fails here, the worker's own buffer included, goes to the
    // caller: an exception leaving the thread would end the program.
    try {
        QByteArray batch;
        batch.reserve(PendingLimit);
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return m_stopping || m_ended || !m_pending.isEmpty(); });
                if (m_stopping || m_pending.isEmpty())
                    return;
                // The two buffers change places, keeping their room.
                batch.resize(0);
                std::swap(batch, m_pending);
            }
            m_changed.notify_all();
            m_target.takeBytes(batch);
        }
    } catch (...) {
        const std::lock_guard lock(m_mutex);
        m_error = std::current_exception();
        m_changed.notify_all();
    }
}
