#pragma once

#include "answer_sink.h"

#include <QByteArray>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

// Hands the raw bytes of an answer on to another sink on a worker thread,
// so that cutting them overlaps the transfer instead of following each
// piece. The bytes reach the other sink in order, in pieces of any size;
// a text decoded by the client goes to it at once, on the caller's thread.
//
// At most PendingLimit bytes wait for the worker: past that the caller
// waits for it, so a slow worker costs time, not memory.
class BackgroundSink : public AnswerSink
{
public:
    explicit BackgroundSink(AnswerSink& target) : m_target(target) {}
    // Stops the worker, which may leave bytes not handed on: the answer
    // is being dropped.
    ~BackgroundSink() override;
    BackgroundSink(const BackgroundSink&) = delete;
    BackgroundSink& operator=(const BackgroundSink&) = delete;

    void begin(std::int64_t expectedChars) override { m_target.begin(expectedChars); }
    char16_t* room(qsizetype chars) override { return m_target.room(chars); }
    void took(qsizetype chars) override { m_target.took(chars); }

    bool beginBytes(std::int64_t expectedBytes, ByteText text) override;
    // Raises what the other sink raised for earlier bytes.
    void takeBytes(QByteArrayView bytes) override;

    // Waits until every byte taken has been handed on, and raises what the
    // other sink raised. Call it once the answer is complete.
    void finish();

    static constexpr qsizetype PendingLimit = qsizetype(1) << 20;

private:
    void run();
    void stop();
    void endWorker(bool& flag);

    AnswerSink& m_target;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Bytes taken and not yet handed to the worker.
    QByteArray m_pending;
    bool m_ended = false;
    bool m_stopping = false;
    std::exception_ptr m_error;
    std::thread m_worker;
};
