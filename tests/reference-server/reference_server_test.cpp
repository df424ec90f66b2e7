// The reference server end to end: a real server on a free 127.0.0.1 port
// with a temporary database, reached through the client's own transport and
// read with the client's own parsers.

#include "server_fixture.h"

#include "dates.h"
#include "options.h"
#include "raw_connection.h"

#include <QDate>
#include <QUrl>

#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace refserver_test;

using ReferenceServerTest = EngineTest;

TEST_P(ReferenceServerTest, AddedCustomersComeBackFieldForFieldInNameOrder)
{
    ServerFixture server;
    HttpClient client;
    client.Post(server.address(u"/manage/newguy.php"), CustomerFields(u"99"_s, u"Zoë"_s, u"Ann"_s));
    client.Post(server.address(u"/manage/newguy.php"),
                CustomerFields(u"99"_s, u"van Dijk"_s, u"Piet"_s));
    client.Post(server.address(u"/manage/newguy.php"),
                CustomerFields(u"99"_s, u" Olsen"_s, u"Ole"_s));

    const TCustomerTable table = LoadActive(client, server);
    ASSERT_EQ(table.CustomerCount(), 3);
    EXPECT_EQ(table.LN(0), u" Olsen"); // the leading blank sorts first
    EXPECT_EQ(table.LN(1), u"van Dijk");
    EXPECT_EQ(table.LN(2), u"Zoë");
    EXPECT_NE(table.ID(0), table.ID(1));
    for (std::int32_t row = 0; row < 3; ++row)
        EXPECT_NE(table.ID(row), 99) << "a new customer gets a new number";

    const std::int32_t r = 2;
    EXPECT_EQ(table.FN(r), u"Ann");
    EXPECT_EQ(table.BN(r), u"  Feed & Seed ");
    EXPECT_EQ(table.AD(r), u"12 Elm St\r\nSuite 4");
    EXPECT_EQ(table.ST(r), u"DE");
    EXPECT_EQ(table.P1(r), u"3025550143");
    EXPECT_EQ(table.P2(r), u"");
    EXPECT_EQ(table.EM(r), u"a+b@example.com");
    EXPECT_EQ(table.HO(r), u"Word Of Mouth");
    EXPECT_EQ(table.DV(r), u"CD By Mail");
    EXPECT_EQ(table.PM(r), u"Starter (Receipts)");
    EXPECT_EQ(table.SN(r), u"0042");
    EXPECT_EQ(table.PK(r), u"TLR-1=2");
    EXPECT_EQ(table.BD(r), u"2024-01-15");
    EXPECT_EQ(table.DD(r), u"2024-02-29");
    EXPECT_EQ(table.PD(r), u"0000-00-00"); // sent empty
    EXPECT_EQ(table.ANI(r), u"2025-12-31");
    EXPECT_EQ(table.ACT(r), 1);

    EXPECT_EQ(client.Post(server.address(u"/statecount.php"), {}), u"DE");
    EXPECT_EQ(LoadDormant(client, server).CustomerCount(), 0);
}

TEST_P(ReferenceServerTest, ModifyCallsAndDormantMove)
{
    ServerFixture server;
    HttpClient client;
    client.Post(server.address(u"/manage/newguy.php"), CustomerFields(u"0"_s, u"Alpha"_s, u"A"_s));
    client.Post(server.address(u"/manage/newguy.php"), CustomerFields(u"0"_s, u"Beta"_s, u"B"_s));
    TCustomerTable table = LoadActive(client, server);
    const QString alpha = QString::number(table.ID(0));
    const QString beta = QString::number(table.ID(1));

    QStringList changed = CustomerFields(alpha, u"Alpha"_s, u"Al"_s);
    changed[6] = u"txtST=TX"_s;
    changed.back() = u"txtACT=0"_s;
    client.Post(server.address(u"/manage/modify.php"), changed);
    table = LoadActive(client, server);
    EXPECT_EQ(table.FN(0), u"Al");
    EXPECT_EQ(table.ST(0), u"TX");
    EXPECT_EQ(table.ACT(0), 0); // expired customers stay on the active list

    HttpClient callClient;
    const QString reply =
        callClient.Post(server.address(u"/manage/savecall.php"),
                        {u"ID="_s + beta, u"direction=Outgoing"_s, u"Handler=Carol"_s,
                         u"textarea=Called back & fixed.\r\n\tPrinter works."_s});
    EXPECT_TRUE(reply.startsWith(u"Call saved")) << reply.toStdString();
    callClient.Post(server.address(u"/manage/savecall.php"),
                    {u"ID="_s + alpha, u"direction=Incoming"_s, u"Handler=Anna"_s, u"textarea="_s});

    TCallTable calls = LoadCalls(client, server);
    ASSERT_EQ(calls.CallCount(), 2);
    EXPECT_EQ(calls.CallCustomerID(0), table.ID(1));
    EXPECT_EQ(calls.CallTag1(0), u"Outgoing");
    EXPECT_EQ(calls.CallTag2(0), u"Carol");
    EXPECT_EQ(calls.CallText(0), u"Called back & fixed.\r\n\tPrinter works.");
    EXPECT_EQ(calls.CallDate(0), QDate::currentDate().toString(u"yyyy-MM-dd"));
    EXPECT_EQ(calls.CallTime(0).size(), 8);
    EXPECT_EQ(calls.CallText(1), u"");

    const QString moved =
        client.Post(server.address(u"/manage/dormantcontact.php?ID="_s + beta), {});
    EXPECT_FALSE(moved.isEmpty());
    table = LoadActive(client, server);
    ASSERT_EQ(table.CustomerCount(), 1);
    EXPECT_EQ(table.LN(0), u"Alpha");
    const TCustomerTable dormant = LoadDormant(client, server);
    ASSERT_EQ(dormant.CustomerCount(), 1);
    EXPECT_EQ(dormant.ACT(0), -1);
    calls = LoadCalls(client, server);
    ASSERT_EQ(calls.CallCount(), 1) << "the moved customer's calls are gone";
    EXPECT_EQ(calls.CallTag2(0), u"Anna");

    // Editing a dormant customer with the box unticked keeps it dormant.
    client.Post(
        server.address(u"/manage/modify.php"),
        CustomerFields(beta, u"Beta"_s, u"B"_s).replaceInStrings(u"txtACT=1"_s, u"txtACT=0"_s));
    EXPECT_EQ(LoadDormant(client, server).CustomerCount(), 1);

    const QString stats = client.Post(server.address(u"/quickstats.php"), {});
    EXPECT_EQ(stats, u"0 current, 1 expired, 1 dormant customers; 1 calls logged");
}

TEST_P(ReferenceServerTest, BadInputIsRefusedAndNothingIsStored)
{
    ServerFixture server;
    HttpClient client;
    client.Post(server.address(u"/manage/newguy.php"), CustomerFields(u"0"_s, u"Keep"_s, u"K"_s));
    const QString id = QString::number(LoadActive(client, server).ID(0));
    const QString before = client.Post(server.address(u"/manage/datapile.php"), {});

    QStringList missing = CustomerFields(u"0"_s, u"New"_s, u"N"_s);
    missing.removeAt(5);
    QStringList copyright = CustomerFields(id, u"Sm©ith"_s, u"N"_s);
    QStringList registered = CustomerFields(u"0"_s, u"New"_s, u"N®"_s);
    QStringList badDate = CustomerFields(u"0"_s, u"New"_s, u"N"_s);
    badDate[16] = u"txtBD=02/30/2024"_s;
    QStringList badStatus = CustomerFields(id, u"New"_s, u"N"_s);
    badStatus.back() = u"txtACT=-1"_s;
    QStringList huge = CustomerFields(u"0"_s, u"New"_s, u"N"_s);
    huge[4] = u"txtAD="_s + QString(1100 * 1024, u'x');

    const struct
    {
        const char* what;
        const char16_t* path;
        QStringList fields;
        int status;
    } cases[] = {
        {"missing field", u"/manage/newguy.php", missing, 400},
        {"© in a name", u"/manage/modify.php", copyright, 400},
        {"® in a name", u"/manage/newguy.php", registered, 400},
        {"impossible date", u"/manage/newguy.php", badDate, 400},
        {"bad status", u"/manage/modify.php", badStatus, 400},
        {"non-numeric ID", u"/manage/modify.php", CustomerFields(u"7x"_s, u"N"_s, u"N"_s), 400},
        {"unknown ID", u"/manage/modify.php", CustomerFields(u"123456"_s, u"N"_s, u"N"_s), 404},
        {"oversized body", u"/manage/newguy.php", huge, 413},
        {"call for nobody",
         u"/manage/savecall.php",
         {u"ID=424242"_s, u"direction=Incoming"_s, u"Handler=Anna"_s, u"textarea=x"_s},
         404},
        {"call without text",
         u"/manage/savecall.php",
         {u"ID="_s + id, u"direction=Incoming"_s, u"Handler=Anna"_s},
         400},
        {"dormant move of nobody", u"/manage/dormantcontact.php?ID=424242", {}, 404},
        {"dormant move without number", u"/manage/dormantcontact.php?ID=abc", {}, 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(StatusOf(client, server.address(c.path), c.fields), c.status);
    }
    EXPECT_EQ(client.Post(server.address(u"/manage/datapile.php"), {}), before);
    EXPECT_EQ(LoadCalls(client, server).CallCount(), 0);
    EXPECT_EQ(LoadDormant(client, server).CustomerCount(), 0);
}

TEST_P(ReferenceServerTest, BasicAuthenticationGuardsEveryScript)
{
    ServerConfig config = ServerFixture::quietConfig();
    config.credentials = OneUser("staff", "s3cret");
    config.failedSignInsPerSecond = 1000; // the wrong client fails on purpose, many times
    ServerFixture server(config);
    HttpClient staff(u"staff"_s, u"s3cret"_s);
    staff.Post(server.address(u"/manage/newguy.php"), CustomerFields(u"0"_s, u"A"_s, u"B"_s));
    const QString id = QString::number(LoadActive(staff, server).ID(0));
    const QString before = staff.Post(server.address(u"/manage/datapile.php"), {});

    // The write scripts too: without credentials anyone could add or
    // overwrite customers and log calls.
    const struct
    {
        const char16_t* path;
        QStringList fields;
    } scripts[] = {
        {u"/manage/datapile.php", {}},
        {u"/manage/dormantpile.php", {}},
        {u"/quickstats.php", {}},
        {u"/manage/callpile.php", {}},
        {u"/statecount.php", {}},
        {u"/manage/dormantcontact.php?ID=", {}},
        {u"/manage/newguy.php", CustomerFields(u"0"_s, u"Intruder"_s, u"I"_s)},
        {u"/manage/modify.php", CustomerFields(id, u"Intruder"_s, u"I"_s)},
        {u"/manage/savecall.php",
         {u"ID="_s + id, u"direction=Incoming"_s, u"Handler=Anna"_s, u"textarea=x"_s}},
    };
    HttpClient anonymous;
    HttpClient wrong(u"staff"_s, u"guess"_s);
    for (const auto& s : scripts) {
        QString path = QString::fromUtf16(s.path);
        if (path.endsWith(u'='))
            path += id;
        SCOPED_TRACE(path.toStdString());
        const Answer refused = PostFor(anonymous, server.address(path), s.fields);
        EXPECT_EQ(refused.status, 401);
        EXPECT_EQ(refused.text, u"Please sign in to the Tillora server.");
        EXPECT_EQ(PostFor(wrong, server.address(path), s.fields).status, 401);
    }
    EXPECT_EQ(staff.Post(server.address(u"/manage/datapile.php"), {}), before);
    EXPECT_EQ(LoadCalls(staff, server).CallCount(), 0);
    EXPECT_EQ(LoadDormant(staff, server).CustomerCount(), 0);
}

// Guessing is slowed per client: past ten failures in a second the password
// is not even looked at, so the right one is refused too until the second
// is over. Other clients, as the front names them, are not held up.
TEST_P(ReferenceServerTest, FailedSignInsAreSlowedPerClient)
{
    ServerConfig config = ServerFixture::quietConfig();
    config.credentials = OneUser("staff", "s3cret");
    ServerFixture server(config);
    const auto ask = [&](const std::string& password, const std::string& client = {}) {
        const std::string pair = "staff:" + password;
        const std::string request =
            "POST /quickstats.php HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
            "Content-Length: 0\r\nAuthorization: Basic " +
            QByteArray::fromStdString(pair).toBase64().toStdString() + "\r\n" +
            (client.empty() ? "" : "X-Real-IP: " + client + "\r\n") + "\r\n";
        RawConnection connection(server.port());
        connection.send(request);
        const std::string answer = connection.receive(std::chrono::seconds(10));
        return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
    };

    std::map<int, int> statuses;
    for (int i = 0; i < 30; ++i)
        ++statuses[ask("guess" + std::to_string(i))];
    EXPECT_GE(statuses[401], 10);
    EXPECT_LE(statuses[401], 20) << "at most ten a second, and the guesses took under two";
    EXPECT_GE(statuses[429], 10);
    EXPECT_EQ(statuses[200], 0);
    EXPECT_EQ(ask("s3cret", "10.0.0.7"), 200);
    EXPECT_EQ(ask("guess", "10.0.0.7"), 401);

    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(ask("s3cret"), 200);
}

// The users file holds hashes only; a plain password or a broken line is
// named when the server starts instead of locking everyone out later.
TEST_P(ReferenceServerTest, UsersFiles)
{
    using refserver::Credentials;
    const std::string hash = refserver::HashPassword("pa:ss wörd");
    const auto users = std::get<Credentials>(
        Credentials::Parse("# staff\n\nanna:" + hash + "\r\nbrian:" + refserver::HashPassword("b") + "\n"));
    const auto basic = [](const std::string& pair) {
        return "Basic " + QByteArray::fromStdString(pair).toBase64().toStdString();
    };
    EXPECT_EQ(users.verify(basic("anna:pa:ss wörd")), "anna");
    EXPECT_EQ(users.verify(basic("anna:pa:ss wörd")), "anna") << "verified again from memory";
    EXPECT_EQ(users.verify("basic " + basic("brian:b").substr(6)), "brian");
    for (const std::string& wrong : {basic("anna:pa:ss word"), basic("anna:b"), basic("carol:b"),
                                     basic("anna"), std::string("Basic"), std::string("Basic ***"),
                                     std::string("Bearer x"), std::string()}) {
        SCOPED_TRACE(wrong);
        EXPECT_EQ(users.verify(wrong), std::nullopt);
    }

    const struct
    {
        std::string text;
        std::string error;
    } bad[] = {
        {"anna:secret\n", "line 1: the password of \"anna\" is not a crypt hash (make one with: "
                          "openssl passwd -6)"},
        {"\nanna " + hash + "\n", "line 2 is not \"user:hash\""},
        {"anna:" + hash + "\nanna:" + hash, "line 2: the user \"anna\" is listed twice"},
        {"# nobody\n", "the users file names no user"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.text);
        const auto parsed = Credentials::Parse(b.text);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
        EXPECT_EQ(std::get<std::string>(parsed), b.error);
    }
}

TEST_P(ReferenceServerTest, Latin1AndUtf8AnswersDecodeTheSame)
{
    ServerFixture utf8Server;
    HttpClient client;
    client.Post(utf8Server.address(u"/manage/newguy.php"),
                CustomerFields(u"0"_s, u"Müller"_s, u"Zoë"_s));
    ServerConfig latin1Config = ServerFixture::quietConfig();
    latin1Config.latin1 = true;
    ServerFixture latin1Server(latin1Config, utf8Server.dbPath());

    const QString utf8 = client.Post(utf8Server.address(u"/manage/datapile.php"), {});
    const QString latin1 = client.Post(latin1Server.address(u"/manage/datapile.php"), {});
    EXPECT_EQ(utf8, latin1);
    EXPECT_EQ(TCustomerTable::Parse(latin1).LN(0), u"Müller");
}

TEST_P(ReferenceServerTest, ConcurrentClientsLoseNothing)
{
    ServerFixture server;
    constexpr int Clients = 8;
    constexpr int Requests = 200;
    {
        HttpClient setup;
        setup.Post(server.address(u"/manage/newguy.php"),
                   CustomerFields(u"0"_s, u"Base"_s, u"B"_s));
    }
    const QString baseId = [&] {
        HttpClient c;
        return QString::number(LoadActive(c, server).ID(0));
    }();

    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Clients; ++t) {
        threads.emplace_back([&, t] {
            HttpClient client;
            for (int i = 0; i < Requests; ++i) {
                try {
                    switch (i % 4) {
                    case 0:
                        client.Post(server.address(u"/manage/newguy.php"),
                                    CustomerFields(u"0"_s, u"T"_s + QString::number(t),
                                                   QString::number(i)));
                        break;
                    case 1:
                        client.Post(server.address(u"/manage/savecall.php"),
                                    {u"ID="_s + baseId, u"direction=Incoming"_s, u"Handler=Anna"_s,
                                     u"textarea=%1/%2"_s.arg(t).arg(i)});
                        break;
                    case 2:
                        LoadActive(client, server);
                        break;
                    default:
                        LoadCalls(client, server);
                    }
                } catch (const std::exception&) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();

    EXPECT_EQ(failures.load(), 0);
    HttpClient client;
    EXPECT_EQ(LoadActive(client, server).CustomerCount(), 1 + Clients * Requests / 4);
    EXPECT_EQ(LoadCalls(client, server).CallCount(), Clients * Requests / 4);
}

TEST_P(ReferenceServerTest, DataSurviveARestart)
{
    QTemporaryDir dir;
    const QString path = FreshDatabase(dir);
    QString before;
    {
        ServerFixture server(ServerFixture::quietConfig(), path);
        HttpClient client;
        client.Post(server.address(u"/manage/newguy.php"),
                    CustomerFields(u"0"_s, u"Kept"_s, u"K"_s));
        before = client.Post(server.address(u"/manage/datapile.php"), {});
    }
    ServerFixture again(ServerFixture::quietConfig(), path);
    HttpClient client;
    EXPECT_EQ(client.Post(again.address(u"/manage/datapile.php"), {}), before);
}

TEST_P(ReferenceServerTest, OptionsAndBusyPort)
{
    using refserver::Options;
    const auto parse = [](std::vector<const char*> args) {
        args.insert(args.begin(), "tillora-server");
        return refserver::ParseOptions(int(args.size()), args.data());
    };
    const auto ok = parse({"--listen", "127.0.0.2:9000", "--db", "x.sqlite", "--users",
                           "staff.users", "--latin1", "--generate", "10,20"});
    ASSERT_TRUE(std::holds_alternative<Options>(ok));
    const Options& o = std::get<Options>(ok);
    EXPECT_EQ(o.host, "127.0.0.2");
    EXPECT_EQ(o.port, 9000);
    EXPECT_EQ(o.database, "x.sqlite");
    EXPECT_EQ(o.usersFile, "staff.users");
    EXPECT_TRUE(o.latin1);
    EXPECT_EQ(o.generate, std::make_pair(10L, 20L));
    EXPECT_EQ(std::get<Options>(parse({"--listen", "[::1]:0"})).host, "::1");
    EXPECT_EQ(std::get<Options>(parse({"--listen", "localhost:80"})).host, "localhost");

    for (const std::vector<const char*>& bad : {std::vector<const char*>{"--bogus"},
                                                {"--listen", "8080"},
                                                {"--listen", "x:99999"},
                                                {"--listen", "0.0.0.0:8080"},
                                                {"--listen", "192.168.1.5:8080"},
                                                {"--listen", "127.0.0.1.evil.example:8080"},
                                                {"--listen", "127.0.0.256:8080"},
                                                {"--listen", "[::]:8080"},
                                                {"--auth", "u:p"},
                                                {"--tls-cert", "c.pem"},
                                                {"--users"},
                                                {"--generate", "5"},
                                                {"--generate", "0,3"},
                                                {"--db"},
                                                {"--demo", "--generate", "1,1"}}) {
        EXPECT_TRUE(std::holds_alternative<std::string>(parse(bad))) << bad[0] << " " << bad.back();
    }
    const auto remote = parse({"--listen", "0.0.0.0:8080"});
    EXPECT_NE(std::get<std::string>(remote).find("nginx front"), std::string::npos);

    ServerFixture first;
    QTemporaryDir dir;
    const std::unique_ptr<Store> store = refserver::OpenStore(FreshDatabase(dir).toStdString());
    ReferenceServer second(*store, ServerFixture::quietConfig());
    EXPECT_FALSE(second.bind("127.0.0.1", QUrl(first.address(u"/")).port()));
}

TILLORA_ON_BOTH_ENGINES(ReferenceServerTest);

} // namespace
