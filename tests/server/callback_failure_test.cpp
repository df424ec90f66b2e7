// Failures inside the calls curl makes while it reads an answer: whatever
// fails there, the sink or the client's own bookkeeping, Post raises that
// error once curl has returned, and the client is fit for the next Post.

#include "errors.h"
#include "failing_allocation.h"
#include "http_client.h"
#include "scripted_server.h"

#include <gtest/gtest.h>

#include <QString>

#include <new>
#include <string>
#include <vector>

namespace {

using namespace scripted;
using namespace Qt::StringLiterals;

// Takes a body as text or as bytes, and fails at one of its calls.
class FailingSink : public AnswerSink
{
public:
    enum class Step
    {
        Begin,
        Room,
        BeginBytes,
        TakeBytes,
        // The call succeeds, and the next allocation of the client's own
        // fails.
        AfterTakeBytes
    };
    enum class Error
    {
        Tillora,
        OutOfMemory
    };

    FailingSink(Step step, Error error) : m_step(step), m_error(error) {}

    void begin(std::int64_t) override { failAt(Step::Begin); }
    char16_t* room(qsizetype chars) override
    {
        failAt(Step::Room);
        m_room.resize(std::size_t(chars));
        return m_room.data();
    }
    void took(qsizetype) override {}
    bool beginBytes(std::int64_t, ByteText) override
    {
        failAt(Step::BeginBytes);
        return m_step == Step::BeginBytes || m_step == Step::TakeBytes ||
               m_step == Step::AfterTakeBytes;
    }
    void takeBytes(QByteArrayView) override
    {
        failAt(Step::TakeBytes);
        if (m_step == Step::AfterTakeBytes)
            failing_allocation::FailNextOnThisThread();
    }

private:
    void failAt(Step step)
    {
        if (step != m_step)
            return;
        if (m_error == Error::OutOfMemory)
            throw std::bad_alloc();
        throw TilloraError(u"The sink gave up."_s);
    }

    Step m_step;
    Error m_error;
    std::vector<char16_t> m_room;
};

TEST(CallbackFailureTest, PostRaisesWhatFailedWhileCurlReadAndTheClientCarriesOn)
{
    using Step = FailingSink::Step;
    using Error = FailingSink::Error;
    const struct
    {
        const char* name;
        Step step;
        Error error;
    } cases[] = {
        {"the sink's begin", Step::Begin, Error::Tillora},
        {"the sink's room", Step::Room, Error::OutOfMemory},
        {"the sink's beginBytes", Step::BeginBytes, Error::OutOfMemory},
        {"the sink's takeBytes", Step::TakeBytes, Error::Tillora},
        {"the client's own allocation after a piece", Step::AfterTakeBytes, Error::OutOfMemory},
    };
    const std::string list = "1<br>7\xC2\xA9Smith\xC2\xAE";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({Answer("HTTP/1.1 200 OK", {"Content-Type: text/html; charset=UTF-8"},
                                      list),
                               Answer("HTTP/1.1 200 OK", {}, "fine again")});
        const QString address = QString::fromStdString(server.address("/list.php"));
        HttpClient client;
        FailingSink sink(c.step, c.error);
        try {
            client.Post(address, {u"a=1"_s}, sink);
            ADD_FAILURE() << "no error raised";
        } catch (const TilloraError& e) {
            EXPECT_EQ(c.error, Error::Tillora) << e.what();
            EXPECT_EQ(e.message(), u"The sink gave up."_s);
        } catch (const std::bad_alloc&) {
            EXPECT_EQ(c.error, Error::OutOfMemory);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "another error raised: " << e.what();
        }
        EXPECT_FALSE(failing_allocation::FailurePending());
        EXPECT_FALSE(client.busy());
        try {
            EXPECT_EQ(client.Post(address, {}), u"fine again"_s);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "the next Post raised: " << e.what();
        }
    }
}

} // namespace
