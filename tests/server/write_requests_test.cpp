// The client's side of the write guards: which failures of a write say that
// the server may have stored it, the RequestId's form, and reading the
// answer to a save over a changed row.

#include "write_requests.h"

#include "scripted_server.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ostream>
#include <thread>

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

using namespace scripted;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString Note =
    u"\n\nThe whole request had reached the server, so it may have been stored all the same"_s;

// What PostWrite raised: its type and message.
struct Failure
{
    bool mayBeStored = false;
    int status = 0; // of a status error raised as it is
    QString message;
};

Failure FailureOf(const QString& address, const QStringList& fields)
{
    HttpClient client;
    try {
        PostWrite(client, address, fields);
    } catch (const WriteMayBeStored& e) {
        return {true, 0, e.message()};
    } catch (const HttpStatusError& e) {
        return {false, e.status(), e.message()};
    } catch (const TilloraError& e) {
        return {false, 0, e.message()};
    }
    ADD_FAILURE() << "the write did not fail";
    return {};
}

TEST(WriteRequestsTest, AFailureAfterTheWholeRequestWasSentSaysItMayBeStored)
{
    const struct
    {
        const char* name;
        Exchange exchange;
        QString failure; // the message without the note
    } cases[] = {
        {"500 after the write", Answer("HTTP/1.1 500 Internal Server Error", {}, "Error: broken"),
         u"HTTP/1.1 500 Internal Server Error"_s},
        {"closed without an answer", Exchange{{}, Ending::Close},
         u"Connection Closed Gracefully."_s},
        {"cut in the headers", Exchange{{{0, "HTTP/1.1 200 OK\r\nContent-Le"}}, Ending::Close},
         u"Connection Closed Gracefully."_s},
        {"garbage status line", Exchange{{{0, "SPLAT\r\n\r\nCustomer 7 added."}}, Ending::Close},
         u"The answer does not begin with a valid HTTP status line."_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({c.exchange});
        const Failure f = FailureOf(QString::fromStdString(server.address("/manage/newguy.php")),
                                    {u"ID=0"_s, u"txtLN=Lee"_s, u"RequestId="_s + NewRequestId()});
        EXPECT_TRUE(f.mayBeStored);
        EXPECT_EQ(f.message, c.failure + Note);
    }
}

TEST(WriteRequestsTest, FailuresBeforeTheWholeRequestWasSentAndRefusalsKeepTheirOwnError)
{
    RefusingPort nobody;
    const Failure refused =
        FailureOf(QString::fromStdString(nobody.address("/manage/newguy.php")), {u"ID=0"_s});
    EXPECT_FALSE(refused.mayBeStored);
    EXPECT_TRUE(refused.message.startsWith(u"Socket Error # 111"_s))
        << refused.message.toStdString();

    // Reset before a byte is read: a body larger than the socket buffers
    // cannot all go out.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    std::thread resetter([listener] {
        const int fd = ::accept(listener, nullptr, nullptr);
        const linger reset{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(fd);
    });
    const Failure cut =
        FailureOf(u"http://127.0.0.1:%1/manage/savecall.php"_s.arg(ntohs(address.sin_port)),
                  {u"textarea="_s + QString(8 << 20, u'x')});
    resetter.join();
    ::close(listener);
    EXPECT_FALSE(cut.mayBeStored) << cut.message.toStdString();
    EXPECT_FALSE(cut.message.contains(Note)) << cut.message.toStdString();

    // A refusal says that nothing was stored: the caller reads its answer.
    ScriptedServer conflict({Answer("HTTP/1.1 409 Conflict", {}, "Error: changed\n")});
    const Failure f =
        FailureOf(QString::fromStdString(conflict.address("/manage/modify.php")), {u"ID=1"_s});
    EXPECT_FALSE(f.mayBeStored);
    EXPECT_EQ(f.status, 409);
}

TEST(WriteRequestsTest, RequestIdsAre32LowercaseHexadecimalCharactersAndDiffer)
{
    static const QRegularExpression form(u"^[0-9a-f]{32}$"_s);
    QSet<QString> seen;
    for (int i = 0; i < 100; ++i) {
        const QString id = NewRequestId();
        EXPECT_TRUE(form.match(id).hasMatch()) << id.toStdString();
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100);
}

TEST(WriteRequestsTest, TheAnswerToASaveOverAChangedRowIsReadOnlyWhenItHoldsARecord)
{
    const QString record = u"7©Lee©Ann©©1 Main St©Dover©DE©19901©3025550100©©©Web Search©"
                           "Internet Download©1234©TLR©Unlimited©2020-01-15©2027-01-15©"
                           "2026-01-15©0000-00-00©1©®"_s;
    const std::optional<ChangedRow> read =
        ReadChangedRow(u"Error: this customer was changed.\r\n"_s + record + u"\n"_s);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->message, u"Error: this customer was changed.");
    ASSERT_EQ(read->current.CustomerCount(), 1);
    EXPECT_EQ(read->current.ID(0), 7);
    EXPECT_EQ(CanonicalRecord(read->current, 0), record.chopped(2));

    const QString notRecords[] = {
        u"Error: the earlier save of this request was stored."_s,
        u"Error: two lines\nbut no record"_s,
        u"Error: a record whose number is text\nseven©"_s + record.mid(2),
        u"Error: a record cut short\n7©Lee©Ann©"_s,
        u""_s,
    };
    for (const QString& answer : notRecords)
        EXPECT_FALSE(ReadChangedRow(answer)) << answer.toStdString();
}

} // namespace
