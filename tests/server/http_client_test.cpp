#include "http_client.h"
#include "scripted_server.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

using namespace scripted;
using namespace Qt::Literals::StringLiterals;

namespace {

QString At(const ScriptedServer& server, std::string_view path = "/")
{
    return QString::fromStdString(server.address(path));
}

// Runs `post` and returns the error of type E it raised, failing the test if
// it raised nothing or something else.
template <typename E, typename F> std::optional<E> Raised(F&& post)
{
    try {
        post();
        ADD_FAILURE() << "no error raised";
    } catch (const E& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "another error raised: " << e.what();
    }
    return std::nullopt;
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::size_t CountHeader(const RecordedRequest& request, std::string_view name)
{
    return request.headerValues(name).size();
}

// "a=1; b=2" -> {a: 1, b: 2}
std::map<std::string, std::string> CookiesOf(const RecordedRequest& request)
{
    std::map<std::string, std::string> cookies;
    for (const std::string& header : request.headerValues("Cookie")) {
        for (const QString& part : QString::fromStdString(header).split(u';', Qt::SkipEmptyParts)) {
            const QString pair = part.trimmed();
            const qsizetype eq = pair.indexOf(u'=');
            cookies[pair.left(eq).toStdString()] =
                eq < 0 ? std::string() : pair.mid(eq + 1).toStdString();
        }
    }
    return cookies;
}

std::string BasicCredentials(const char* user, const char* password)
{
    return "Basic " + (QByteArray(user) + ':' + password).toBase64().toStdString();
}

const char* Name(TransferDirection direction)
{
    return direction == TransferDirection::Send ? "send" : "receive";
}

// Every transfer event in the order raised, as "begin send 7", "work send 7",
// "end send", ...
struct EventLog
{
    std::vector<std::string> events;

    explicit EventLog(HttpClient& client)
    {
        client.OnWorkBegin = [this](TransferDirection d, std::int64_t n) {
            events.push_back(std::string("begin ") + Name(d) + ' ' + std::to_string(n));
        };
        client.OnWork = [this](TransferDirection d, std::int64_t n) {
            events.push_back(std::string("work ") + Name(d) + ' ' + std::to_string(n));
        };
        client.OnWorkEnd = [this](TransferDirection d) {
            events.push_back(std::string("end ") + Name(d));
        };
    }

    std::vector<std::string> of(TransferDirection d) const
    {
        const std::string suffix = std::string(" ") + Name(d);
        std::vector<std::string> out;
        for (const std::string& e : events)
            if (e.find(suffix) != std::string::npos)
                out.push_back(e);
        return out;
    }

    std::vector<std::int64_t> work(TransferDirection d) const
    {
        const std::string prefix = std::string("work ") + Name(d) + ' ';
        std::vector<std::int64_t> out;
        for (const std::string& e : events)
            if (e.rfind(prefix, 0) == 0)
                out.push_back(std::stoll(e.substr(prefix.size())));
        return out;
    }
};

} // namespace

// ---------------------------------------------------------------------------
// The request on the wire

TEST(HttpClientRequestTest, PostsTheEncodedFormWithItsHeaders)
{
    ScriptedServer server({Answer("HTTP/1.1 200 OK", {"Content-Type: text/plain"}, "ok")});
    HttpClient client(u"anna"_s, u"secret"_s);
    const QString answer =
        client.Post(At(server, "/scripts/find.php?id=7&x=a%20b"),
                    {u"name=O'Brien & Co"_s, QString::fromUtf16(u"city=Z\u00fcrich"),
                     u"note=50%+1=2"_s, u"flag"_s});
    EXPECT_EQ(answer, u"ok"_s);

    const auto requests = server.waitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    const RecordedRequest& r = requests[0];
    ASSERT_TRUE(r.complete) << r.raw;
    const std::string body = "name=O%27Brien+%26+Co&city=Z%C3%BCrich&note=50%25%2B1%3D2&flag";
    EXPECT_EQ(r.requestLine(), "POST /scripts/find.php?id=7&x=a%20b HTTP/1.0");
    EXPECT_EQ(r.body(), body);

    const std::pair<const char*, std::string> expected[] = {
        {"Connection", "keep-alive"},
        {"Content-Type", "application/x-www-form-urlencoded"},
        {"Content-Length", std::to_string(body.size())},
        {"Host", "127.0.0.1:" + std::to_string(server.port())},
        {"Accept", "text/html, */*"},
        {"User-Agent", "Mozilla/3.0 (compatible; Indy Library)"},
        {"Accept-Encoding", "identity"},
    };
    for (const auto& [name, value] : expected) {
        SCOPED_TRACE(name);
        EXPECT_EQ(CountHeader(r, name), 1u);
        EXPECT_EQ(r.header(name), value);
    }
    // Nothing the server has not asked for yet.
    for (const char* absent : {"Expect", "Authorization", "Cookie", "Transfer-Encoding"}) {
        EXPECT_EQ(CountHeader(r, absent), 0u) << absent;
    }
    EXPECT_EQ(server.strayBytes(), "");
}

TEST(HttpClientRequestTest, AnEmptyFieldListPostsAnEmptyForm)
{
    ScriptedServer server({Answer("HTTP/1.1 200 OK", {}, "done")});
    HttpClient client;
    EXPECT_EQ(client.Post(At(server, "/empty"), {}), u"done"_s);

    const auto requests = server.waitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine(), "POST /empty HTTP/1.0");
    EXPECT_EQ(requests[0].header("Content-Length"), "0");
    EXPECT_EQ(requests[0].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0].body(), "");
}

TEST(HttpClientRequestTest, ALargeFormArrivesWholeWithoutExpect)
{
    // Big enough that a client speaking HTTP/1.1 would ask for 100-continue.
    const QString value(1500 * 1024, u'x');
    ScriptedServer server({Answer("HTTP/1.1 200 OK", {}, "stored")});
    HttpClient client;
    EXPECT_EQ(client.Post(At(server, "/upload"), {u"data="_s + value}), u"stored"_s);

    const auto requests = server.waitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].complete);
    EXPECT_EQ(requests[0].header("Content-Length"), std::to_string(5 + value.size()));
    EXPECT_EQ(requests[0].body(), "data=" + value.toStdString());
    EXPECT_EQ(CountHeader(requests[0], "Expect"), 0u);
}

TEST(HttpClientRequestTest, EachPostOpensANewConnection)
{
    // The first answer invites reuse and its connection stays open; a client
    // that reused it would write its second request there.
    Exchange held =
        Answer("HTTP/1.1 200 OK", {"Connection: keep-alive", "Keep-Alive: timeout=60"}, "one");
    held.ending = Ending::HoldOpen;
    ScriptedServer server({held, Answer("HTTP/1.1 200 OK", {}, "two")});
    HttpClient client;
    EXPECT_EQ(client.Post(At(server, "/a"), {u"n=1"_s}), u"one"_s);
    EXPECT_EQ(client.Post(At(server, "/b"), {u"n=2"_s}), u"two"_s);

    const auto requests = server.waitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].connection, 0u);
    EXPECT_EQ(requests[1].connection, 1u);
    EXPECT_EQ(requests[1].requestLine(), "POST /b HTTP/1.0");
    EXPECT_EQ(server.connectionCount(), 2u);
    EXPECT_EQ(server.strayBytes(), "");
}

// ---------------------------------------------------------------------------
// Answers

struct SuccessCase
{
    const char* name;
    std::vector<Piece> response;
    const char16_t* text;
};

TEST(HttpClientResponseTest, ReturnsTheDecodedBodyOfSuccessfulAnswers)
{
    const SuccessCase cases[] = {
        {"200 with length", {{0, ResponseBytes("HTTP/1.1 200 OK", {}, "hello")}}, u"hello"},
        {"201", {{0, ResponseBytes("HTTP/1.1 201 Created", {}, "made")}}, u"made"},
        {"202", {{0, ResponseBytes("HTTP/1.1 202 Accepted", {}, "queued")}}, u"queued"},
        {"203", {{0, ResponseBytes("HTTP/1.0 203 Non-Authoritative Information", {}, "x")}}, u"x"},
        {"204", {{0, "HTTP/1.1 204 No Content\r\n\r\n"}}, u""},
        {"empty 200", {{0, ResponseBytes("HTTP/1.1 200 OK", {}, "")}}, u""},
        {"chunked across pieces",
         {{0, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel"},
          {100, "lo\r\n6\r\n world\r\n"},
          {100, "0\r\n\r\n"}},
         u"hello world"},
        {"a trailer that looks like a status line",
         {{0, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n"
              "HTTP/1.1: 500 Oops\r\n\r\n"}},
         u"hello"},
        {"until close",
         {{0, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nread to"}, {100, " the end"}},
         u"read to the end"},
        {"100 then 200",
         {{0, "HTTP/1.1 100 Continue\r\n\r\n" + ResponseBytes("HTTP/1.1 200 OK", {}, "after")}},
         u"after"},
        {"100 then 200 apart",
         {{0, "HTTP/1.1 100 Continue\r\n\r\n"},
          {100, ResponseBytes("HTTP/1.1 200 OK", {}, "later")}},
         u"later"},
        {"utf-8 declared",
         {{0, ResponseBytes("HTTP/1.1 200 OK", {"Content-Type: text/plain; charset=utf-8"},
                            "f\xC3\xBCr")}},
         u"f\u00fcr"},
        {"latin-1 by default",
         {{0, ResponseBytes("HTTP/1.1 200 OK", {"Content-Type: text/html"}, "f\xFCr")}},
         u"f\u00fcr"},
        // Repeating the same length is allowed; only different ones break the framing.
        {"same length twice",
         {{0,
           ResponseBytes("HTTP/1.1 200 OK", {"Content-Length: 5", "Content-Length: 5"}, "hello")}},
         u"hello"},
        {"same length listed twice",
         {{0, ResponseBytes("HTTP/1.1 200 OK", {"Content-Length: 5 , 5"}, "hello")}},
         u"hello"},
        {"identity coding",
         {{0, ResponseBytes("HTTP/1.1 200 OK", {"Content-Encoding: identity"}, "plain")}},
         u"plain"},
    };
    for (const SuccessCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({Exchange{c.response, Ending::Close}});
        HttpClient client;
        try {
            EXPECT_EQ(client.Post(At(server, "/s"), {u"k=v"_s}), QString::fromUtf16(c.text));
        } catch (const std::exception& e) {
            ADD_FAILURE() << "raised: " << e.what();
        }
        EXPECT_EQ(server.connectionCount(), 1u);
    }
}

TEST(HttpClientResponseTest, SignsComeOutTheSameWhateverTheServerEncoding)
{
    ScriptedServer server({Answer("HTTP/1.1 200 OK", {"Content-Type: text/plain"}, "\xA9\xAE"),
                           Answer("HTTP/1.1 200 OK", {"Content-Type: text/plain; charset=UTF-8"},
                                  "\xC2\xA9\xC2\xAE")});
    HttpClient client;
    const QString latin1 = client.Post(At(server), {});
    const QString utf8 = client.Post(At(server), {});
    EXPECT_EQ(latin1, QString::fromUtf16(u"\u00a9\u00ae"));
    EXPECT_EQ(utf8, latin1);
}

struct StatusCase
{
    std::string statusLine;
    std::vector<std::string> headers;
    std::string body;
    int status;
    const char16_t* decodedBody;
};

TEST(HttpClientResponseTest, EveryOtherStatusRaisesWithTheStatusLineAsReceived)
{
    const StatusCase cases[] = {
        {"HTTP/1.1 300 Multiple Choices", {}, "pick one", 300, u"pick one"},
        {"HTTP/1.1 301 Moved Permanently", {"Location: /elsewhere"}, "moved", 301, u"moved"},
        {"HTTP/1.1 302 Found", {"Location: /elsewhere"}, "found it", 302, u"found it"},
        {"HTTP/1.1 303 See Other", {"Location: /elsewhere"}, "", 303, u""},
        {"HTTP/1.1 304 Not Modified", {}, "", 304, u""},
        {"HTTP/1.1 307 Temporary Redirect", {"Location: /elsewhere"}, "tmp", 307, u"tmp"},
        {"HTTP/1.1 308 Permanent Redirect", {"Location: /elsewhere"}, "perm", 308, u"perm"},
        {"HTTP/1.1 400 Bad Request", {}, "bad", 400, u"bad"},
        {"HTTP/1.1 401 Unauthorized", {}, "no challenge", 401, u"no challenge"},
        {"HTTP/1.1 403 Forbidden", {}, "", 403, u""},
        {"HTTP/1.1 404 Not Found",
         {"Content-Type: text/plain; charset=utf-8"},
         "Kein Eintrag f\xC3\xBCr 7",
         404,
         u"Kein Eintrag f\u00fcr 7"},
        {"HTTP/1.1 407 Proxy Authentication Required",
         {"Proxy-Authenticate: Basic realm=\"proxy\""},
         "proxy",
         407,
         u"proxy"},
        {"HTTP/1.1 500 Internal Server Error",
         {"Content-Type: text/html"},
         "<b>\xE9</b>",
         500,
         u"<b>\u00e9</b>"},
        {"HTTP/1.1 503 Service Unavailable", {"Retry-After: 1"}, "later", 503, u"later"},
        // Reason phrases are kept exactly, whatever they say.
        {"HTTP/1.1 500 Datenbank nicht erreichbar", {}, "db", 500, u"db"},
        {"HTTP/1.0 404 Gone  Fishing", {}, "", 404, u""},
        {"HTTP/1.1 418 I'm a teapot", {}, "short and stout", 418, u"short and stout"},
        {"HTTP/1.1 404 Not Found",
         {"Transfer-Encoding: chunked"},
         "4\r\nnone\r\n0\r\n\r\n",
         404,
         u"none"},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.statusLine);
        // A second entry for a client that wrongly follows or retries.
        ScriptedServer server(
            {Answer(c.statusLine, c.headers, c.body), Answer("HTTP/1.1 200 OK", {}, "followed")});
        // Credentials do not change anything without a challenge.
        HttpClient client(u"anna"_s, u"secret"_s);
        const auto error =
            Raised<HttpStatusError>([&] { client.Post(At(server, "/s"), {u"k=v"_s}); });
        if (error) {
            EXPECT_EQ(error->message(), QString::fromStdString(c.statusLine));
            EXPECT_EQ(error->status(), c.status);
            EXPECT_EQ(error->body(), QString::fromUtf16(c.decodedBody));
        }
        EXPECT_EQ(server.connectionCount(), 1u);
        EXPECT_FALSE(client.busy());
    }
}

struct FaultCase
{
    const char* name;
    std::vector<Piece> response;
    const char16_t* message;
};

// Posts `fields` once per case through `client` to a server that gives the
// case's answer, and expects the case's message.
void ExpectFaults(HttpClient& client, std::span<const FaultCase> cases,
                  const QStringList& fields = {})
{
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({Exchange{c.response, Ending::Close}});
        const auto error = Raised<TransportError>([&] { client.Post(At(server, "/"), fields); });
        if (error) {
            EXPECT_EQ(error->message().toStdString(), QString::fromUtf16(c.message).toStdString());
        }
        EXPECT_FALSE(client.busy());
        EXPECT_EQ(server.connectionCount(), 1u);
    }
}

// "hello", gzipped.
const std::string Gzipped("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03\xCB\x48\xCD\xC9\xC9\x07"
                          "\x00\x86\xA6\x10\x36\x05\x00\x00\x00",
                          25);

// Answers whose body cannot be taken as it came: handing them on as data
// would give the parsers something the server never meant.
TEST(HttpClientResponseTest, AnswersWithABrokenBodyRaiseANamedFault)
{
    const std::string& gzipped = Gzipped;
    const FaultCase cases[] = {
        {"two different lengths",
         {{0,
           ResponseBytes("HTTP/1.1 200 OK", {"Content-Length: 5", "Content-Length: 6"}, "hello!")}},
         u"The answer announces two different lengths (Content-Length 5 and 6)."},
        {"two lengths in one header",
         {{0, ResponseBytes("HTTP/1.1 200 OK", {"Content-Length: 6, 5"}, "hello!")}},
         u"The answer announces two different lengths (Content-Length 6 and 5)."},
        {"a length too large to represent",
         {{0, ResponseBytes("HTTP/1.1 200 OK", {"Content-Length: 99999999999999999999"}, "short")}},
         u"The answer announces a length too large to represent "
         u"(Content-Length 99999999999999999999)."},
        {"a length with trailing rubbish",
         {{0, ResponseBytes("HTTP/1.1 200 OK", {"Content-Length: 5abc"}, "hello")}},
         u"The answer announces an invalid length (Content-Length 5abc)."},
        {"gzip",
         {{0, ResponseBytes("HTTP/1.1 200 OK", {"Content-Encoding: gzip"}, gzipped)}},
         u"The answer is in the content coding \"gzip\", which the request did not accept."},
        {"gzip in capitals, chunked",
         {{0, "HTTP/1.1 200 OK\r\nContent-Encoding: GZIP\r\nTransfer-Encoding: chunked\r\n\r\n"
              "19\r\n" +
                  gzipped + "\r\n0\r\n\r\n"}},
         u"The answer is in the content coding \"GZIP\", which the request did not accept."},
        {"deflate after identity",
         {{0, ResponseBytes("HTTP/1.1 200 OK", {"Content-Encoding: identity, deflate"},
                            "\x78\x9C\xCB\x48\xCD\xC9\xC9\x07\x00")}},
         u"The answer is in the content coding \"deflate\", which the request did not accept."},
        {"two codings in two headers",
         {{0, ResponseBytes("HTTP/1.1 200 OK", {"Content-Encoding: gzip", "Content-Encoding: br"},
                            gzipped)}},
         u"The answer is in the content coding \"gzip, br\", which the request did not accept."},
        {"gzip as a transfer coding",
         {{0, "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n19\r\n" + gzipped +
                  "\r\n0\r\n\r\n"}},
         u"The answer is in the transfer coding \"gzip\", which the request did not accept."},
    };
    // One instance throughout: a fault must leave it ready for the next Post.
    HttpClient client;
    ExpectFaults(client, cases, {u"a=1"_s});
    ScriptedServer server({Answer("HTTP/1.1 200 OK", {}, "fine again")});
    EXPECT_EQ(client.Post(At(server, "/"), {}), u"fine again"_s);
}

// ---------------------------------------------------------------------------
// Cookies

TEST(HttpClientCookieTest, StoredCookiesGoBackOnLaterPostsOfTheSameInstance)
{
    ScriptedServer server({
        Answer("HTTP/1.1 200 OK", {"Set-Cookie: session=abc123; Path=/", "Set-Cookie: lang=de"},
               "in"),
        Answer("HTTP/1.1 200 OK", {}, "list"),
        Answer("HTTP/1.1 200 OK", {}, "other"),
    });
    HttpClient client;
    HttpClient otherWindow;
    client.Post(At(server, "/scripts/login.php"), {});
    client.Post(At(server, "/scripts/list.php"), {});
    otherWindow.Post(At(server, "/scripts/list.php"), {});

    const auto requests = server.waitForRequests(3);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(CountHeader(requests[0], "Cookie"), 0u);
    EXPECT_EQ(CookiesOf(requests[1]),
              (std::map<std::string, std::string>{{"session", "abc123"}, {"lang", "de"}}));
    EXPECT_EQ(CountHeader(requests[2], "Cookie"), 0u) << "another instance got the cookies";
}

TEST(HttpClientCookieTest, CookiesAreMatchedByPathAndHost)
{
    ScriptedServer server({
        Answer("HTTP/1.1 200 OK",
               {"Set-Cookie: area=calls; Path=/calls", "Set-Cookie: site=1; Path=/"}),
        Answer("HTTP/1.1 200 OK"),
        Answer("HTTP/1.1 200 OK"),
        Answer("HTTP/1.1 200 OK"),
    });
    HttpClient client;
    client.Post(At(server, "/calls/open.php"), {});
    client.Post(At(server, "/customers/list.php"), {});
    client.Post(At(server, "/calls/list.php"), {});
    // Same server under another host name: a host-only cookie stays behind.
    client.Post(
        QString::fromStdString("http://localhost:" + std::to_string(server.port()) + "/calls/x"),
        {});

    const auto requests = server.waitForRequests(4);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(CookiesOf(requests[1]), (std::map<std::string, std::string>{{"site", "1"}}));
    EXPECT_EQ(CookiesOf(requests[2]),
              (std::map<std::string, std::string>{{"area", "calls"}, {"site", "1"}}));
    EXPECT_EQ(CountHeader(requests[3], "Cookie"), 0u);
}

TEST(HttpClientCookieTest, CookiesFromErrorAnswersAreKeptAndReplaced)
{
    ScriptedServer server({
        Answer("HTTP/1.1 302 Found", {"Location: /login", "Set-Cookie: session=first; Path=/"}),
        Answer("HTTP/1.1 500 Internal Server Error", {"Set-Cookie: session=second; Path=/"}),
        Answer("HTTP/1.1 200 OK"),
    });
    HttpClient client;
    Raised<HttpStatusError>([&] { client.Post(At(server, "/a"), {}); });
    Raised<HttpStatusError>([&] { client.Post(At(server, "/b"), {}); });
    client.Post(At(server, "/c"), {});

    const auto requests = server.waitForRequests(3);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(CookiesOf(requests[1]), (std::map<std::string, std::string>{{"session", "first"}}));
    EXPECT_EQ(requests[2].headerValues("Cookie"), std::vector<std::string>{"session=second"});
}

// ---------------------------------------------------------------------------
// Authentication

namespace {

Exchange Challenge(std::vector<std::string> wwwAuthenticate,
                   std::string_view statusLine = "HTTP/1.1 401 Unauthorized",
                   std::string_view body = "denied")
{
    for (std::string& h : wwwAuthenticate)
        h = "WWW-Authenticate: " + h;
    return Answer(statusLine, std::move(wwwAuthenticate), body);
}

} // namespace

TEST(HttpClientAuthTest, AnswersABasicChallengeAndThenSendsCredentialsAtOnce)
{
    ScriptedServer server({
        Challenge({"Basic realm=\"Tillora\""}),
        Answer("HTTP/1.1 200 OK", {}, "first"),
        Answer("HTTP/1.1 200 OK", {}, "second"),
        Answer("HTTP/1.1 200 OK", {}, "other window"),
    });
    HttpClient client(u"anna"_s, u"pa:ss word"_s);
    HttpClient otherWindow(u"anna"_s, u"pa:ss word"_s);
    EXPECT_EQ(client.Post(At(server, "/one"), {u"a=1"_s}), u"first"_s);
    EXPECT_EQ(client.Post(At(server, "/two"), {u"b=2"_s}), u"second"_s);
    EXPECT_EQ(otherWindow.Post(At(server, "/three"), {}), u"other window"_s);

    const auto requests = server.waitForRequests(4);
    ASSERT_EQ(requests.size(), 4u);
    const std::string credentials = BasicCredentials("anna", "pa:ss word");
    EXPECT_EQ(CountHeader(requests[0], "Authorization"), 0u);
    // The repeat is the same request with credentials added.
    EXPECT_EQ(requests[1].requestLine(), "POST /one HTTP/1.0");
    EXPECT_EQ(requests[1].body(), "a=1");
    EXPECT_EQ(requests[1].header("Authorization"), credentials);
    EXPECT_EQ(requests[2].requestLine(), "POST /two HTTP/1.0");
    EXPECT_EQ(requests[2].header("Authorization"), credentials);
    EXPECT_EQ(CountHeader(requests[3], "Authorization"), 0u)
        << "credentials leaked to another instance";
    EXPECT_EQ(server.connectionCount(), 4u);
}

// The refusal page is read and dropped, whatever is wrong with it, and the
// request repeated with credentials.
TEST(HttpClientAuthTest, AChallengeIsAnsweredWhateverIsWrongWithItsPage)
{
    const std::pair<const char*, const char*> schemes[] = {
        {"Basic realm=\"x\"", "basic "},
        {"Digest realm=\"x\", nonce=\"4b1d\", qop=\"auth\"", "digest "},
    };
    const struct
    {
        const char* name;
        std::vector<std::string> headers;
        std::string body;
    } pages[] = {
        {"in gzip", {"Content-Encoding: gzip"}, Gzipped},
        {"with two lengths", {"Content-Length: 6", "Content-Length: 7"}, "denied!"},
        {"longer than the limit", {"Content-Length: 5000"}, "denied"},
    };
    for (const auto& [challenge, prefix] : schemes) {
        for (const auto& page : pages) {
            SCOPED_TRACE(std::string(challenge) + " | " + page.name);
            std::vector<std::string> headers = page.headers;
            headers.push_back(std::string("WWW-Authenticate: ") + challenge);
            ScriptedServer server({Answer("HTTP/1.1 401 Unauthorized", headers, page.body),
                                   Answer("HTTP/1.1 200 OK", {}, "welcome")});
            HttpClient client(u"anna"_s, u"secret"_s);
            client.setMaxAnswerBytes(1000);
            try {
                EXPECT_EQ(client.Post(At(server, "/"), {}), u"welcome"_s);
            } catch (const std::exception& e) {
                ADD_FAILURE() << "raised: " << e.what();
            }
            const auto requests = server.requests();
            EXPECT_EQ(requests.size(), 2u);
            if (requests.size() >= 2) {
                const std::string authorization =
                    Lower(requests[1].header("Authorization").value_or(""));
                EXPECT_EQ(authorization.rfind(prefix, 0), 0u) << authorization;
            }
        }
    }
}

// After a refusal that curl answers by itself, the repeat's connection is
// a new request: its close says nothing about the refusal's body.
TEST(HttpClientAuthTest, ARepeatClosedAtOnceIsAGracefulClose)
{
    const char* challenge = "Digest realm=\"x\", nonce=\"4b1d\", qop=\"auth\"";
    // The third connection, curl's own repeat, is closed on accept.
    ScriptedServer server({Challenge({challenge}), Challenge({challenge})});
    HttpClient client(u"anna"_s, u"wrong"_s);
    const auto error = Raised<TransportError>([&] { client.Post(At(server, "/"), {}); });
    if (error) {
        EXPECT_EQ(error->message().toStdString(), "Connection Closed Gracefully.");
    }
    EXPECT_EQ(server.connectionCount(), 3u);
}

struct SchemeCase
{
    std::vector<std::string> wwwAuthenticate;
    bool answered;
};

TEST(HttpClientAuthTest, TakesBasicWhereverTheChallengeNamesItAndNothingUnknown)
{
    const SchemeCase cases[] = {
        {{"Basic realm=\"x\""}, true},
        {{"basic realm=\"x\""}, true},
        {{"BASIC realm=\"x\""}, true},
        {{"Bearer realm=\"x\"", "Basic realm=\"x\""}, true},
        {{"Bearer realm=\"x\""}, false},
        {{"Custom token=1", "Mutual realm=\"x\""}, false},
        {{}, false},
    };
    for (const SchemeCase& c : cases) {
        std::string trace;
        for (const std::string& h : c.wwwAuthenticate)
            trace += h + " | ";
        SCOPED_TRACE(trace);
        ScriptedServer server(
            {Challenge(c.wwwAuthenticate), Answer("HTTP/1.1 200 OK", {}, "welcome")});
        HttpClient client(u"anna"_s, u"secret"_s);
        if (c.answered) {
            try {
                EXPECT_EQ(client.Post(At(server, "/"), {}), u"welcome"_s);
            } catch (const std::exception& e) {
                ADD_FAILURE() << "raised: " << e.what();
            }
            const auto requests = server.waitForRequests(2);
            ASSERT_EQ(requests.size(), 2u);
            EXPECT_EQ(requests[1].header("Authorization"), BasicCredentials("anna", "secret"));
        } else {
            const auto error = Raised<HttpStatusError>([&] { client.Post(At(server, "/"), {}); });
            if (error) {
                EXPECT_EQ(error->message(), u"HTTP/1.1 401 Unauthorized"_s);
                EXPECT_EQ(error->status(), 401);
                EXPECT_EQ(error->body(), u"denied"_s);
            }
            EXPECT_EQ(server.connectionCount(), 1u);
        }
    }
}

TEST(HttpClientAuthTest, AnInstanceWithoutAPasswordCannotAnswer)
{
    const struct
    {
        const char16_t* password;
        const char* statusLine;
    } cases[] = {
        {u"", "HTTP/1.1 401 Unauthorized"},
        {u"   ", "HTTP/1.1 401 Unauthorized"},
        {u" \t ", "HTTP/1.0 401 Login Required"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statusLine);
        ScriptedServer server({Challenge({"Basic realm=\"x\""}, c.statusLine, "who are you"),
                               Answer("HTTP/1.1 200 OK", {}, "let in")});
        HttpClient client(u"anna"_s, QString::fromUtf16(c.password));
        const auto error = Raised<HttpStatusError>([&] { client.Post(At(server, "/"), {}); });
        if (error) {
            EXPECT_EQ(error->message(), QString::fromLatin1(c.statusLine));
            EXPECT_EQ(error->status(), 401);
            EXPECT_EQ(error->body(), u"who are you"_s);
        }
        EXPECT_EQ(server.connectionCount(), 1u);
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(CountHeader(requests[0], "Authorization"), 0u);
    }
}

TEST(HttpClientAuthTest, GivesUpAfterThreeAttempts)
{
    const std::pair<const char*, const char*> schemes[] = {
        {"Basic realm=\"x\"", "basic "},
        {"Digest realm=\"x\", nonce=\"4b1d\", qop=\"auth\"", "digest "},
    };
    for (const auto& [challenge, prefix] : schemes) {
        SCOPED_TRACE(challenge);
        // Later entries are there for a client that keeps trying.
        ScriptedServer server({
            Challenge({challenge}, "HTTP/1.1 401 Unauthorized", "one"),
            Challenge({challenge}, "HTTP/1.1 401 Unauthorized", "two"),
            Challenge({challenge}, "HTTP/1.1 401 Wrong Password", "three"),
            Challenge({challenge}, "HTTP/1.1 401 Still Wrong", "four"),
            Answer("HTTP/1.1 200 OK", {}, "too late"),
        });
        HttpClient client(u"anna"_s, u"wrong"_s);
        const auto error = Raised<HttpStatusError>([&] { client.Post(At(server, "/"), {}); });
        if (error) {
            EXPECT_EQ(error->message(), u"HTTP/1.1 401 Wrong Password"_s);
            EXPECT_EQ(error->status(), 401);
            EXPECT_EQ(error->body(), u"three"_s);
        }
        EXPECT_EQ(server.connectionCount(), 3u);
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 3u);
        for (std::size_t i = 1; i < requests.size(); ++i) {
            const std::string authorization =
                Lower(requests[i].header("Authorization").value_or(""));
            EXPECT_EQ(authorization.rfind(prefix, 0), 0u)
                << "attempt " << i + 1 << ": " << authorization;
        }
    }
}

namespace {

// Parameters of a Digest Authorization header: name -> value, quotes removed.
std::map<std::string, std::string> DigestParameters(std::string_view header)
{
    std::map<std::string, std::string> out;
    std::size_t pos = header.find(' ');
    while (pos != std::string_view::npos && pos < header.size()) {
        while (pos < header.size() && (header[pos] == ' ' || header[pos] == ','))
            ++pos;
        const std::size_t eq = header.find('=', pos);
        if (eq == std::string_view::npos)
            break;
        const std::string name = Lower(std::string(header.substr(pos, eq - pos)));
        std::size_t end;
        std::string value;
        if (eq + 1 < header.size() && header[eq + 1] == '"') {
            end = header.find('"', eq + 2);
            value = std::string(header.substr(eq + 2, end - eq - 2));
            end = end == std::string_view::npos ? end : end + 1;
        } else {
            end = header.find(',', eq + 1);
            value = std::string(
                header.substr(eq + 1, end == std::string_view::npos ? end : end - eq - 1));
        }
        out[name] = value;
        pos = end;
    }
    return out;
}

QByteArray Md5Hex(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

// Checks a Digest answer as a server would: the response hash must match
// what the password gives for this method, URI, nonce and counter.
void ExpectValidDigest(const RecordedRequest& request, const std::string& uri, const char* nonce,
                       std::string* nonceCount)
{
    const std::string header = request.header("Authorization").value_or("");
    ASSERT_EQ(Lower(header.substr(0, 7)), "digest ") << header;
    auto p = DigestParameters(header);
    EXPECT_EQ(p["username"], "anna");
    EXPECT_EQ(p["realm"], "tillora@vendor");
    EXPECT_EQ(p["nonce"], nonce);
    EXPECT_EQ(p["opaque"], "5ccc069c403ebaf9f0171e9517f40e41");
    EXPECT_EQ(p["uri"], uri);
    EXPECT_EQ(p["qop"], "auth");
    ASSERT_FALSE(p["cnonce"].empty());
    ASSERT_FALSE(p["nc"].empty());
    const QByteArray ha1 = Md5Hex("anna:tillora@vendor:Circle Of Life");
    const QByteArray ha2 = Md5Hex("POST:" + QByteArray::fromStdString(uri));
    const QByteArray expected =
        Md5Hex(ha1 + ':' + nonce + ':' + QByteArray::fromStdString(p["nc"]) + ':' +
               QByteArray::fromStdString(p["cnonce"]) + ":auth:" + ha2);
    EXPECT_EQ(QByteArray::fromStdString(p["response"]), expected);
    *nonceCount = p["nc"];
}

} // namespace

TEST(HttpClientAuthTest, AnswersADigestChallengeCorrectly)
{
    const char* nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
    ScriptedServer server({
        Challenge({std::string("Digest realm=\"tillora@vendor\", qop=\"auth\", nonce=\"") + nonce +
                   "\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\", algorithm=MD5"}),
        Answer("HTTP/1.1 200 OK", {}, "digest ok"),
        Answer("HTTP/1.1 200 OK", {}, "still ok"),
    });
    HttpClient client(u"anna"_s, u"Circle Of Life"_s);
    EXPECT_EQ(client.Post(At(server, "/dir/index.php?x=1"), {u"a=1"_s}), u"digest ok"_s);
    EXPECT_EQ(client.Post(At(server, "/dir/next.php"), {}), u"still ok"_s);

    const auto requests = server.waitForRequests(3);
    ASSERT_EQ(requests.size(), 3u);
    std::string firstCount;
    std::string laterCount;
    {
        SCOPED_TRACE("the repeated request");
        ExpectValidDigest(requests[1], "/dir/index.php?x=1", nonce, &firstCount);
    }
    {
        // A later Post answers at once, counting on with the same nonce.
        SCOPED_TRACE("the next Post");
        ExpectValidDigest(requests[2], "/dir/next.php", nonce, &laterCount);
    }
    EXPECT_NE(firstCount, laterCount) << "a nonce count used twice is a replay";
}

// ---------------------------------------------------------------------------
// Transport errors

TEST(HttpClientErrorTest, ARefusedConnectionNamesTheSocketError)
{
    RefusingPort nobody;
    HttpClient client;
    const auto error = Raised<TransportError>(
        [&] { client.Post(QString::fromStdString(nobody.address("/x")), {u"a=1"_s}); });
    if (error) {
        EXPECT_EQ(error->message(), u"Socket Error # 111\nConnection refused."_s);
    }
    EXPECT_FALSE(client.busy());
}

TEST(HttpClientErrorTest, AConnectThatGetsNoAnswerTimesOut)
{
    HangingConnectTarget target;
    ASSERT_TRUE(target.hangs()) << "this machine answers connects to a full accept queue";
    HttpClient client;
    client.setConnectTimeout(400);
    const auto error = Raised<TransportError>(
        [&] { client.Post(QString::fromStdString(target.address("/")), {}); });
    if (error) {
        EXPECT_EQ(error->message(), u"Connect timed out."_s);
    }
    EXPECT_FALSE(client.busy());
}

TEST(HttpClientErrorTest, AServerClosingBeforeTheHeadersAreCompleteIsAGracefulClose)
{
    const std::pair<const char*, Exchange> cases[] = {
        {"closed on accept", Exchange{{}, Ending::CloseOnAccept}},
        {"closed after reading", Exchange{{}, Ending::Close}},
        {"inside the status line", Exchange{{{0, "HTTP/1.1 20"}}, Ending::Close}},
        {"inside the headers", Exchange{{{0, "HTTP/1.1 200 OK\r\nContent-Le"}}, Ending::Close}},
        {"before the blank line", Exchange{{{0, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"},
                                            {50, "Content-Type: text/plain\r\n"}},
                                           Ending::Close}},
        {"after 100 Continue", Exchange{{{0, "HTTP/1.1 100 Continue\r\n\r\n"}}, Ending::Close}},
    };
    // One instance throughout: an error must leave it ready for the next Post.
    HttpClient client;
    for (const auto& [name, exchange] : cases) {
        SCOPED_TRACE(name);
        ScriptedServer server({exchange});
        const auto error =
            Raised<TransportError>([&] { client.Post(At(server, "/"), {u"a=1"_s}); });
        if (error) {
            EXPECT_EQ(error->message(), u"Connection Closed Gracefully."_s);
        }
        EXPECT_FALSE(client.busy());
    }
    ScriptedServer server({Answer("HTTP/1.1 200 OK", {}, "fine again")});
    EXPECT_EQ(client.Post(At(server, "/"), {}), u"fine again"_s);
}

TEST(HttpClientErrorTest, ABodyCutShortAfterTheHeadersSaysSo)
{
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const FaultCase cases[] = {
        {"fewer bytes than announced",
         {{0, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello"}},
         u"The connection closed after 5 of the 10 bytes the answer announced."},
        {"none of the announced bytes",
         {{0, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n"}},
         u"The connection closed after 0 of the 10 bytes the answer announced."},
        {"later pieces missing",
         {{0, "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n" + std::string(1000, 'a')},
          {100, std::string(1000, 'b')}},
         u"The connection closed after 2000 of the 3000 bytes the answer announced."},
        {"before the first chunk",
         {{0, chunked}},
         u"The connection closed before the last chunk of the answer."},
        {"inside a chunk",
         {{0, chunked + "5\r\nhel"}},
         u"The connection closed before the last chunk of the answer."},
        {"between chunks",
         {{0, chunked + "5\r\nhello\r\n"}},
         u"The connection closed before the last chunk of the answer."},
        {"inside a chunk size",
         {{0, chunked + "5\r\nhello\r\n1"}},
         u"The connection closed before the last chunk of the answer."},
    };
    HttpClient client;
    ExpectFaults(client, cases);
}

TEST(HttpClientErrorTest, AnAnswerThatIsNotHttpSaysSo)
{
    const char16_t* notHttp = u"The answer does not begin with a valid HTTP status line.";
    const FaultCase cases[] = {
        {"plain text", {{0, "garbage\r\n\r\nmore garbage"}}, notHttp},
        {"an html page", {{0, "<html><body>hello</body></html>"}}, notHttp},
        {"binary", {{0, std::string("\x00\x01\x02\xFF\r\n\r\n", 8)}}, notHttp},
        {"another protocol", {{0, "ICY 200 OK\r\n\r\nmusic"}}, notHttp},
        {"an unknown version", {{0, "HTTP/7.3 200 OK\r\nContent-Length: 2\r\n\r\nok"}}, notHttp},
        {"no status code", {{0, "HTTP/1.1 OK\r\nContent-Length: 2\r\n\r\nok"}}, notHttp},
        {"after 100 Continue",
         {{0, "HTTP/1.1 100 Continue\r\n\r\n"}, {100, "garbage\r\n\r\n"}},
         notHttp},
    };
    HttpClient client;
    ExpectFaults(client, cases);
}

TEST(HttpClientErrorTest, AnOverlongHeaderLineSaysSo)
{
    const std::string huge(1024 * 1024, 'h');
    const FaultCase cases[] = {
        {"a header",
         {{0, "HTTP/1.1 200 OK\r\nX-Huge: " + huge + "\r\n\r\nbody"}},
         u"The answer has a header line longer than 102400 bytes."},
        {"the status line",
         {{0, "HTTP/1.1 200 " + huge + "\r\n\r\nbody"}},
         u"The answer has a header line longer than 102400 bytes."},
    };
    HttpClient client;
    ExpectFaults(client, cases);
}

TEST(HttpClientErrorTest, AbandonEndsAWaitingPost)
{
    // The answer comes late rather than never, so a client that ignores
    // abandon() fails here instead of hanging.
    ScriptedServer server({Exchange{{{3000, ResponseBytes("HTTP/1.1 200 OK", {}, "too late")}}}});
    HttpClient client;
    QObject context;
    QTimer::singleShot(200, &context, [&] { client.abandon(); });
    const auto error = Raised<TransportError>([&] { client.Post(At(server, "/"), {}); });
    if (error) {
        EXPECT_EQ(error->message(), u"Request abandoned."_s);
    }
    EXPECT_FALSE(client.busy());
}

TEST(HttpClientErrorTest, ShutDownEndsTheWaitAndRefusesEveryLaterPost)
{
    // The first answer comes late; the second would come at once but must
    // never be asked for.
    ScriptedServer server({Exchange{{{3000, ResponseBytes("HTTP/1.1 200 OK", {}, "too late")}}},
                           Answer("HTTP/1.1 200 OK", {}, "never asked")});
    HttpClient client;
    QObject context;
    QTimer::singleShot(200, &context, [&] { client.shutDown(); });
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto error = Raised<RequestAbandoned>([&] { client.Post(At(server, "/"), {}); });
        EXPECT_TRUE(error.has_value()) << "attempt " << attempt;
        EXPECT_FALSE(client.busy());
    }
    EXPECT_EQ(server.connectionCount(), 1u);
}

// ---------------------------------------------------------------------------
// The size limit

namespace {

// Ends a Post that would otherwise wait for ever, so that a client which
// misses the fault fails with "Request abandoned." instead of hanging.
struct AbandonLater
{
    QObject context;
    AbandonLater(HttpClient& client, int milliseconds)
    {
        QTimer::singleShot(milliseconds, &context, [&client] { client.abandon(); });
    }
};

QString LimitMessage(std::int64_t limit)
{
    return u"The answer is larger than the limit of %1 bytes."_s.arg(limit);
}

} // namespace

TEST(HttpClientLimitTest, TheLimitCountsTheWholeAnswer)
{
    // Head and body as the client reads them; chunk framing is not part of it.
    const std::string body(3000, 'q');
    const std::string lengthHead = "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n";
    const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string closeHead = "HTTP/1.0 200 OK\r\n\r\n";
    const struct
    {
        const char* name;
        std::vector<Piece> response;
        std::int64_t size;
    } cases[] = {
        {"with a length", {{0, lengthHead + body}}, std::int64_t(lengthHead.size() + body.size())},
        {"chunked",
         {{0, chunkedHead + "7d0\r\n" + body.substr(0, 2000) + "\r\n"},
          {50, "3e8\r\n" + body.substr(2000) + "\r\n0\r\n\r\n"}},
         std::int64_t(chunkedHead.size() + body.size())},
        {"until close",
         {{0, closeHead + body.substr(0, 1000)}, {50, body.substr(1000)}},
         std::int64_t(closeHead.size() + body.size())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            SCOPED_TRACE("exactly at the limit");
            ScriptedServer server({Exchange{c.response, Ending::Close}});
            HttpClient client;
            client.setMaxAnswerBytes(c.size);
            try {
                EXPECT_EQ(client.Post(At(server, "/"), {}), QString::fromStdString(body));
            } catch (const std::exception& e) {
                ADD_FAILURE() << "raised: " << e.what();
            }
        }
        {
            SCOPED_TRACE("one byte past it");
            ScriptedServer server({Exchange{c.response, Ending::Close}});
            HttpClient client;
            client.setMaxAnswerBytes(c.size - 1);
            const auto error = Raised<TransportError>([&] { client.Post(At(server, "/"), {}); });
            if (error) {
                EXPECT_EQ(error->message().toStdString(), LimitMessage(c.size - 1).toStdString());
            }
            EXPECT_FALSE(client.busy());
        }
    }
}

TEST(HttpClientLimitTest, AnAnswerWithoutEndStopsAtTheLimit)
{
    // Below curl's own bound on the whole head (300 KB), so that ours is met first.
    const std::int64_t limit = 200 * 1024;
    const struct
    {
        const char* name;
        std::string head;
        Piece repeated;
    } cases[] = {
        {"body", "HTTP/1.0 200 OK\r\n\r\n", Piece{1, std::string(64 * 1024, 'x')}},
        {"chunks", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
         Piece{1, "4000\r\n" + std::string(0x4000, 'c') + "\r\n"}},
        {"headers", "HTTP/1.1 200 OK\r\n",
         Piece{1,
               [] {
                   std::string lines;
                   for (int i = 0; i < 64; ++i)
                       lines += "X-Filler: " + std::string(1000, 'f') + "\r\n";
                   return lines;
               }()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({Exchange{{{0, c.head}, c.repeated}, Ending::Endless}});
        HttpClient client;
        client.setMaxAnswerBytes(limit);
        EventLog log(client);
        const AbandonLater safety(client, 3000);
        const auto error = Raised<TransportError>([&] { client.Post(At(server, "/"), {}); });
        if (error) {
            EXPECT_EQ(error->message().toStdString(), LimitMessage(limit).toStdString());
        }
        const auto work = log.work(TransferDirection::Receive);
        if (!work.empty()) {
            EXPECT_LE(*std::max_element(work.begin(), work.end()), limit);
        }
        EXPECT_FALSE(client.busy());
    }
}

TEST(HttpClientLimitTest, AnAnnouncedLengthPastTheLimitFailsBeforeTheBody)
{
    // The body never comes: only the announcement can end this request.
    ScriptedServer server({Exchange{
        {{0, "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\nfirst bytes"}}, Ending::HoldOpen}});
    HttpClient client;
    client.setMaxAnswerBytes(1000);
    EventLog log(client);
    const AbandonLater safety(client, 3000);
    const auto error = Raised<TransportError>([&] { client.Post(At(server, "/"), {}); });
    if (error) {
        EXPECT_EQ(error->message().toStdString(), LimitMessage(1000).toStdString());
    }
    EXPECT_TRUE(log.of(TransferDirection::Receive).empty());
}

TEST(HttpClientLimitTest, TheRawAnswerIsFreedOnceDecoded)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator keeps its own books";
#else
    const qsizetype size = 8 * 1024 * 1024;
    ScriptedServer server(
        {Answer("HTTP/1.1 200 OK", {"Content-Type: text/plain"}, std::string(size, 'm'))});
    HttpClient client;
    const auto inUse = [] {
        const struct mallinfo2 m = mallinfo2();
        return std::int64_t(m.uordblks + m.hblkhd);
    };
    const std::int64_t before = inUse();
    const QString text = client.Post(At(server, "/"), {});
    const std::int64_t held = inUse() - before;
    ASSERT_EQ(text.size(), size);
    // The text takes two bytes a character; the bytes it came from must be gone.
    EXPECT_LT(held, 2 * size + size / 4);
#endif
}

// ---------------------------------------------------------------------------
// Error statuses

// An answer with an error status fails with that status, whatever is wrong
// with its body: the body is only the error's text.
TEST(HttpClientStatusTest, AnErrorStatusWinsOverWhatIsWrongWithItsBody)
{
    const std::string chunkedHead = "Transfer-Encoding: chunked\r\n\r\n";
    const struct
    {
        const char* name;
        Exchange exchange;
        std::string statusLine;
        // The error's text; none where curl or the pieces decide how much of it is read.
        std::optional<QString> body;
    } cases[] = {
        {"a redirect in gzip",
         Answer("HTTP/1.0 302 Found", {"Location: /login", "Content-Encoding: gzip"}, Gzipped),
         "HTTP/1.0 302 Found", QString::fromLatin1(Gzipped)},
        {"two different lengths",
         Answer("HTTP/1.1 500 Internal Server Error", {"Content-Length: 4", "Content-Length: 5"},
                "gone!"),
         "HTTP/1.1 500 Internal Server Error", std::nullopt},
        {"an invalid length", Answer("HTTP/1.1 404 Not Found", {"Content-Length: 4abc"}, "gone"),
         "HTTP/1.1 404 Not Found", std::nullopt},
        {"gzip as a transfer coding",
         Exchange{
             {{0, "HTTP/1.1 503 Service Unavailable\r\nTransfer-Encoding: gzip, chunked\r\n\r\n"
                  "19\r\n" +
                      Gzipped + "\r\n0\r\n\r\n"}}},
         "HTTP/1.1 503 Service Unavailable", std::nullopt},
        {"cut short", Exchange{{{0, "HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\nnot"}}},
         "HTTP/1.1 404 Not Found", u"not"_s},
        {"cut short inside a chunk",
         Exchange{{{0, "HTTP/1.1 500 Oops\r\n" + chunkedHead + "5\r\nhel"}}}, "HTTP/1.1 500 Oops",
         u"hel"_s},
        {"a length past the limit, and the body never comes",
         Exchange{{{0, "HTTP/1.1 500 Oops\r\nContent-Length: 5000\r\n\r\nfirst"}},
                  Ending::HoldOpen},
         "HTTP/1.1 500 Oops", u""_s},
        {"a body without end",
         Exchange{{{0, "HTTP/1.0 500 Oops\r\n\r\n"}, {1, std::string(4096, 'x')}}, Ending::Endless},
         "HTTP/1.0 500 Oops", std::nullopt},
    };
    // One instance throughout, with credentials that no challenge asks for.
    HttpClient client(u"anna"_s, u"secret"_s);
    client.setMaxAnswerBytes(1000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({c.exchange, Answer("HTTP/1.1 200 OK", {}, "repeated")});
        const AbandonLater safety(client, 3000);
        const auto error = Raised<HttpStatusError>([&] { client.Post(At(server, "/"), {}); });
        if (error) {
            EXPECT_EQ(error->message().toStdString(), c.statusLine);
            if (c.body) {
                EXPECT_EQ(error->body(), *c.body);
            }
        }
        EXPECT_EQ(server.connectionCount(), 1u);
        EXPECT_FALSE(client.busy());
    }
}

// ---------------------------------------------------------------------------
// Transfer events

TEST(HttpClientEventTest, ReportsSendingThenReceivingInOrder)
{
    ScriptedServer server({Answer("HTTP/1.1 200 OK", {}, "hello")});
    HttpClient client;
    EventLog log(client);
    client.Post(At(server, "/"), {u"a=1"_s, u"b=2"_s});
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"begin send 7", "work send 7", "end send",
                                        "begin receive 5", "work receive 5", "end receive"}));
}

TEST(HttpClientEventTest, AnEmptyBodyReportsNoSendWork)
{
    // No Content-Length: the size is not known in advance.
    ScriptedServer server(
        {Exchange{{{0, "HTTP/1.0 200 OK\r\n\r\nhello"}, {150, " world"}}, Ending::Close},
         Exchange{{{0, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n"},
                   {150, "0\r\n\r\n"}},
                  Ending::Close}});
    HttpClient client;
    EventLog log(client);
    EXPECT_EQ(client.Post(At(server, "/"), {}), u"hello world"_s);
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"begin send 0", "end send", "begin receive 0",
                                        "work receive 5", "work receive 11", "end receive"}));

    log.events.clear();
    EXPECT_EQ(client.Post(At(server, "/"), {}), u"abc"_s);
    const auto received = log.of(TransferDirection::Receive);
    ASSERT_GE(received.size(), 3u);
    EXPECT_EQ(received.front(), "begin receive 0");
    EXPECT_EQ(received.back(), "end receive");
}

TEST(HttpClientEventTest, ReceiveWorkFollowsEachReadFromTheNetwork)
{
    // Pieces far apart in time arrive as one read each. A read larger than
    // curl's 16 KiB write pieces still raises one event, at its end.
    for (const std::size_t scale : {std::size_t(1), std::size_t(20)}) {
        SCOPED_TRACE(scale);
        const std::size_t a = 2000 * scale, b = 2000 * scale, c = 1000 * scale;
        const std::string body = std::string(a, 'a') + std::string(b, 'b') + std::string(c, 'c');
        const std::string total = std::to_string(body.size());
        ScriptedServer server({Exchange{
            {{0, "HTTP/1.1 200 OK\r\nContent-Length: " + total + "\r\n\r\n" + body.substr(0, a)},
             {150, body.substr(a, b)},
             {150, body.substr(a + b)}},
            Ending::Close}});
        HttpClient client;
        EventLog log(client);
        EXPECT_EQ(client.Post(At(server, "/"), {u"a=1"_s}), QString::fromStdString(body));
        EXPECT_EQ(log.of(TransferDirection::Receive),
                  (std::vector<std::string>{"begin receive " + total,
                                            "work receive " + std::to_string(a),
                                            "work receive " + std::to_string(a + b),
                                            "work receive " + total, "end receive"}));
    }
}

TEST(HttpClientEventTest, SendWorkGrowsToTheBodyLengthBeforeAnyReceiving)
{
    const QString value(1024 * 1024, u'z');
    const std::int64_t length = 2 + value.size();
    ScriptedServer server({Answer("HTTP/1.1 200 OK", {}, "ok")});
    HttpClient client;
    EventLog log(client);
    client.Post(At(server, "/"), {u"v="_s + value});

    const auto sent = log.of(TransferDirection::Send);
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent.front(), "begin send " + std::to_string(length));
    EXPECT_EQ(sent.back(), "end send");
    const auto work = log.work(TransferDirection::Send);
    ASSERT_FALSE(work.empty());
    EXPECT_EQ(std::adjacent_find(work.begin(), work.end(), std::greater_equal<>()), work.end())
        << "not strictly growing";
    EXPECT_GT(work.front(), 0);
    EXPECT_EQ(work.back(), length);
    // All send events come before the first receive event.
    const auto firstReceive =
        std::find_if(log.events.begin(), log.events.end(),
                     [](const std::string& e) { return e.find(" receive") != std::string::npos; });
    EXPECT_EQ(
        std::count_if(firstReceive, log.events.end(),
                      [](const std::string& e) { return e.find(" send") != std::string::npos; }),
        0);
}

// ---------------------------------------------------------------------------
// Waiting and re-entry

TEST(HttpClientWaitTest, TimersRunWhileAnAnswerIsSlow)
{
    ScriptedServer server(
        {Exchange{{{600, ResponseBytes("HTTP/1.1 200 OK", {}, "slow")}}, Ending::Close}});
    HttpClient client;
    QObject context;
    bool fired = false;
    bool busyWhenFired = false;
    QTimer::singleShot(50, &context, [&] {
        fired = true;
        busyWhenFired = client.busy();
    });
    EXPECT_EQ(client.Post(At(server, "/"), {}), u"slow"_s);
    EXPECT_TRUE(fired);
    EXPECT_TRUE(busyWhenFired);
    EXPECT_FALSE(client.busy());
}

TEST(HttpClientWaitTest, ASecondPostOnTheSameInstanceIsRefusedFromATimer)
{
    ScriptedServer slow(
        {Exchange{{{600, ResponseBytes("HTTP/1.1 200 OK", {}, "outer")}}, Ending::Close},
         Answer("HTTP/1.1 200 OK", {}, "inner should not be sent")});
    ScriptedServer quick({Answer("HTTP/1.1 200 OK", {}, "other instance")});
    HttpClient client;
    HttpClient otherWindow;
    QObject context;
    bool refused = false;
    QString otherAnswer;
    QTimer::singleShot(50, &context, [&] {
        try {
            client.Post(At(slow, "/inner"), {});
        } catch (const TransportError&) {
            refused = true;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "inner Post raised another error: " << e.what();
        }
        try {
            otherAnswer = otherWindow.Post(At(quick, "/"), {});
        } catch (const std::exception& e) {
            ADD_FAILURE() << "other instance raised: " << e.what();
        }
    });
    EXPECT_EQ(client.Post(At(slow, "/outer"), {u"k=v"_s}), u"outer"_s);
    EXPECT_TRUE(refused);
    EXPECT_EQ(otherAnswer, u"other instance"_s);
    EXPECT_EQ(slow.connectionCount(), 1u);
    EXPECT_FALSE(client.busy());
}

TEST(HttpClientWaitTest, ASecondPostOnTheSameInstanceIsRefusedFromATransferEvent)
{
    const std::string body(3000, 'r');
    ScriptedServer server(
        {Exchange{{{0, "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n" + body.substr(0, 1000)},
                   {150, body.substr(1000)}},
                  Ending::Close},
         Answer("HTTP/1.1 200 OK", {}, "inner should not be sent")});
    HttpClient client;
    int attempts = 0;
    int refusals = 0;
    client.OnWork = [&](TransferDirection direction, std::int64_t) {
        if (direction != TransferDirection::Receive || attempts > 0)
            return;
        ++attempts;
        try {
            client.Post(At(server, "/inner"), {});
        } catch (const TransportError&) {
            ++refusals;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "inner Post raised another error: " << e.what();
        }
    };
    EXPECT_EQ(client.Post(At(server, "/outer"), {}), QString::fromStdString(body));
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(refusals, 1);
    EXPECT_EQ(server.connectionCount(), 1u);
}
