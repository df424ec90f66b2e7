// The worker thread between the client and a list builder: every byte
// reaches the builder in order, its failures reach the caller, and an
// answer dropped halfway stops the worker.

#include "address_space.h"
#include "background_sink.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include <malloc.h>
#include <pthread.h>

namespace {

using namespace std::chrono_literals;

class RecordingSink : public AnswerSink
{
public:
    void begin(std::int64_t) override { ++begun; }
    char16_t* room(qsizetype chars) override
    {
        m_room.resize(std::size_t(chars));
        return m_room.data();
    }
    void took(qsizetype chars) override { text += QStringView(m_room.data(), chars); }
    bool beginBytes(std::int64_t, ByteText) override
    {
        if (onBeginBytes)
            onBeginBytes();
        return takesBytes;
    }
    void takeBytes(QByteArrayView piece) override
    {
        if (delay.count() > 0)
            std::this_thread::sleep_for(delay);
        if (failAfter >= 0 && bytes.size() + piece.size() > failAfter)
            throw std::runtime_error("the record cannot be read");
        bytes += piece.toByteArray();
        ++pieces;
    }

    bool takesBytes = true;
    std::function<void()> onBeginBytes;
    std::chrono::milliseconds delay{0};
    qsizetype failAfter = -1;
    int begun = 0;
    QString text;
    QByteArray bytes;
    std::atomic<int> pieces = 0;

private:
    std::vector<char16_t> m_room;
};

QByteArray Body(qsizetype size)
{
    QByteArray body(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        body[i] = char('a' + (i * 7 + i / 251) % 26);
    return body;
}

TEST(BackgroundSinkTest, HandsOnEveryByteInOrderWhateverThePieces)
{
    // Pieces of one byte, of 16 KiB, and larger than what may wait at once.
    const QByteArray body = Body(3 * BackgroundSink::PendingLimit + 12345);
    for (const qsizetype piece : {qsizetype(1), qsizetype(16 * 1024), BackgroundSink::PendingLimit + 7}) {
        SCOPED_TRACE(piece);
        const QByteArray part = piece == 1 ? body.first(20000) : body;
        RecordingSink target;
        BackgroundSink sink(target);
        ASSERT_TRUE(sink.beginBytes(part.size(), AnswerSink::ByteText::Utf8));
        for (qsizetype at = 0; at < part.size(); at += piece)
            sink.takeBytes(QByteArrayView(part).sliced(at, std::min(piece, part.size() - at)));
        sink.finish();
        EXPECT_EQ(target.bytes, part);
    }
}

TEST(BackgroundSinkTest, TheTargetsFailureReachesTheCaller)
{
    const QByteArray body = Body(4 * BackgroundSink::PendingLimit);
    RecordingSink target;
    target.failAfter = 100;
    BackgroundSink sink(target);
    ASSERT_TRUE(sink.beginBytes(body.size(), AnswerSink::ByteText::Utf8));
    // Raised by a later piece once the worker has failed, or else by finish().
    bool raised = false;
    try {
        for (qsizetype at = 0; at < body.size(); at += 16 * 1024)
            sink.takeBytes(QByteArrayView(body).sliced(at, 16 * 1024));
        sink.finish();
    } catch (const std::runtime_error& e) {
        raised = true;
        EXPECT_STREQ(e.what(), "the record cannot be read");
    }
    EXPECT_TRUE(raised);
    EXPECT_LE(target.bytes.size(), 100);
}

TEST(BackgroundSinkTest, TheWorkersOwnLackOfMemoryReachesTheCaller)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer holds address space of its own";
#else
    // A fresh process, so that no free block of the heap can serve the
    // worker's buffer.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Small thread stacks, one heap, and large blocks always mapped
            // afresh: once the caller's buffer and the worker's stack are in
            // place, there is no room left for the worker's own buffer.
            constexpr std::size_t Stack = 256 * 1024;
            pthread_attr_t attributes;
            pthread_attr_init(&attributes);
            pthread_attr_setstacksize(&attributes, Stack);
            pthread_setattr_default_np(&attributes);
            mallopt(M_ARENA_MAX, 1);
            mallopt(M_MMAP_THRESHOLD, 128 * 1024);
            RecordingSink target;
            target.onBeginBytes = [] {
                if (!address_space::AllowOnly(BackgroundSink::PendingLimit + Stack + 512 * 1024))
                    std::_Exit(3);
            };
            BackgroundSink sink(target);
            try {
                sink.beginBytes(1, AnswerSink::ByteText::Utf8);
                sink.takeBytes("x");
                sink.finish();
            } catch (const std::bad_alloc&) {
                std::_Exit(0);
            }
            std::_Exit(2); // the worker found room after all
        },
        testing::ExitedWithCode(0), "");
#endif
}

TEST(BackgroundSinkTest, AnAnswerDroppedHalfwayStopsTheWorker)
{
    RecordingSink target;
    target.delay = 20ms;
    {
        BackgroundSink sink(target);
        ASSERT_TRUE(sink.beginBytes(-1, AnswerSink::ByteText::Latin1));
        const QByteArray body = Body(2 * BackgroundSink::PendingLimit);
        for (qsizetype at = 0; at < body.size(); at += 64 * 1024)
            sink.takeBytes(QByteArrayView(body).sliced(at, 64 * 1024));
        // No finish(): the transfer failed, and the sink goes out of scope.
    }
    // The worker has ended: nothing reaches the target any more.
    const int pieces = target.pieces;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(target.pieces, pieces);
    EXPECT_LT(target.bytes.size(), 2 * BackgroundSink::PendingLimit);
}

TEST(BackgroundSinkTest, DecodedTextGoesStraightToTheTarget)
{
    RecordingSink target;
    target.takesBytes = false;
    BackgroundSink sink(target);
    EXPECT_FALSE(sink.beginBytes(5, AnswerSink::ByteText::Utf8));
    sink.begin(5);
    char16_t* room = sink.room(5);
    std::copy_n(u"h\u00e9llo", 5, room);
    sink.took(5);
    // Already there before finish(), which has nothing to wait for.
    EXPECT_EQ(target.text, u"h\u00e9llo");
    sink.finish();
    EXPECT_EQ(target.begun, 1);
}

} // namespace
