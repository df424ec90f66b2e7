// The worker thread between the client and a list builder: every byte
// reaches the builder in order, its failures reach the caller, and an
// answer dropped halfway stops the worker.

#include "background_sink.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

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
    bool beginBytes(std::int64_t, ByteText) override { return takesBytes; }
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
