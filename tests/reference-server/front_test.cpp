// The deployment through its nginx front, started by scripts/stack as a
// vendor would: what reaches the scripts, what the front refuses itself, and
// the client's own transport over HTTPS with an authority made for the run.

#include "raw_connection.h"
#include "server_fixture.h"
#include "stack_fixture.h"

#include "credentials.h"
#include "test_certificates.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace refserver_test;
using namespace std::chrono_literals;

constexpr std::size_t OneMiB = 1 << 20;
const std::string TooLarge =
    "Error: the request body is larger than the limit of 1 MiB (1048576 bytes).";

RawAnswer Exchange(const StackFixture& stack, const std::string& request,
               std::chrono::milliseconds wait = 10s)
{
    RawConnection connection(stack.port());
    connection.send(request);
    return ParseAnswer(connection.receive(wait));
}

std::string Post(const std::string& target, const std::string& body,
                 const std::string& headers = {}, const std::string& host = "127.0.0.1")
{
    return "POST " + target + " HTTP/1.1\r\nHost: " + host +
           "\r\nConnection: close\r\nContent-Type: application/x-www-form-urlencoded\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body;
}

std::string Chunked(const std::string& target, const std::string& body)
{
    std::string request = "POST " + target +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                          "Content-Type: application/x-www-form-urlencoded\r\n"
                          "Transfer-Encoding: chunked\r\n\r\n";
    for (std::size_t at = 0; at < body.size(); at += 65536) {
        const std::string piece = body.substr(at, 65536);
        char size[20];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        request += size + piece + "\r\n";
    }
    return request + "0\r\n\r\n";
}

void ExpectSafetyHeaders(const RawAnswer& reply)
{
    EXPECT_EQ(reply.header("X-Content-Type-Options"), "nosniff") << reply.head;
    EXPECT_EQ(reply.header("Content-Security-Policy"), "sandbox; default-src 'none'");
    EXPECT_EQ(reply.header("Referrer-Policy"), "no-referrer");
}

// The peak memory of a process, in bytes.
std::size_t PeakMemory(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmHWM:"))
            return std::stoul(line.substr(6)) * 1024;
    return 0;
}

// True once nothing listens on a loopback port.
bool Refused(int port)
{
    try {
        RawConnection probe(port);
        return false;
    } catch (const std::runtime_error&) {
        return true;
    }
}

std::string CallBody(const std::string& id, const std::string& note)
{
    return "ID=" + id + "&direction=Incoming&Handler=Anna&textarea=" + note;
}

TEST(FrontTest, OtherSitesAndForeignHostNamesGetNothing)
{
    StackFixture stack({"--demo"});
    HttpClient client;
    const TCustomerTable before =
        TCustomerTable::Parse(client.Post(stack.address(u"/manage/datapile.php"), {}));
    ASSERT_GT(before.CustomerCount(), 0);
    const std::string move = "/manage/dormantcontact.php?ID=" + std::to_string(before.ID(0));
    const std::string port = std::to_string(stack.port());

    const struct
    {
        const char* what;
        std::string request;
        int status;
        std::string text;
    } cases[] = {
        {"a page's origin", Post(move, "", "Origin: https://evil.example\r\n"), 403,
         "Error: requests from web pages are refused."},
        {"a cross-site fetch", Post(move, "", "Sec-Fetch-Site: cross-site\r\n"), 403,
         "Error: requests from web pages are refused."},
        {"a rebound host name", Post(move, "", {}, "evil.example:" + port), 421,
         "Error: this server does not answer for that host name."},
        {"a host name ending like ours", Post(move, "", {}, "localhost.evil.example"), 421,
         "Error: this server does not answer for that host name."},
        {"a script in the number", Post("/manage/dormantcontact.php?ID=%3Cscript%3E", ""), 400,
         "Error: The customer number must hold digits only."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RawAnswer reply = Exchange(stack, c.request);
        EXPECT_EQ(reply.status, c.status) << reply.head;
        EXPECT_EQ(reply.body, c.text);
        ExpectSafetyHeaders(reply);
    }
    const TCustomerTable after =
        TCustomerTable::Parse(client.Post(stack.address(u"/manage/datapile.php"), {}));
    EXPECT_EQ(after.CustomerCount(), before.CustomerCount()) << "nothing was moved";

    // Both names of the stack serve.
    HttpClient byName;
    EXPECT_EQ(byName.Post(stack.address(u"/quickstats.php", u"localhost"), {}),
              client.Post(stack.address(u"/quickstats.php"), {}));
    ExpectSafetyHeaders(Exchange(stack, Post("/quickstats.php", "")));
}

TEST(FrontTest, BodyLimitsHoldWhoeverAnswers)
{
    StackFixture stack;
    HttpClient client;
    client.Post(stack.address(u"/manage/newguy.php"), CustomerFields(u"0"_s, u"Limit"_s, u"L"_s));
    const std::string id = std::to_string(
        TCustomerTable::Parse(client.Post(stack.address(u"/manage/datapile.php"), {})).ID(0));
    const std::string prefix = CallBody(id, "");
    const std::string fits = prefix + std::string(OneMiB - prefix.size(), 'x');
    const std::string over = fits + "x";

    const struct
    {
        const char* what;
        std::string request;
        int status;
        std::string text; // empty: not checked
    } cases[] = {
        {"exactly 1 MiB", Post("/manage/savecall.php", fits), 200, ""},
        {"exactly 1 MiB in chunks", Chunked("/manage/savecall.php", fits), 200, ""},
        {"a byte over", Post("/manage/savecall.php", over), 413, TooLarge},
        {"a byte over in chunks", Chunked("/manage/savecall.php", over), 413, TooLarge},
        {"a length far beyond",
         "POST /manage/savecall.php HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
         "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 10737418240\r\n\r\n",
         413, TooLarge},
        {"another type", Post("/manage/savecall.php", prefix, "Content-Type: text/plain\r\n"), 415,
         ""},
        {"a compressed body", Post("/manage/savecall.php", prefix, "Content-Encoding: gzip\r\n"),
         415, ""},
        {"an unknown transfer coding",
         "POST /manage/savecall.php HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
         "Content-Type: application/x-www-form-urlencoded\r\nTransfer-Encoding: gzip, "
         "chunked\r\n\r\n0\r\n\r\n",
         501,
         "Error: the transfer coding is not supported; send the body with a Content-Length or "
         "chunked."},
        {"a GET", "GET /manage/datapile.php HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
         405, "Error: the scripts answer POST requests only."},
        {"a header line of 20,000 bytes",
         Post("/quickstats.php", "", "X-Filler: " + std::string(20000, 'y') + "\r\n"), 431,
         "Error: the request line or its headers are too long."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RawAnswer reply = Exchange(stack, c.request, 20s);
        EXPECT_EQ(reply.status, c.status) << reply.head << "\n" << reply.body;
        if (!c.text.empty()) {
            EXPECT_EQ(reply.body, c.text);
        }
        EXPECT_TRUE(c.status == 200 || reply.body.starts_with("Error: ")) << reply.body;
        EXPECT_EQ(reply.body.find("nginx"), std::string::npos);
        ExpectSafetyHeaders(reply);
        if (c.status == 405) {
            EXPECT_EQ(reply.header("Allow"), "POST");
        }
    }
    EXPECT_EQ(TCallTable::Parse(client.Post(stack.address(u"/manage/callpile.php"), {})).CallCount(),
              2);
}

// Idle, trickling and head-only connections are the front's to hold; the
// scripts only see requests that arrived whole. A liveness check, not a
// timing: a front that handed them on would leave the last request waiting.
TEST(FrontTest, SlowIdleAndHeadOnlyClientsDoNotHoldUpOthers)
{
    StackFixture stack;
    std::vector<std::unique_ptr<RawConnection>> idle, trickling, headOnly;
    for (int i = 0; i < 200; ++i)
        idle.push_back(std::make_unique<RawConnection>(stack.port()));
    for (int i = 0; i < 300; ++i) {
        headOnly.push_back(std::make_unique<RawConnection>(stack.port()));
        headOnly.back()->send("POST /quickstats.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                              "Content-Type: application/x-www-form-urlencoded\r\n"
                              "Content-Length: 10\r\n\r\n");
    }
    for (int i = 0; i < 8; ++i)
        trickling.push_back(std::make_unique<RawConnection>(stack.port()));
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        const std::string request = Post("/quickstats.php", "");
        for (std::size_t i = 0; i < request.size() && !done; ++i) {
            for (auto& t : trickling)
                t->send(request.substr(i, 1));
            for (int wait = 0; wait < 5 && !done; ++wait)
                std::this_thread::sleep_for(100ms);
        }
    });
    std::this_thread::sleep_for(1s);

    const RawAnswer normal = Exchange(stack, Post("/quickstats.php", ""), 5s);
    EXPECT_EQ(normal.status, 200) << normal.head;
    EXPECT_EQ(normal.body, "0 current, 0 expired, 0 dormant customers; 0 calls logged");
    done = true;
    trickle.join();
}

// The front hands over whole bodies of at most 1 MiB; the server counts the
// fields before decoding any, so a body of separators costs it little.
TEST(FrontTest, AFloodOfSeparatorsIsRefusedWithLittleMemory)
{
    StackFixture stack;
    const pid_t server = stack.servers().at(1).pid;
    const std::size_t before = PeakMemory(server);
    ASSERT_GT(before, 0u);
    std::vector<std::thread> senders;
    std::atomic<int> refused{0};
    for (int i = 0; i < 8; ++i)
        senders.emplace_back([&] {
            const RawAnswer reply =
                Exchange(stack, Post("/manage/savecall.php", std::string(OneMiB, '&')), 30s);
            refused += reply.status == 400 &&
                       reply.body == "Error: The form body has more than 64 fields.";
        });
    for (std::thread& t : senders)
        t.join();
    EXPECT_EQ(refused, 8);
    // Eight bodies of 1 MiB held at once and a few MiB besides (the
    // address sanitizer's shadow memory included): parsing them into fields
    // would take hundreds.
    EXPECT_LT(PeakMemory(server) - before, 64 * OneMiB);
}

TEST(FrontTest, StaffSignInThroughTheFront)
{
    QTemporaryDir dir;
    const QString users = dir.filePath(u"users"_s);
    testpki::WriteFile(users.toStdString(),
                       "# staff\nstaff:" + refserver::HashPassword("s3cret") + "\n");
    StackFixture stack({"--users", users.toStdString()});
    const QString stats = stack.address(u"/quickstats.php");

    HttpClient anonymous;
    const Answer refused = PostFor(anonymous, stats, {});
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(refused.text, u"Please sign in to the Tillora server.");
    HttpClient staff(u"staff"_s, u"s3cret"_s);
    EXPECT_EQ(staff.Post(stats, {}), u"0 current, 0 expired, 0 dormant customers; 0 calls logged");

    // Guesses are slowed whatever client address a guesser claims: the front
    // names the client itself.
    std::map<int, int> statuses;
    for (int i = 0; i < 30; ++i) {
        const std::string pair = "staff:guess" + std::to_string(i);
        ++statuses[Exchange(stack, Post("/quickstats.php", "",
                                         "Authorization: Basic " +
                                             QByteArray::fromStdString(pair).toBase64().toStdString() +
                                             "\r\nX-Real-IP: 10.0.0." + std::to_string(i) + "\r\n"))
                       .status];
    }
    EXPECT_GE(statuses[401], 10);
    EXPECT_LE(statuses[401], 20);
    EXPECT_GE(statuses[429], 10);

    // The log names the user of each request.
    EXPECT_TRUE(stack.waitFor(" 200 ", 5s));
    EXPECT_NE(stack.output().find("POST /quickstats.php 200 "), std::string::npos);
    EXPECT_NE(stack.output().find(" staff\n"), std::string::npos) << stack.output();
}

// A private authority and certificates made for the run, the front speaking
// HTTPS with them: the client checks the certificate and the host name.
TEST(FrontTest, TheClientSavesAndLoadsOverHttps)
{
    QTemporaryDir dir;
    const testpki::Authority ca("Tillora Test CA");
    const testpki::Identity identity = ca.issue("Tillora server", testpki::LocalNames);
    const QString caFile = dir.filePath(u"ca.pem"_s);
    const std::string certificate = dir.filePath(u"server.pem"_s).toStdString();
    const std::string key = dir.filePath(u"server.key"_s).toStdString();
    testpki::WriteFile(caFile.toStdString(), ca.certificate());
    testpki::WriteFile(certificate, identity.certificate);
    testpki::WriteFile(key, identity.key);
    StackFixture stack({"--tls-cert", certificate, "--tls-key", key});
    ASSERT_TRUE(stack.address(u"/").startsWith(u"https://127.0.0.1:"));

    HttpClient client;
    client.setCaFile(caFile);
    client.Post(stack.address(u"/manage/newguy.php"), CustomerFields(u"0"_s, u"Zoë"_s, u"Ann"_s));
    // Many TLS records each way: the form out, the list back.
    QStringList large = CustomerFields(u"0"_s, u"Long"_s, u"Lou"_s);
    const QString address = QString(300'000, u'a');
    large[4] = u"txtAD="_s + address;
    client.Post(stack.address(u"/manage/newguy.php"), large);
    const TCustomerTable table =
        TCustomerTable::Parse(client.Post(stack.address(u"/manage/datapile.php"), {}));
    ASSERT_EQ(table.CustomerCount(), 2);
    EXPECT_EQ(table.AD(0), address);
    EXPECT_EQ(table.LN(1), u"Zoë");

    // The call dialog reaches the server by name.
    HttpClient callClient;
    callClient.setCaFile(caFile);
    const QString reply = callClient.Post(
        stack.address(u"/manage/savecall.php", u"localhost"),
        {u"ID="_s + QString::number(table.ID(1)), u"direction=Incoming"_s, u"Handler=Anna"_s,
         u"textarea=Over TLS & fine."_s});
    EXPECT_TRUE(reply.startsWith(u"Call saved")) << reply.toStdString();

    // Another authority's trust: refused before anything is sent.
    const testpki::Authority other("Someone Else's CA");
    const QString otherFile = dir.filePath(u"other.pem"_s);
    testpki::WriteFile(otherFile.toStdString(), other.certificate());
    HttpClient misled;
    misled.setCaFile(otherFile);
    try {
        misled.Post(stack.address(u"/manage/newguy.php"), CustomerFields(u"0"_s, u"Leak"_s, u"L"_s));
        ADD_FAILURE() << "the request went through";
    } catch (const TransportError& e) {
        EXPECT_EQ(e.message(), u"The server's certificate could not be verified: unable to get "
                               u"local issuer certificate.");
    }
    EXPECT_EQ(client.Post(stack.address(u"/quickstats.php"), {}),
              u"2 current, 0 expired, 0 dormant customers; 1 calls logged");

    // tillora-post with and without the authority.
    const struct
    {
        const char* what;
        QStringList arguments;
        int exitCode;
        QString out;
        QString err;
    } cases[] = {
        {"the private authority", {u"--cacert"_s, caFile, stack.address(u"/quickstats.php")}, 0,
         u"2 current, 0 expired, 0 dormant customers; 1 calls logged\n"_s, {}},
        {"the system's authorities only", {stack.address(u"/quickstats.php")}, 1, {},
         u"The server's certificate could not be verified: unable to get local issuer "
         u"certificate.\n"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QProcess post;
        post.start(QStringLiteral(TILLORA_POST_PATH), c.arguments);
        ASSERT_TRUE(post.waitForFinished(60'000));
        EXPECT_EQ(post.exitCode(), c.exitCode);
        EXPECT_EQ(QString::fromUtf8(post.readAllStandardOutput()), c.out);
        EXPECT_EQ(QString::fromUtf8(post.readAllStandardError()), c.err);
    }
}

// The files the server makes are its own whoever starts it; an error of its
// own tells the client nothing of them.
TEST(FrontTest, DatabaseFilesArePrivateAndFailuresLeakNothing)
{
    QTemporaryDir dir;
    const std::string db = dir.filePath(u"stack.sqlite"_s).toStdString();
    StackFixture stack({"--db", db});
    HttpClient client;
    client.Post(stack.address(u"/manage/newguy.php"), CustomerFields(u"0"_s, u"Mode"_s, u"M"_s));
    for (const std::string suffix : {"", "-wal", "-shm"}) {
        SCOPED_TRACE(suffix);
        struct stat info{};
        ASSERT_EQ(::stat((db + suffix).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }

    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(handle, "DROP TABLE calls", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(handle);
    const RawAnswer reply = Exchange(stack, Post("/manage/callpile.php", ""));
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body, "Error: the server could not complete the request.");
    EXPECT_TRUE(stack.waitFor("no such table", 5s)) << "the detail goes to the log";
}

// A server that dies is started again; meanwhile and afterwards the front
// keeps answering, and the stack leaves nothing behind when it stops.
TEST(FrontTest, AServerThatDiesIsStartedAgain)
{
    auto stack = std::make_unique<StackFixture>(std::vector<std::string>{"--servers", "2"});
    const auto servers = stack->servers();
    ASSERT_EQ(servers.size(), 2u) << stack->output();
    HttpClient client;
    const QString stats = stack->address(u"/quickstats.php");
    const std::size_t seen = stack->output().size();
    ASSERT_EQ(::kill(servers.at(1).pid, SIGKILL), 0);
    // A request the dying server had already taken is cut, and nginx rightly
    // does not send a POST twice; the requests after its death all go to
    // the other server.
    while (!Refused(servers.at(1).port))
        std::this_thread::sleep_for(10ms);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(PostFor(client, stats, {}).status, 200) << stack->output();
    ASSERT_TRUE(stack->waitFor("stack: server 1 pid", 30s, seen)) << stack->output();
    EXPECT_NE(stack->servers().at(1).pid, servers.at(1).pid);
    EXPECT_EQ(stack->servers().at(1).port, servers.at(1).port);
    EXPECT_EQ(PostFor(client, stats, {}).status, 200) << stack->output();

    const auto after = stack->servers();
    EXPECT_EQ(stack->stop(), 0);
    for (const auto& [number, server] : after) {
        SCOPED_TRACE(number);
        EXPECT_NE(::kill(server.pid, 0), 0) << "a server outlived the stack";
    }
}

} // namespace
