// The reference server against hostile and malformed requests. The wire
// cases use raw sockets, so every byte the server sees is the test's own.

#include "raw_connection.h"
#include "server_fixture.h"

#include <QByteArray>
#include <QUrl>


#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace refserver_test;

using ReferenceServerLimitsTest = EngineTest;
using ReferenceServerFieldsTest = EngineTest;
using ReferenceServerCrossSiteTest = EngineTest;
using ReferenceServerScriptsTest = EngineTest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t OneMiB = 1 << 20;

RawAnswer Exchange(int port, std::string_view request, std::chrono::milliseconds wait = 10s)
{
    RawConnection connection(port);
    connection.send(request);
    return ParseAnswer(connection.receive(wait));
}

// A POST of `body` with the form type and its length, plus `headers`.
std::string FormRequest(std::string_view target, std::string_view body,
                        std::string_view headers = {})
{
    std::string request = "POST " + std::string(target) +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                          "Content-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: " +
                          std::to_string(body.size()) + "\r\n";
    request += headers;
    request += "\r\n";
    request += body;
    return request;
}

std::string Chunk(std::string_view data)
{
    char size[20];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + std::string(data) + "\r\n";
}

std::string CallBody(const QString& id, std::string_view note)
{
    return "ID=" + id.toStdString() +
           "&direction=Incoming&Handler=Anna&textarea=" + std::string(note);
}

TEST_P(ReferenceServerLimitsTest, FormBodiesUpTo1MiBAreSaved)
{
    ServerFixture server;
    HttpClient client;
    const QString id = AddCustomer(client, server, u"Long"_s);
    const QString address = server.address(u"/manage/savecall.php");
    // The client joins the four fields with "&"; letters need no escapes.
    const QString prefix = u"ID="_s + id + u"&direction=Incoming&Handler=Anna&textarea="_s;

    const struct
    {
        const char* what;
        QString note;
    } notes[] = {
        {"a long note with line breaks",
         u"Customer called about the receipt printer.\r\n"_s.repeated(182)},
        {"accented letters", QString(1400, u'é')},
        {"a body of exactly 1 MiB", QString(qsizetype(OneMiB) - prefix.size(), u'x')},
    };
    int saved = 0;
    for (const auto& n : notes) {
        SCOPED_TRACE(n.what);
        const Answer answer = PostFor(
            client, address,
            {u"ID="_s + id, u"direction=Incoming"_s, u"Handler=Anna"_s, u"textarea="_s + n.note});
        EXPECT_EQ(answer.status, 200) << answer.text.toStdString();
        const TCallTable calls = LoadCalls(client, server);
        if (calls.CallCount() == saved + 1) {
            EXPECT_EQ(calls.CallText(saved), n.note);
        }
        saved = calls.CallCount();
    }
    EXPECT_EQ(saved, 3);
}

TEST_P(ReferenceServerLimitsTest, OverLimitBodiesAreRefusedHoweverTheyArrive)
{
    ServerFixture server;
    HttpClient client;
    const QString id = AddCustomer(client, server, u"Limit"_s);
    const std::string tooLarge =
        "Error: the request body is larger than the limit of 1 MiB (1048576 bytes).";
    const QString prefix = u"ID="_s + id + u"&direction=Incoming&Handler=Anna&textarea="_s;

    // One byte over, announced by its length.
    const Answer over =
        PostFor(client, server.address(u"/manage/savecall.php"),
                {u"ID="_s + id, u"direction=Incoming"_s, u"Handler=Anna"_s,
                 u"textarea="_s + QString(qsizetype(OneMiB) - prefix.size() + 1, u'x')});
    EXPECT_EQ(over.status, 413);
    EXPECT_EQ(over.text.toStdString(), tooLarge);

    // An announced length far beyond the limit is refused before any of the
    // body is read, and without inviting it with "100 Continue".
    for (const std::string expect : {"", "Expect: 100-continue\r\n"}) {
        SCOPED_TRACE(expect);
        RawConnection connection(server.port());
        const std::string head = FormRequest("/manage/savecall.php", "");
        connection.send(head.substr(0, head.find("Content-Length")) + expect +
                        "Content-Length: 10737418240\r\n\r\n");
        const RawAnswer answer = ParseAnswer(connection.receive(3s));
        EXPECT_EQ(answer.status, 413);
        EXPECT_EQ(answer.body, tooLarge);
    }

    // A chunked body is counted as it arrives: the server stops reading soon
    // after the limit instead of taking all 128 MiB.
    {
        RawConnection connection(server.port());
        connection.send("POST /manage/savecall.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                        "Connection: close\r\n"
                        "Content-Type: application/x-www-form-urlencoded\r\n"
                        "Transfer-Encoding: chunked\r\n\r\n" +
                        Chunk(CallBody(id, "")));
        std::atomic<std::size_t> sent{0};
        std::thread sender([&] {
            const std::string piece = Chunk(std::string(65536, 'x'));
            while (sent < 128 * OneMiB && connection.send(piece))
                sent += piece.size();
        });
        const RawAnswer answer = ParseAnswer(connection.receive(20s));
        sender.join();
        EXPECT_EQ(answer.status, 413);
        EXPECT_EQ(answer.body, tooLarge);
        EXPECT_LT(sent.load(), 32 * OneMiB);
    }
    EXPECT_EQ(LoadCalls(client, server).CallCount(), 0);
}

TEST_P(ReferenceServerLimitsTest, OnlyPlainFormBodiesAreRead)
{
    ServerFixture server;
    HttpClient client;
    const QString id = AddCustomer(client, server, u"Typed"_s);
    const std::string body = CallBody(id, "hello");
    // zlib data, which the gzip and deflate decoders both take.
    const QByteArray packed = qCompress(QByteArray::fromStdString(body)).mid(4);
    const std::string compressed(packed.constData(), std::size_t(packed.size()));
    const std::string form = "Content-Type: application/x-www-form-urlencoded\r\n";
    const std::string start =
        "POST /manage/savecall.php HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    const auto request = [&](std::string_view headers, std::string_view payload,
                             std::string length = {}) {
        if (length.empty())
            length = std::to_string(payload.size());
        return start + std::string(headers) + "Content-Length: " + length + "\r\n\r\n" +
               std::string(payload);
    };
    const auto chunked = [&](std::string_view headers, std::string_view payload,
                             std::string_view coding = "chunked") {
        return start + std::string(headers) + "Transfer-Encoding: " + std::string(coding) +
               "\r\n\r\n" + Chunk(payload) + "0\r\n\r\n";
    };
    const std::string notForm =
        "Error: the request body must be a form (application/x-www-form-urlencoded), not another "
        "type.";
    const std::string compressedText = "Error: the request body must not be compressed (it has a "
                                       "Content-Encoding other than identity).";

    const struct
    {
        const char* what;
        std::string request;
        int status;
        std::string text; // empty: not checked
    } cases[] = {
        {"chunked plain text", chunked("Content-Type: text/plain\r\n", body), 415, notForm},
        {"multipart", request("Content-Type: multipart/form-data; boundary=x\r\n", body), 415,
         notForm},
        {"a body without a type", request("", body), 415,
         "Error: the request body must be a form (application/x-www-form-urlencoded); it has "
         "no Content-Type."},
        {"gzip", request(form + "Content-Encoding: gzip\r\n", compressed), 415,
         compressedText},
        {"deflate behind identity",
         request(form + "Content-Encoding: identity\r\nContent-Encoding: deflate\r\n", compressed),
         415, compressedText},
        {"gzip under the transfer coding", chunked(form, compressed, "gzip, chunked"), 501,
         "Error: the transfer coding is not supported; send the body with a Content-Length or "
         "chunked."},
        {"a length that is not a number", request(form, body, "+" + std::to_string(body.size())),
         400, "Error: the Content-Length header is not a byte count."},
        {"two different lengths",
         request(form + "Content-Length: " + std::to_string(body.size() - 1) + "\r\n", body), 400,
         "Error: the request has conflicting Content-Length headers."},
        {"identity coding and a charset",
         request("Content-Type: Application/X-WWW-Form-Urlencoded; charset=UTF-8\r\n"
                 "Content-Encoding: identity\r\n",
                 body),
         200, ""},
        {"a chunked form", chunked(form, body), 200, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RawAnswer answer = Exchange(server.port(), c.request);
        EXPECT_EQ(answer.status, c.status) << answer.body;
        if (!c.text.empty()) {
            EXPECT_EQ(answer.body, c.text);
        }
    }
    EXPECT_EQ(LoadCalls(client, server).CallCount(), 2);
}

TEST_P(ReferenceServerLimitsTest, IncompleteBodiesAreRefused)
{
    ServerFixture server;
    HttpClient client;
    const QString id = AddCustomer(client, server, u"Partial"_s);
    const std::string body = CallBody(id, "note");
    const std::string chunkedHead =
        "POST /manage/savecall.php HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n";

    const struct
    {
        const char* what;
        std::string sent;
        bool thenClose; // the client ends its side after sending
    } cases[] = {
        {"a chunk size that is not a number", chunkedHead + "zz\r\n" + body + "\r\n0\r\n\r\n",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RawConnection connection(server.port());
        connection.send(c.sent);
        if (c.thenClose)
            connection.closeSending();
        const RawAnswer answer = ParseAnswer(connection.receive(10s));
        EXPECT_EQ(answer.status, 400);
        EXPECT_EQ(answer.body, "Error: the request body ended early or its chunks are malformed.");
    }
    EXPECT_EQ(LoadCalls(client, server).CallCount(), 0);
}

TEST_P(ReferenceServerScriptsTest, ScriptsAnswerOnlyPost)
{
    ServerFixture server;
    const struct
    {
        std::string method;
        std::string target;
    } cases[] = {
        {"GET", "/manage/datapile.php"},
        {"HEAD", "/manage/datapile.php"},
        {"PUT", "/manage/newguy.php"},
        {"DELETE", "/manage/modify.php"},
        {"OPTIONS", "/quickstats.php"},
        {"PATCH", "/manage/savecall.php"},
        {"GET", "/manage/dormantcontact.php?ID=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method + " " + c.target);
        const RawAnswer answer =
            Exchange(server.port(), c.method + " " + c.target +
                                        " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: "
                                        "close\r\nContent-Length: 4\r\n\r\nID=1");
        EXPECT_EQ(answer.status, 405);
        EXPECT_EQ(answer.header("Allow"), "POST");
        EXPECT_EQ(answer.body, c.method == "HEAD" ? std::string()
                                                  : "Error: the scripts answer POST requests only.");
    }
    const RawAnswer unknown =
        Exchange(server.port(), "GET /manage/nothing.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                "Connection: close\r\n\r\n");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(unknown.body, "Error: there is no such script on this server.");
}

TEST_P(ReferenceServerFieldsTest, ControlCharactersAndRepeatedFieldsAreRefused)
{
    ServerFixture server;
    HttpClient client;
    const QString id = AddCustomer(client, server, u"Keep"_s);
    const QString before = client.Post(server.address(u"/manage/datapile.php"), {});

    const auto customer = [&](int field, const QString& line) {
        QStringList fields = CustomerFields(id, u"Keep"_s, u"F"_s);
        fields[field] = line;
        return fields;
    };
    const auto call = [&](const QString& note) {
        return QStringList{u"ID="_s + id, u"direction=Incoming"_s, u"Handler=Anna"_s,
                           u"textarea="_s + note};
    };
    const QString onlyTabCrLf = u"; only tab, CR and LF are allowed."_s;
    const struct
    {
        const char* what;
        const char16_t* path;
        QStringList fields;
        QString text;
    } cases[] = {
        {"NUL in a name", u"/manage/modify.php", customer(1, u"txtLN=Ann\u0000e"_s),
         u"Error: The field \"txtLN\" holds the control character U+0000"_s + onlyTabCrLf},
        {"escape in an address", u"/manage/newguy.php", customer(4, u"txtAD=\u001B[2J"_s),
         u"Error: The field \"txtAD\" holds the control character U+001B"_s + onlyTabCrLf},
        {"DEL in a call note", u"/manage/savecall.php", call(u"a\u007Fb"_s),
         u"Error: The field \"textarea\" holds the control character U+007F"_s + onlyTabCrLf},
        {"C1 control in a call note", u"/manage/savecall.php", call(u"next\u0085line"_s),
         u"Error: The field \"textarea\" holds the control character U+0085"_s + onlyTabCrLf},
        {"control in a field name", u"/manage/savecall.php", call(u"x"_s) << u"a\u0001b=1"_s,
         u"Error: A field name holds the control character U+0001"_s + onlyTabCrLf},
        {"a repeated name", u"/manage/modify.php",
         CustomerFields(id, u"Keep"_s, u"F"_s) << u"txtLN=Other"_s,
         u"Error: The field \"txtLN\" appears more than once."_s},
        {"a repeated number", u"/manage/savecall.php", call(u"x"_s) << u"ID=1"_s,
         u"Error: The field \"ID\" appears more than once."_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Answer answer = PostFor(client, server.address(c.path), c.fields);
        EXPECT_EQ(answer.status, 400);
        EXPECT_EQ(answer.text, c.text);
    }
    EXPECT_EQ(client.Post(server.address(u"/manage/datapile.php"), {}), before);
    EXPECT_EQ(LoadCalls(client, server).CallCount(), 0);

    // Tab, CR and LF are text.
    EXPECT_EQ(PostFor(client, server.address(u"/manage/savecall.php"), call(u"a\tb\r\nc"_s)).status,
              200);
    EXPECT_EQ(LoadCalls(client, server).CallText(0), u"a\tb\r\nc");
}

TEST_P(ReferenceServerFieldsTest, DormantMoveTakesTheNumberFromTheQueryOnly)
{
    ServerFixture server;
    HttpClient client;
    const QString stays = AddCustomer(client, server, u"Stays"_s);
    const QString moves = AddCustomer(client, server, u"Moves"_s);
    const QString script = u"/manage/dormantcontact.php"_s;

    const Answer noQuery = PostFor(client, server.address(script), {u"ID="_s + stays});
    EXPECT_EQ(noQuery.status, 400);
    EXPECT_EQ(noQuery.text, u"Error: The customer number (?ID=) is missing.");
    const Answer twice =
        PostFor(client, server.address(script + u"?ID="_s + moves + u"&ID="_s + stays), {});
    EXPECT_EQ(twice.status, 400);
    EXPECT_EQ(twice.text, u"Error: The field \"ID\" appears more than once.");
    EXPECT_EQ(LoadDormant(client, server).CustomerCount(), 0);

    EXPECT_EQ(
        PostFor(client, server.address(script + u"?ID="_s + moves), {u"ID="_s + stays}).status,
        200);
    const TCustomerTable dormant = LoadDormant(client, server);
    ASSERT_EQ(dormant.CustomerCount(), 1);
    EXPECT_EQ(dormant.LN(0), u"Moves");
    const TCustomerTable active = LoadActive(client, server);
    ASSERT_EQ(active.CustomerCount(), 1);
    EXPECT_EQ(active.LN(0), u"Stays");
}

TEST_P(ReferenceServerFieldsTest, DatesNeedAFourDigitYear)
{
    ServerFixture server;
    HttpClient client;
    const struct
    {
        QString sent;
        QString stored; // empty: refused
    } cases[] = {
        {u"01/15/2024"_s, u"2024-01-15"_s},
        {u" 1/ 5/2024"_s, u"2024-01-05"_s},
        {u"  /  /    "_s, u"0000-00-00"_s},
        {u"01/15/  24"_s, {}},
        {u"01/15/24  "_s, {}},
        {u"01/15/ 024"_s, {}},
        {u"01/15/24"_s, {}},
        {u"01/15/20245"_s, {}},
    };
    int added = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent.toStdString());
        QStringList fields = CustomerFields(u"0"_s, u"Date"_s + QString::number(added), u"D"_s);
        fields[16] = u"txtBD="_s + c.sent;
        const Answer answer = PostFor(client, server.address(u"/manage/newguy.php"), fields);
        if (c.stored.isEmpty()) {
            EXPECT_EQ(answer.status, 400);
            EXPECT_EQ(answer.text,
                      u"Error: The field \"txtBD\" holds a date whose year is not four digits."_s);
            continue;
        }
        EXPECT_EQ(answer.status, 200) << answer.text.toStdString();
        const TCustomerTable table = LoadActive(client, server);
        ASSERT_EQ(table.CustomerCount(), added + 1);
        EXPECT_EQ(table.BD(added), c.stored);
        ++added;
    }
    EXPECT_EQ(LoadActive(client, server).CustomerCount(), 3);
}

// Requests a web page in a browser could send: the server does nothing for
// them, whatever the page names as the server.
TEST_P(ReferenceServerCrossSiteTest, PagesOfOtherSitesAndForeignHostNamesAreRefused)
{
    ServerFixture server;
    HttpClient client;
    const QString id = AddCustomer(client, server, u"Target"_s);
    const std::string move = "/manage/dormantcontact.php?ID=" + id.toStdString();
    const std::string port = std::to_string(server.port());

    const struct
    {
        const char* what;
        std::string headers; // besides Host, when Host is not among them
        std::string host;
        int status;
        std::string text;
    } cases[] = {
        {"a page's origin", "Origin: https://evil.example\r\n", "127.0.0.1", 403,
         "Error: requests from web pages are refused."},
        {"an origin of null", "Origin: null\r\n", "127.0.0.1", 403,
         "Error: requests from web pages are refused."},
        {"a cross-site fetch", "Sec-Fetch-Site: cross-site\r\n", "127.0.0.1", 403,
         "Error: requests from web pages are refused."},
        {"a same-site fetch", "Sec-Fetch-Site: same-site\r\n", "127.0.0.1", 403,
         "Error: requests from web pages are refused."},
        {"a rebound name", "", "evil.example:" + port, 421,
         "Error: this server does not answer for that host name."},
        {"a name ending like ours", "", "127.0.0.1.evil.example", 421,
         "Error: this server does not answer for that host name."},
        {"no host at all", "", "", 421, "Error: this server does not answer for that host name."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string host = c.host.empty() ? "" : "Host: " + c.host + "\r\n";
        const RawAnswer answer = Exchange(
            server.port(), "POST " + move + " HTTP/1.1\r\n" + host + c.headers +
                               "Connection: close\r\nContent-Length: 0\r\n\r\n");
        EXPECT_EQ(answer.status, c.status) << answer.head;
        EXPECT_EQ(answer.body, c.text);
    }
    EXPECT_EQ(LoadDormant(client, server).CustomerCount(), 0) << "nothing was moved";

    // Our own clients, and a browser's address bar, name no other site.
    for (const std::string& allowed : {"Host: localhost:" + port + "\r\n",
                                      std::string("Host: 127.0.0.1\r\nSec-Fetch-Site: none\r\n"),
                                      "Host: [::1]:" + port + "\r\n"}) {
        SCOPED_TRACE(allowed);
        const RawAnswer answer =
            Exchange(server.port(), "POST /quickstats.php HTTP/1.1\r\n" + allowed +
                                        "Connection: close\r\nContent-Length: 0\r\n\r\n");
        EXPECT_EQ(answer.status, 200) << answer.head;
    }
}

// Submitted text never comes back: an answer is HTML by its type, so an echo
// would run a submitted script in the browser of whoever opened it.
TEST_P(ReferenceServerCrossSiteTest, AnswersNeverCarrySubmittedTextAndAlwaysCarryTheSafetyHeaders)
{
    ServerFixture server;
    HttpClient client;
    const QString id = AddCustomer(client, server, u"Echo"_s);
    const std::string script = "<script>alert(1)</script>";
    const std::string escaped = "%3Cscript%3Ealert(1)%3C%2Fscript%3E";
    const auto customer = [&](int field, const std::string& value) {
        QStringList fields = CustomerFields(id, u"Echo"_s, u"F"_s);
        const QString line = fields[field];
        fields[field] = line.left(line.indexOf(u'=') + 1);
        std::string body;
        for (const QString& f : fields)
            body += (body.empty() ? "" : "&") +
                    (f == fields[field] ? f.toStdString() + value
                                        : QUrl::toPercentEncoding(f, "=").toStdString());
        return body;
    };
    const struct
    {
        const char* what;
        std::string request;
    } cases[] = {
        {"a number", FormRequest("/manage/modify.php", customer(0, escaped))},
        {"a number in the query",
         FormRequest("/manage/dormantcontact.php?ID=" + escaped, "")},
        {"a date", FormRequest("/manage/modify.php", customer(16, escaped))},
        {"the status", FormRequest("/manage/modify.php", customer(20, escaped))},
        {"a field name, twice",
         FormRequest("/manage/savecall.php", CallBody(id, "x") + "&" + escaped + "=1&" + escaped + "=1")},
        {"a field name with a control character",
         FormRequest("/manage/savecall.php", CallBody(id, "x") + "&" + escaped + "%01=1")},
        {"the body's type",
         "POST /manage/savecall.php HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
         "Content-Type: text/" + script + "\r\nContent-Length: 3\r\n\r\nx=1"},
        {"the body's coding",
         FormRequest("/manage/savecall.php", "x=1", "Content-Encoding: " + script + "\r\n")},
        {"the length", "POST /manage/savecall.php HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: "
                       "close\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                       "Content-Length: 3\r\nContent-Length: " + script + "\r\n\r\nx=1"},
        {"the path", FormRequest("/" + escaped, "")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RawAnswer answer = Exchange(server.port(), c.request);
        EXPECT_GE(answer.status, 400) << answer.head;
        EXPECT_TRUE(answer.body.starts_with("Error: ")) << answer.body;
        for (const std::string_view piece : {"<script", "script>", "alert", "%3C"})
            EXPECT_EQ(answer.body.find(piece), std::string::npos) << answer.body;
    }

    const RawAnswer refused = Exchange(server.port(), FormRequest("/" + escaped, ""));
    const RawAnswer served = Exchange(server.port(), FormRequest("/quickstats.php", ""));
    for (const RawAnswer* answer : {&refused, &served}) {
        SCOPED_TRACE(answer->status);
        EXPECT_EQ(answer->header("X-Content-Type-Options"), "nosniff");
        EXPECT_EQ(answer->header("Content-Security-Policy"), "sandbox; default-src 'none'");
        EXPECT_EQ(answer->header("Referrer-Policy"), "no-referrer");
    }
}

TEST_P(ReferenceServerFieldsTest, BodiesOfManyFieldsAreRefusedBeforeDecoding)
{
    ServerFixture server;
    HttpClient client;
    const QString id = AddCustomer(client, server, u"Many"_s);
    const std::string tooMany = "Error: The form body has more than 64 fields.";
    const struct
    {
        const char* what;
        std::string body;
        int status;
    } cases[] = {
        {"a megabyte of separators", std::string(OneMiB - 1, '&'), 400},
        {"64 separators", CallBody(id, "x") + std::string(61, '&'), 400},
        {"63 separators: 64 fields, refused only for their empty names",
         CallBody(id, "x") + std::string(60, '&'), 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RawAnswer answer = Exchange(server.port(), FormRequest("/manage/savecall.php", c.body));
        if (c.status == 400) {
            EXPECT_EQ(answer.status, 400);
            EXPECT_EQ(answer.body, tooMany);
        } else {
            EXPECT_NE(answer.body, tooMany);
        }
    }
}

// An error of the server's own says no more than that: the SQL and the file
// names go to the log.
TEST_P(ReferenceServerScriptsTest, AFailingScriptAnswersAFixedText)
{
    ServerFixture server;
    HttpClient client;
    AddCustomer(client, server, u"Broken"_s);
    ExecBehindTheServer(server.dbPath(), "DROP TABLE calls");

    const Answer answer = PostFor(client, server.address(u"/manage/callpile.php"), {});
    EXPECT_EQ(answer.status, 500);
    EXPECT_EQ(answer.text, u"Error: the server could not complete the request.");
}

TILLORA_ON_BOTH_ENGINES(ReferenceServerLimitsTest);
TILLORA_ON_BOTH_ENGINES(ReferenceServerFieldsTest);
TILLORA_ON_BOTH_ENGINES(ReferenceServerCrossSiteTest);
TILLORA_ON_BOTH_ENGINES(ReferenceServerScriptsTest);

} // namespace
