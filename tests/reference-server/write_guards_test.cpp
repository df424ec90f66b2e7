// The two write guards end to end: RowDigest on the customer save and
// RequestId on every write, through the client's own transport, digest and
// parsers against the real server.

#include "server_fixture.h"

#include "write_requests.h"

#include <QCryptographicHash>

#include <latch>
#include <set>
#include <thread>
#include <vector>

namespace {

using namespace refserver_test;

using RowDigestTest = EngineTest;
using RequestIdTest = EngineTest;
using WriteGuardsTest = EngineTest;

const QString Modify = u"/manage/modify.php"_s;
const QString NewGuy = u"/manage/newguy.php"_s;
const QString SaveCall = u"/manage/savecall.php"_s;

// Everything the server lists, to show that nothing changed.
QString Snapshot(const ServerFixture& server)
{
    HttpClient client;
    return client.Post(server.address(u"/manage/datapile.php"), {}) +
           client.Post(server.address(u"/manage/dormantpile.php"), {}) +
           client.Post(server.address(u"/manage/callpile.php"), {});
}

// The row of the customer with this last name, and its table.
struct Loaded
{
    TCustomerTable table;
    std::int32_t row = -1;
    QString id() const { return QString::number(table.ID(row)); }
    QString digest() const { return RowDigest(table, row); }
};

Loaded Load(const ServerFixture& server, const QString& last)
{
    HttpClient client;
    Loaded loaded{LoadActive(client, server)};
    for (std::int32_t r = 0; r < loaded.table.CustomerCount(); ++r)
        if (loaded.table.LN(r) == last)
            loaded.row = r;
    EXPECT_GE(loaded.row, 0) << "no customer " << last.toStdString();
    return loaded;
}

// The customer save of `loaded` with one field changed and the guards given.
QStringList Save(const Loaded& loaded, const QString& last, const QString& changed,
                 const QStringList& guards)
{
    QStringList fields = CustomerFields(loaded.id(), last, u"F"_s);
    const QString name = changed.left(changed.indexOf(u'=') + 1);
    for (QString& f : fields)
        if (f.startsWith(name))
            f = changed;
    return fields + guards;
}

QString Id(char fill)
{
    return QString(32, QChar::fromLatin1(fill));
}

TEST_P(RowDigestTest, CanonicalRecordAndDigestAgreeOverBothCharsetsAndWithTheServer)
{
    QTemporaryDir dir;
    const QString db = FreshDatabase(dir);
    ServerConfig latin1 = ServerFixture::quietConfig();
    latin1.latin1 = true;
    ServerFixture utf8Server(ServerFixture::quietConfig(), db);
    ServerFixture latin1Server(latin1, db);
    HttpClient client;
    QStringList fields = CustomerFields(u"0"_s, u"Müller & Söhne"_s, u" Zoë "_s);
    fields[3] = u"txtBN=Café «Ñandú» & Co  "_s;
    client.Post(utf8Server.address(NewGuy), fields);

    const TCustomerTable overUtf8 = LoadActive(client, utf8Server);
    const TCustomerTable overLatin1 = LoadActive(client, latin1Server);
    ASSERT_EQ(overUtf8.CustomerCount(), 1);
    ASSERT_EQ(overLatin1.CustomerCount(), 1);
    const QString id = QString::number(overUtf8.ID(0));
    const QString expected = id + u"©Müller & Söhne© Zoë ©Café «Ñandú» & Co  ©12 Elm St\r\nSuite 4©"
                                  "Dover©DE©19901©3025550143©©a+b@example.com©Word Of Mouth©"
                                  "CD By Mail©0042©TLR-1=2©Starter (Receipts)©2024-01-15©"
                                  "2024-02-29©2025-12-31©0000-00-00©1"_s;
    EXPECT_EQ(CanonicalRecord(overUtf8, 0), expected);
    EXPECT_EQ(CanonicalRecord(overLatin1, 0), expected);
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(expected.toUtf8(), QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(RowDigest(overUtf8, 0), digest);
    EXPECT_EQ(RowDigest(overLatin1, 0), digest);

    // Each server takes the digest read over the other's charset.
    Loaded loaded{overLatin1, 0};
    EXPECT_EQ(
        PostFor(client, utf8Server.address(Modify),
                Save(loaded, u"Müller & Söhne"_s, u"txtCY=Dover"_s, {u"RowDigest="_s + digest}))
            .status,
        200);
    loaded = Load(latin1Server, u"Müller & Söhne"_s);
    EXPECT_EQ(PostFor(client, latin1Server.address(Modify),
                      Save(loaded, u"Müller & Söhne"_s, u"txtCY=Lewes"_s,
                           {u"RowDigest="_s + loaded.digest()}))
                  .status,
              200);
    EXPECT_EQ(Load(utf8Server, u"Müller & Söhne"_s).table.CY(0), u"Lewes");

    // A character beyond Latin-1 reaches a Latin-1 reader as "?": the digest
    // that server expects is that of the record its reader has.
    fields = CustomerFields(u"0"_s, u"Euro €"_s, u"E"_s);
    client.Post(utf8Server.address(NewGuy), fields);
    const Loaded euro = Load(latin1Server, u"Euro ?"_s);
    EXPECT_EQ(
        PostFor(client, latin1Server.address(Modify),
                Save(euro, u"Euro €"_s, u"txtCY=Milford"_s, {u"RowDigest="_s + euro.digest()}))
            .status,
        200);
    const Loaded after = Load(utf8Server, u"Euro €"_s);
    EXPECT_EQ(after.table.CY(after.row), u"Milford");
}

TEST_P(RowDigestTest, ASaveOverAChangedRowIsRefusedWithTheStoredRecordUntilItIsBasedOnIt)
{
    ServerFixture server;
    HttpClient client;
    client.Post(server.address(NewGuy), CustomerFields(u"0"_s, u"Alpha"_s, u"F"_s));
    const Loaded first = Load(server, u"Alpha"_s);
    const Loaded second = Load(server, u"Alpha"_s);

    // The first operator saves a new telephone number.
    ASSERT_EQ(
        PostFor(client, server.address(Modify),
                Save(first, u"Alpha"_s, u"txtP1=3025550199"_s, {u"RowDigest="_s + first.digest()}))
            .status,
        200);
    const QString afterFirst = Snapshot(server);

    // The second, loaded before that, saves an address.
    const QStringList stale =
        Save(second, u"Alpha"_s, u"txtAD=9 Oak Rd"_s, {u"RowDigest="_s + second.digest()});
    const Answer refused = PostFor(client, server.address(Modify), stale);
    ASSERT_EQ(refused.status, 409);
    const QString line = refused.text.section(u'\n', 0, 0);
    EXPECT_TRUE(line.startsWith(u"Error: "_s)) << line.toStdString();
    EXPECT_TRUE(line.contains(u"Address, Phone 1 (Pref)."_s)) << line.toStdString();
    EXPECT_TRUE(line.contains(u"nothing was stored"_s)) << line.toStdString();
    EXPECT_EQ(Snapshot(server), afterFirst);

    const std::optional<ChangedRow> changed = ReadChangedRow(refused.text);
    ASSERT_TRUE(changed);
    ASSERT_EQ(changed->current.CustomerCount(), 1);
    EXPECT_EQ(changed->current.P1(0), u"3025550199");
    EXPECT_EQ(CanonicalRecord(changed->current, 0),
              CanonicalRecord(Load(server, u"Alpha"_s).table, 0));

    // Saved again with the digest of the record the refusal carried: a
    // deliberate overwrite, the old telephone number included.
    const QString current = RowDigest(changed->current, 0);
    QStringList deliberate = stale;
    deliberate.back() = u"RowDigest="_s + current;
    ASSERT_EQ(PostFor(client, server.address(Modify), deliberate).status, 200);
    const Loaded stored = Load(server, u"Alpha"_s);
    EXPECT_EQ(stored.table.AD(stored.row), u"9 Oak Rd");
    EXPECT_EQ(stored.table.P1(stored.row), u"3025550143");

    // A save without the field, and any save to a server that ignores it,
    // is stored as it always was.
    EXPECT_EQ(
        PostFor(client, server.address(Modify), Save(stored, u"Alpha"_s, u"txtCY=Rehoboth"_s, {}))
            .status,
        200);
    EXPECT_EQ(Load(server, u"Alpha"_s).table.CY(0), u"Rehoboth");
    ServerConfig unguarded = ServerFixture::quietConfig();
    unguarded.writeGuards = false;
    ServerFixture vendor(unguarded, server.dbPath());
    EXPECT_EQ(PostFor(client, vendor.address(Modify), stale).status, 200);
    EXPECT_EQ(Load(server, u"Alpha"_s).table.CY(0), u"Dover");
}

TEST_P(RowDigestTest, SavesSentAtOnceWithOneDigestStoreExactlyOne)
{
    ServerFixture server;
    {
        HttpClient client;
        client.Post(server.address(NewGuy), CustomerFields(u"0"_s, u"Race"_s, u"F"_s));
    }
    const Loaded loaded = Load(server, u"Race"_s);
    constexpr int Savers = 8;
    std::latch ready(Savers);
    std::vector<int> statuses(Savers);
    std::vector<std::thread> threads;
    for (int t = 0; t < Savers; ++t) {
        threads.emplace_back([&, t] {
            HttpClient client;
            const QStringList fields = Save(
                loaded, u"Race"_s, u"txtCY=City "_s + QString::number(t),
                {u"RowDigest="_s + loaded.digest(), u"RequestId="_s + Id("0123456789abcdef"[t])});
            ready.arrive_and_wait();
            statuses[std::size_t(t)] = PostFor(client, server.address(Modify), fields).status;
        });
    }
    for (std::thread& t : threads)
        t.join();

    std::string all;
    for (const int s : statuses)
        all += std::to_string(s) + ' ';
    SCOPED_TRACE(all);
    const auto winner = std::find(statuses.begin(), statuses.end(), 200);
    ASSERT_NE(winner, statuses.end());
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 200), 1);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 409), Savers - 1);
    EXPECT_EQ(Load(server, u"Race"_s).table.CY(0),
              u"City "_s + QString::number(winner - statuses.begin()));
}

TEST_P(RequestIdTest, ARepeatedWriteGetsItsFirstAnswerAndOneWithOtherFieldsIsRefused)
{
    ServerFixture server;
    HttpClient client;
    client.Post(server.address(NewGuy), CustomerFields(u"0"_s, u"Base"_s, u"F"_s));
    const Loaded base = Load(server, u"Base"_s);
    const QString dormant = u"/manage/dormantcontact.php?ID="_s + base.id();

    const struct
    {
        QString script;
        QStringList fields;
        QStringList other; // the same write with another value
    } writes[] = {
        {NewGuy, CustomerFields(u"0"_s, u"Added"_s, u"F"_s),
         CustomerFields(u"0"_s, u"Added"_s, u"G"_s)},
        {Modify, Save(base, u"Base"_s, u"txtCY=Seaford"_s, {u"RowDigest="_s + base.digest()}),
         Save(base, u"Base"_s, u"txtCY=Laurel"_s, {u"RowDigest="_s + base.digest()})},
        {SaveCall,
         {u"ID="_s + base.id(), u"direction=Incoming"_s, u"Handler=Anna"_s, u"textarea=Hi"_s},
         {u"ID="_s + base.id(), u"direction=Incoming"_s, u"Handler=Anna"_s, u"textarea=Ho"_s}},
        {dormant, {}, {u"ID=0"_s}},
    };
    char fill = 'a';
    for (const auto& w : writes) {
        SCOPED_TRACE(w.script.toStdString());
        const QString id = u"RequestId="_s + Id(fill++);
        const Answer first = PostFor(client, server.address(w.script), w.fields + QStringList{id});
        ASSERT_EQ(first.status, 200) << first.text.toStdString();
        const QString stored = Snapshot(server);

        const Answer again = PostFor(client, server.address(w.script), w.fields + QStringList{id});
        EXPECT_EQ(again.status, 200);
        EXPECT_EQ(again.text, first.text);
        EXPECT_EQ(Snapshot(server), stored);

        const Answer other = PostFor(client, server.address(w.script), w.other + QStringList{id});
        EXPECT_EQ(other.status, 409);
        EXPECT_TRUE(other.text.startsWith(u"Error: the earlier save"_s))
            << other.text.toStdString();
        EXPECT_TRUE(other.text.contains(u"these changes were not stored"_s))
            << other.text.toStdString();
        EXPECT_EQ(Snapshot(server), stored);

        // The same number on another script is another request.
        const Answer elsewhere = PostFor(client, server.address(NewGuy),
                                         CustomerFields(u"0"_s, u"Other"_s, u"F"_s) << id);
        EXPECT_EQ(elsewhere.status, 409);
        EXPECT_EQ(Snapshot(server), stored);
    }
}

TEST_P(RequestIdTest, OneAdditionSentManyTimesAtOnceIsStoredOnce)
{
    ServerFixture server;
    constexpr int Senders = 6;
    std::latch ready(Senders);
    std::vector<Answer> answers(Senders);
    std::vector<std::thread> threads;
    for (int t = 0; t < Senders; ++t) {
        threads.emplace_back([&, t] {
            HttpClient client;
            const QStringList fields = CustomerFields(u"0"_s, u"Once"_s, u"F"_s)
                                       << u"RequestId="_s + Id('7');
            ready.arrive_and_wait();
            answers[std::size_t(t)] = PostFor(client, server.address(NewGuy), fields);
        });
    }
    for (std::thread& t : threads)
        t.join();

    HttpClient client;
    EXPECT_EQ(LoadActive(client, server).CustomerCount(), 1);
    for (const Answer& a : answers) {
        EXPECT_EQ(a.status, 200);
        EXPECT_EQ(a.text, answers[0].text);
    }
}

TEST_P(WriteGuardsTest, MalformedGuardsAreRefusedAndStoreNothing)
{
    ServerFixture server;
    HttpClient client;
    client.Post(server.address(NewGuy), CustomerFields(u"0"_s, u"Base"_s, u"F"_s));
    const Loaded base = Load(server, u"Base"_s);
    const QString before = Snapshot(server);
    const QString digest = base.digest();

    const QString badDigests[] = {digest.toUpper(), digest.left(63), digest + u'0',
                                  digest.left(63) + u'g', u""_s};
    for (const QString& bad : badDigests) {
        const Answer a = PostFor(client, server.address(Modify),
                                 Save(base, u"Base"_s, u"txtCY=X"_s, {u"RowDigest="_s + bad}));
        EXPECT_EQ(a.status, 400) << bad.toStdString();
        EXPECT_TRUE(a.text.contains(u"\"RowDigest\""_s)) << a.text.toStdString();
    }
    const QString badIds[] = {Id('A'), Id('a').left(31), Id('a') + u'a',
                              Id('z'), u"RequestId"_s,   u""_s};
    const struct
    {
        QString script;
        QStringList fields;
    } writes[] = {
        {NewGuy, CustomerFields(u"0"_s, u"New"_s, u"F"_s)},
        {Modify, Save(base, u"Base"_s, u"txtCY=X"_s, {})},
        {SaveCall,
         {u"ID="_s + base.id(), u"direction=Incoming"_s, u"Handler=A"_s, u"textarea=x"_s}},
        {u"/manage/dormantcontact.php?ID="_s + base.id(), {}},
    };
    for (const auto& w : writes) {
        for (const QString& bad : badIds) {
            const Answer a = PostFor(client, server.address(w.script),
                                     w.fields + QStringList{u"RequestId="_s + bad});
            EXPECT_EQ(a.status, 400) << w.script.toStdString() << ' ' << bad.toStdString();
            EXPECT_TRUE(a.text.contains(u"\"RequestId\""_s)) << a.text.toStdString();
        }
    }
    EXPECT_EQ(Snapshot(server), before);
}

TEST_P(RequestIdTest, AnswersAreKeptForAWeekAndForgottenAfterEightDays)
{
    ServerFixture server;
    HttpClient client;
    const auto add = [&](const QString& last, char id) {
        return PostFor(client, server.address(NewGuy),
                       CustomerFields(u"0"_s, last, u"F"_s) << u"RequestId="_s + Id(id));
    };
    const Answer weekOld = add(u"Week"_s, '1');
    const Answer monthOld = add(u"Month"_s, '2');
    ASSERT_EQ(weekOld.status, 200);
    ASSERT_EQ(monthOld.status, 200);
    const std::string age = "UPDATE request_answers SET stored_at = stored_at - "
                            "CASE request_id WHEN '" +
                            Id('1').toStdString() + "' THEN 7 * 86400 ELSE 30 * 86400 END";
    ExecBehindTheServer(server.dbPath(), age.c_str());
    ASSERT_EQ(add(u"Today"_s, '3').status, 200); // a write clears out what is too old

    const QString before = Snapshot(server);
    const Answer again = add(u"Week"_s, '1');
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.text, weekOld.text);
    EXPECT_EQ(Snapshot(server), before);
    EXPECT_EQ(add(u"Month"_s, '2').status, 200);
    EXPECT_EQ(LoadActive(client, server).CustomerCount(), 4) << "a month-old number is new again";
}

} // namespace

TILLORA_ON_BOTH_ENGINES(RowDigestTest);
TILLORA_ON_BOTH_ENGINES(RequestIdTest);
TILLORA_ON_BOTH_ENGINES(WriteGuardsTest);
