// Lists decoded and cut while their bytes arrive must come out exactly as
// when the whole answer is decoded and cut at once: the same text, the same
// table, the same error, wherever the pieces happen to be cut.

#include "address_space.h"
#include "background_sink.h"
#include "call_table.h"
#include "customer_table.h"
#include "errors.h"
#include "http_client.h"
#include "list_text.h"
#include "response_decoding.h"
#include "scripted_server.h"
#include "table_dump.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace Qt::StringLiterals;

// Collects what a stream writes.
class TextSink : public AnswerSink
{
public:
    void begin(std::int64_t) override { ++begun; }
    char16_t* room(qsizetype chars) override
    {
        m_room.resize(std::size_t(chars));
        return m_room.data();
    }
    void took(qsizetype chars) override
    {
        text += QStringView(m_room.data(), chars);
    }

    QString text;
    int begun = 0;

private:
    std::vector<char16_t> m_room;
};

// Every way of cutting `bytes` into two pieces, three pieces around every
// position, and one piece per byte.
std::vector<std::vector<QByteArray>> Cuts(const QByteArray& bytes)
{
    std::vector<std::vector<QByteArray>> cuts;
    for (qsizetype at = 0; at <= bytes.size(); ++at) {
        cuts.push_back({bytes.first(at), bytes.sliced(at)});
        if (at >= 1 && at + 1 <= bytes.size())
            cuts.push_back({bytes.first(at - 1), bytes.sliced(at - 1, 2), bytes.sliced(at + 1)});
    }
    std::vector<QByteArray> single;
    for (const char byte : bytes)
        single.push_back(QByteArray(1, byte));
    cuts.push_back(single);
    return cuts;
}

QString Streamed(const QByteArray& contentType, const std::vector<QByteArray>& pieces)
{
    std::optional<BodyTextStream> stream = BodyTextStream::For(contentType);
    TextSink sink;
    for (const QByteArray& piece : pieces)
        stream->feed(piece, sink);
    stream->finish(sink);
    return sink.text;
}

TEST(StreamedDecodingTest, GivesTheTextOfTheWholeBodyWhereverThePiecesAreCut)
{
    struct Case
    {
        const char* name;
        QByteArray contentType;
        QByteArray body;
    };
    const Case cases[] = {
        {"UTF-8 signs and letters", "text/html; charset=UTF-8",
         "3<br>caf\xC3\xA9\xC2\xA9\xC2\xAE \xE2\x82\xAC \xF0\x9F\x93\x9E end"},
        {"a byte order mark at the start is dropped", "text/html; charset=utf-8",
         "\xEF\xBB\xBF" "1<br>x\xC2\xA9\xC2\xAE"},
        {"one in the middle is kept", "text/html; charset=utf-8", "a\xEF\xBB\xBF" "b\xEF\xBB\xBF"},
        {"broken sequences", "text/html; charset=utf-8",
         "a\xC3(\xE2\x82x\xFF\xC2\xC2\xA9\x80\x80z\xF0\x9F\x93"},
        {"an unfinished character at the end", "text/html; charset=utf-8", "ok \xE2\x82"},
        // Cut after E2 80, the piece must wait for the third byte: 80 is the
        // least byte that continues a character.
        {"a character whose second byte is 80", "text/html; charset=utf-8",
         "\xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x80\xA6"},
        {"no ASCII byte at all", "text/plain; charset=utf-8", "\xC3\xA9\xC3\xA9\xE2\x82\xAC"},
        {"Latin-1 for text without a charset", "text/html", "caf\xE9\xA9\xAE\x80\xFF"},
        {"Latin-1 named", "text/html; charset=ISO-8859-1", "\xA9\xAE\xE9"},
        {"an unknown set reads a byte as a character", "text/html; charset=x-no-such-set",
         "\xC3\xA9\xA9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(BodyTextStream::For(c.contentType).has_value());
        const QString whole = DecodeResponseBody(c.body, c.contentType);
        for (const std::vector<QByteArray>& pieces : Cuts(c.body))
            ASSERT_EQ(Streamed(c.contentType, pieces), whole) << pieces.size() << " pieces";
    }
}

TEST(StreamedDecodingTest, BodiesWhoseSetTheyNameThemselvesAreDecodedWhole)
{
    for (const QByteArray& contentType :
         {QByteArray("application/xml"), QByteArray("image/svg+xml; charset=utf-8"),
          QByteArray(""), QByteArray("application/octet-stream"),
          QByteArray("text/html; charset=UTF-16"), QByteArray("text/html; charset=Shift_JIS")}) {
        SCOPED_TRACE(contentType.toStdString());
        EXPECT_FALSE(BodyTextStream::For(contentType).has_value());
    }
}

QStringList Customer(const QString& id, const QString& last, const QString& act = u"1"_s)
{
    QStringList fields(21, u"f"_s);
    fields[0] = id;
    fields[1] = last;
    fields[3] = u"  Caf\u00e9 Ltd "_s;
    fields[20] = act;
    return fields;
}

// The dump of a row that Customer() made, with its fields as stored.
std::string DumpedCustomer(const std::string& id, const std::string& last, const std::string& act)
{
    std::string row = id + '\t' + last + "\tf\t  Caf\xC3\xA9 Ltd ";
    for (int field = 4; field < 20; ++field)
        row += "\tf";
    return row + '\t' + act + '\n';
}

QStringList Call(const QString& id, const QString& customer, const QString& note)
{
    return {id, customer, u"Incoming"_s, u"Anna"_s, u"2012-01-15"_s, u"10:30:00"_s, note};
}

// What a parse gives: the table's dump, or the error it raises and where.
template <typename Builder>
std::string Outcome(Builder& builder)
{
    std::string out;
    try {
        out = "count " + std::to_string(builder.count()) + "\n";
    } catch (const TilloraError& e) {
        return "count error: " + e.message().toStdString();
    }
    try {
        return out + DumpTable(builder.take()).toStdString();
    } catch (const TilloraError& e) {
        return out + "error: " + e.message().toStdString();
    }
}

template <typename Builder>
std::string WholeOutcome(const QString& text)
{
    Builder builder;
    builder.begin(text.size());
    builder.feed(text);
    return Outcome(builder);
}

template <typename Builder>
std::string StreamedOutcome(const std::vector<QByteArray>& pieces, std::int64_t announced)
{
    Builder builder;
    builder.begin(announced);
    std::optional<BodyTextStream> stream = BodyTextStream::For("text/html; charset=UTF-8");
    for (const QByteArray& piece : pieces)
        stream->feed(piece, builder);
    stream->finish(builder);
    return Outcome(builder);
}

// The raw bytes themselves, cut by the builder before it decodes them.
template <typename Builder>
std::string ByteOutcome(const std::vector<QByteArray>& pieces, std::int64_t announced,
                        AnswerSink::ByteText set)
{
    Builder builder;
    EXPECT_TRUE(builder.beginBytes(announced, set));
    for (const QByteArray& piece : pieces)
        builder.takeBytes(piece);
    return Outcome(builder);
}

template <typename Builder>
void ExpectSameOutcomeWhereverCut(const QString& text)
{
    const std::string whole = WholeOutcome<Builder>(text);
    const QByteArray bytes = text.toUtf8();
    for (const std::vector<QByteArray>& pieces : Cuts(bytes)) {
        // With the length announced, and without (a chunked answer); decoded
        // first, and cut first.
        ASSERT_EQ(StreamedOutcome<Builder>(pieces, bytes.size()), whole) << pieces.size() << " pieces";
        ASSERT_EQ(StreamedOutcome<Builder>(pieces, -1), whole) << pieces.size() << " pieces";
        ASSERT_EQ(ByteOutcome<Builder>(pieces, bytes.size(), AnswerSink::ByteText::Utf8), whole)
            << pieces.size() << " pieces";
        ASSERT_EQ(ByteOutcome<Builder>(pieces, -1, AnswerSink::ByteText::Utf8), whole)
            << pieces.size() << " pieces";
    }
    const QByteArray latin1 = text.toLatin1();
    if (QString::fromLatin1(latin1) == text) {
        for (const std::vector<QByteArray>& pieces : Cuts(latin1))
            ASSERT_EQ(ByteOutcome<Builder>(pieces, latin1.size(), AnswerSink::ByteText::Latin1), whole)
                << pieces.size() << " Latin-1 pieces";
    }
}

// Bodies that are not valid UTF-8 everywhere: the records they touch are
// decoded whole, and come out as the whole body decoded.
TEST(StreamedListTest, BrokenUtf8ComesOutAsTheWholeBodyDecoded)
{
    const struct
    {
        const char* name;
        QByteArray body;
    } cases[] = {
        {"a broken sequence in a name", "1<br>7\xC2\xA9Sm\xE2\x82th\xC2\xA9" + QByteArray(19 * 2, 'x') + "\xC2\xAE"},
        {"a lead byte before a terminator", "1<br>7\xC2\xA9\xE2\xC2\xA9" "f\xC2\xA9\xC2\xAE"},
        {"a lone C2 inside a field", "2<br>1\xC2\xA9" "a\xC2" "b\xC2\xA9\xC2\xAE" "2\xC2\xA9\xC2\xAE"},
        {"a byte order mark, and one later", "\xEF\xBB\xBF" "1<br>\xEF\xBB\xBF" "5\xC2\xA9\xEF\xBB\xBFx\xC2\xA9\xC2\xAE"},
        {"a broken count", "1\xE2\x82<br>1\xC2\xA9\xC2\xAE"},
        {"letters and signs", "1<br>9\xC2\xA9" "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x9E\xC2\xA9\xC3\xAE\xC2\xAE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString text = DecodeResponseBody(c.body, "text/html; charset=UTF-8");
        for (const auto& outcome : {WholeOutcome<TCustomerTable::Builder>(text)}) {
            for (const std::vector<QByteArray>& pieces : Cuts(c.body)) {
                ASSERT_EQ(ByteOutcome<TCustomerTable::Builder>(pieces, c.body.size(),
                                                               AnswerSink::ByteText::Utf8),
                          outcome)
                    << pieces.size() << " pieces";
            }
        }
        const std::string calls = WholeOutcome<TCallTable::Builder>(text);
        for (const std::vector<QByteArray>& pieces : Cuts(c.body))
            ASSERT_EQ(ByteOutcome<TCallTable::Builder>(pieces, -1, AnswerSink::ByteText::Utf8), calls)
                << pieces.size() << " pieces";
    }
}

TEST(StreamedListTest, CustomerListsComeOutAsFromTheWholeText)
{
    const QString two = ListRecord(Customer(u" 7 "_s, u"S\u00e9n"_s, u"-1"_s)) + u"\r\n  "_s +
                        ListRecord(Customer(u"8"_s, u"Jones"_s));
    // The status is trimmed at both ends, of tabs and line breaks too, which
    // the integer conversion itself would not skip.
    const QString blankStatus = u"2<br>"_s + ListRecord(Customer(u"9"_s, u"Blank"_s, u" -1 "_s)) +
                                ListRecord(Customer(u"10"_s, u"Tab"_s, u"\t0\r\n"_s));
    const struct
    {
        const char* name;
        QString text;
    } cases[] = {
        {"two records", u"2<br>"_s + two},
        {"text after the last record is ignored", u"1<br>"_s + two + u"junk"_s},
        {"no records", u"0<br>"_s},
        {"a count that is not a number", u"two<br>"_s + two},
        {"no end of the count", u"2"_s + two},
        {"an empty answer", QString()},
        {"a negative count", u"-2<br>"_s + two},
        {"fewer records than announced", u"3<br>"_s + two},
        {"a record that cannot be read", u"2<br>"_s + ListRecord(Customer(u"9"_s, u"A"_s)) +
                                             ListRecord(Customer(u"x9"_s, u"B"_s))},
        {"blanks before the count", u"\r\n2<br>"_s + two},
        {"blanks around the status", blankStatus},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectSameOutcomeWhereverCut<TCustomerTable::Builder>(c.text);
    }
    // The outcomes themselves, so that the comparison above is not of two
    // equally wrong things.
    EXPECT_EQ(WholeOutcome<TCustomerTable::Builder>(u"2<br>"_s + two),
              "count 2\n2\n" + DumpedCustomer("7", "S\xC3\xA9n", "-1") +
                  DumpedCustomer("8", "Jones", "1"));
    EXPECT_EQ(WholeOutcome<TCustomerTable::Builder>(blankStatus),
              "count 2\n2\n" + DumpedCustomer("9", "Blank", "-1") +
                  DumpedCustomer("10", "Tab", "0"));
    EXPECT_EQ(WholeOutcome<TCustomerTable::Builder>(u"3<br>"_s + two),
              "count 3\nerror: '''' is not a valid integer value");
    EXPECT_EQ(WholeOutcome<TCustomerTable::Builder>(u"2"_s + two),
              "count error: '''' is not a valid integer value");
}

TEST(StreamedListTest, CallListsComeOutAsFromTheWholeText)
{
    const QString two = ListRecord(Call(u"1"_s, u"7"_s, u"Printer \u00e9\r\nfixed"_s)) +
                        u"\r\n"_s + ListRecord(Call(u" 2"_s, u"8 "_s, u"  Left a message."_s));
    const struct
    {
        const char* name;
        QString text;
    } cases[] = {
        {"two records after blanks", u" \r\n2<br>"_s + two + u"\r\n"_s},
        {"a negative count", u"-1<br>"_s + two},
        {"fewer records than announced", u"5<br>"_s + two},
        {"a bad customer number", u"1<br>"_s + ListRecord(Call(u"1"_s, u"seven"_s, u"x"_s))},
        // Its last field has no terminator: taken as empty, as are the
        // fields of the rest, which is cut as the next record.
        {"a record terminator inside the text",
         u"2<br>"_s + ListRecord(Call(u"1"_s, u"2"_s, u"A \u00ae B"_s))},
        {"a record with fewer fields than a call", u"1<br>1\u00a92\u00a9Incoming\u00ae"_s},
        {"only blanks", u"  \r\n "_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectSameOutcomeWhereverCut<TCallTable::Builder>(c.text);
    }
}

// Records longer than the pieces they arrive in, and than the steps in which
// a waiting record is completed: every piece size from one byte up.
TEST(StreamedListTest, LongRecordsComeOutAsFromTheWholeTextInPiecesOfAnySize)
{
    const QString longText = QString(3000, u'a') + u"\u00e9 \u20ac"_s + QString(2500, u'b');
    const QString calls = u"3<br>"_s + ListRecord(Call(u"1"_s, u"7"_s, u"short"_s)) +
                          ListRecord(Call(u"2"_s, u"7"_s, longText)) +
                          ListRecord(Call(u"3"_s, u"8"_s, QString(5000, u'c')));
    const QString customers = u"2<br>"_s + ListRecord(Customer(u"1"_s, QString(4000, u'L'))) +
                              ListRecord(Customer(u"2"_s, u"Jones"_s));
    const auto piecesOf = [](const QByteArray& bytes, qsizetype size) {
        std::vector<QByteArray> pieces;
        for (qsizetype at = 0; at < bytes.size(); at += size)
            pieces.push_back(bytes.sliced(at, std::min(size, bytes.size() - at)));
        return pieces;
    };
    const std::string wholeCalls = WholeOutcome<TCallTable::Builder>(calls);
    const std::string wholeCustomers = WholeOutcome<TCustomerTable::Builder>(customers);
    ASSERT_NE(wholeCalls.find(longText.toStdString()), std::string::npos);
    for (const qsizetype size : {1, 2, 3, 15, 16, 17, 100, 1023, 1024, 1025, 4096, 100000}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(ByteOutcome<TCallTable::Builder>(piecesOf(calls.toUtf8(), size), -1,
                                                   AnswerSink::ByteText::Utf8),
                  wholeCalls);
        EXPECT_EQ(ByteOutcome<TCustomerTable::Builder>(piecesOf(customers.toUtf8(), size), -1,
                                                       AnswerSink::ByteText::Utf8),
                  wholeCustomers);
        EXPECT_EQ(ByteOutcome<TCustomerTable::Builder>(piecesOf(customers.toLatin1(), size), -1,
                                                       AnswerSink::ByteText::Latin1),
                  wholeCustomers);
    }
}

// Cut on a second thread while the pieces keep coming: the same table, and
// the same error, as from the whole text.
TEST(StreamedListTest, ListsCutOnASecondThreadComeOutAsFromTheWholeText)
{
    QString good = u"3000<br>"_s;
    for (int row = 0; row < 3000; ++row)
        good += ListRecord(Customer(QString::number(row), row % 7 ? u"Jones"_s : u"S\u00e9n"_s));
    const QString bad = u"2<br>"_s + ListRecord(Customer(u"1"_s, u"A"_s)) +
                        ListRecord(Customer(u"x2"_s, u"B"_s));
    for (const QString& text : {good, bad}) {
        const QByteArray bytes = text.toUtf8();
        for (const qsizetype piece : {qsizetype(7), qsizetype(16 * 1024)}) {
            SCOPED_TRACE(piece);
            TCustomerTable::Builder builder;
            std::string outcome;
            {
                BackgroundSink sink(builder);
                ASSERT_TRUE(sink.beginBytes(bytes.size(), AnswerSink::ByteText::Utf8));
                for (qsizetype at = 0; at < bytes.size(); at += piece)
                    sink.takeBytes(QByteArrayView(bytes).sliced(at, std::min(piece, bytes.size() - at)));
                sink.finish();
                outcome = Outcome(builder);
            }
            EXPECT_EQ(outcome, WholeOutcome<TCustomerTable::Builder>(text));
        }
    }
}

// An announced length is no promise: memory is taken for the text that
// arrives, however much more was announced.
TEST(StreamedListTest, AHugeAnnouncedLengthTakesMemoryOnlyForWhatArrives)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer holds address space of its own";
#else
    const QString record = ListRecord(Customer(u"7"_s, u"Smith"_s));
    const struct
    {
        const char* name;
        QByteArray body;
        std::string outcome;
    } cases[] = {
        {"one record", (u"1<br>"_s + record).toUtf8(),
         "count 1\n1\n" + DumpedCustomer("7", "Smith", "1")},
        {"the largest count", (u"2147483647<br>"_s + record).toUtf8(),
         "count 2147483647\nerror: '''' is not a valid integer value"},
    };
    // A fresh process whose address space ends far below what the
    // announced length would take as text.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (!address_space::AllowOnly(std::int64_t(1) << 30))
                std::_Exit(3);
            const std::int64_t announced = 2'000'000'000;
            bool expected = true;
            const auto check = [&](const char* name, const char* path, const std::string& outcome,
                                   const std::string& wanted) {
                if (outcome == wanted)
                    return;
                std::fprintf(stderr, "%s, %s: %s\n", name, path, outcome.c_str());
                expected = false;
            };
            for (const auto& c : cases) {
                check(c.name, "decoded",
                      StreamedOutcome<TCustomerTable::Builder>({c.body}, announced), c.outcome);
                check(c.name, "cut as bytes",
                      ByteOutcome<TCustomerTable::Builder>({c.body}, announced,
                                                           AnswerSink::ByteText::Utf8),
                      c.outcome);
            }
            std::_Exit(expected ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
#endif
}

TEST(StreamedListTest, ATableReplacedByOneOfItsSizeLendsItsBuffersToTheNext)
{
    // Large enough for the buffers to be kept when the table is replaced.
    QString text = u"20000<br>"_s;
    for (int i = 0; i < 20000; ++i)
        text += ListRecord(Customer(QString::number(i), u"Name "_s + QString::number(i)));
    TCustomerTable current = TCustomerTable::Parse(text);
    for (int round = 0; round < 3; ++round) {
        TCustomerTable next = TCustomerTable::Parse(text);
        current = std::move(next);
        ASSERT_EQ(DumpTable(current), DumpTable(TCustomerTable::Parse(text)));
    }
    EXPECT_EQ(current.CustomerCount(), 20000);
    EXPECT_EQ(current.LN(19999), u"Name 19999"_s);
}

} // namespace

// Through the client: a list answer in pieces cut inside a character, into
// a table, and answers that are not lists.
namespace {

using namespace scripted;

QString At(const ScriptedServer& server)
{
    return u"http://127.0.0.1:%1/manage/datapile.php"_s.arg(server.port());
}

TEST(HttpClientSinkTest, AListArrivingInPiecesIsCutIntoATable)
{
    const QString text = u"2<br>"_s + ListRecord(Customer(u"1"_s, u"M\u00fcller"_s)) +
                         ListRecord(Customer(u"2"_s, u"\u00c9mile"_s));
    const QByteArray body = text.toUtf8();
    const qsizetype inside = body.indexOf("\xC3\xBC") + 1; // between the two bytes of "ü"
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\n"
                             "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    ScriptedServer server({Exchange{{Piece{0, head + body.first(inside).toStdString()},
                                     Piece{300, body.sliced(inside).toStdString()}},
                                    Ending::Close}});
    HttpClient client;
    std::vector<std::int64_t> reached;
    client.OnWork = [&](TransferDirection d, std::int64_t n) {
        if (d == TransferDirection::Receive)
            reached.push_back(n);
    };
    TCustomerTable::Builder builder;
    client.Post(At(server), {}, builder);
    EXPECT_EQ(builder.count(), 2);
    const TCustomerTable table = builder.take();
    EXPECT_EQ(DumpTable(table), DumpTable(TCustomerTable::Parse(text)));
    EXPECT_EQ(table.LN(0), u"M\u00fcller"_s);
    // Progress still follows the bytes as they are taken.
    EXPECT_EQ(reached, (std::vector<std::int64_t>{inside, body.size()}));
}

TEST(HttpClientSinkTest, OtherAnswersKeepTheirWholeBodyBehaviour)
{
    const QString text = u"1<br>"_s + ListRecord(Customer(u"5"_s, u"G\u00f6del"_s));
    {
        SCOPED_TRACE("the set named by a meta element of an HTML body");
        const QByteArray body =
            "<html><head><meta charset=\"utf-8\"></head></html>" + text.toUtf8();
        ScriptedServer server({Answer("HTTP/1.1 200 OK", {}, body.toStdString())});
        HttpClient client;
        TCustomerTable::Builder builder;
        client.Post(At(server), {}, builder);
        EXPECT_THROW(builder.count(), ConversionError); // the markup is before the count
        TextSink sink;
        ScriptedServer again({Answer("HTTP/1.1 200 OK", {}, body.toStdString())});
        client.Post(At(again), {}, sink);
        EXPECT_EQ(sink.text, DecodeResponseBody(body, {}));
        EXPECT_TRUE(sink.text.endsWith(text));
    }
    {
        SCOPED_TRACE("a failed answer reaches no sink");
        ScriptedServer server({Answer("HTTP/1.1 500 Internal Server Error",
                                      {"Content-Type: text/html; charset=UTF-8"}, "Fehler \xC3\xA4")});
        HttpClient client;
        TextSink sink;
        try {
            client.Post(At(server), {}, sink);
            ADD_FAILURE() << "no error";
        } catch (const HttpStatusError& e) {
            EXPECT_EQ(e.body(), u"Fehler \u00e4"_s);
        }
        EXPECT_EQ(sink.begun, 0);
        EXPECT_TRUE(sink.text.isEmpty());
    }
}

} // namespace
