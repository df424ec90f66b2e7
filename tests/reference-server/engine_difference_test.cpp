// Both engines give the same answers, byte for byte, for the same sequence
// of requests: a seeded random mix of every script, with names and fields
// chosen where the engines could differ (case folding beyond ASCII, ties,
// blanks, "&", quotes, accents, missing dates, unknown numbers).

#include "server_fixture.h"

#include <QTemporaryDir>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace refserver_test;

// Names that sort differently under any folding other than SQLite's NOCASE
// (A-Z only) or under a collation other than bytes.
const QStringList Names = {
    u"smith"_s, u"Smith"_s, u"SMITH"_s, u"Smíth"_s,  u"SMÍTH"_s,   u"Émile"_s, u"émile"_s,
    u"Zoë"_s,   u"zoe"_s,   u"ZOE"_s,   u"_under"_s, u"[bracket"_s, u"^caret"_s, u"`tick"_s,
    u"O'Brien"_s, u"\"Quoted\""_s, u"A & B"_s, u""_s, u" "_s, u"  "_s, u"van Dijk"_s,
    u"Van Dijk"_s, u"a"_s, u"A"_s, u"Ä"_s, u"ä"_s, u"ß"_s, u"SS"_s, u"İstanbul"_s,
    u"ǅemal"_s, u"Ωmega"_s, u"ωmega"_s, u"10"_s, u"9"_s, u"a\tb"_s, u"Ölçü"_s};

const QStringList Texts = {u""_s,          u" "_s,           u"Feed & Seed"_s, u"\"quoted\""_s,
                           u"it's"_s,      u"Crème brûlée"_s, u"a=b&c=d"_s,     u"100%"_s,
                           u"line\r\nbreak"_s, u"  padded  "_s, u"+plus+"_s,  u"日本"_s};

const QStringList States = {u"DE"_s, u"de"_s, u" TX "_s, u"T"_s, u"TXX"_s, u""_s, u"  "_s,
                            u"ÉÉ"_s, u"Ö1"_s, u"tx"_s, u"ZZ"_s, u"A "_s};

const QStringList Dates = {u""_s, u"  /  /    "_s, u"01/15/2024"_s, u"02/29/2024"_s,
                           u"12/31/1999"_s, u"7/4/2030"_s};

class Sequence
{
public:
    explicit Sequence(unsigned seed) : m_random(seed) {}

    const QString& pick(const QStringList& list)
    {
        return list[int(m_random() % unsigned(list.size()))];
    }
    unsigned below(unsigned n) { return m_random() % n; }

    // A customer number: mostly one that exists, sometimes one that does not.
    QString id(int added)
    {
        if (added == 0 || below(10) == 0)
            return QString::number(added + 1 + int(below(3)));
        return QString::number(1 + int(below(unsigned(added))));
    }

    QStringList customer(const QString& id)
    {
        QStringList f = CustomerFields(id, pick(Names), pick(Names));
        f[3] = u"txtBN="_s + pick(Texts);
        f[4] = u"txtAD="_s + pick(Texts);
        f[6] = u"txtST="_s + pick(States);
        f[10] = u"txtEM="_s + pick(Texts);
        f[16] = u"txtBD="_s + pick(Dates);
        f[17] = u"txtDD="_s + pick(Dates);
        f[18] = u"txtPD="_s + pick(Dates);
        f[19] = u"txtANI="_s + pick(Dates);
        f[20] = below(3) == 0 ? u"txtACT=0"_s : u"txtACT=1"_s;
        if (below(25) == 0)
            f.removeAt(int(below(unsigned(f.size())))); // refused: a field is missing
        return f;
    }

private:
    std::mt19937 m_random;
};

struct Request
{
    QString path;
    QStringList fields;
};

class EngineDifferenceTest : public ::testing::TestWithParam<unsigned>
{};

TEST_P(EngineDifferenceTest, BothEnginesGiveTheSameAnswers)
{
    std::pair<std::string, std::string> stamp;
    ServerConfig config = ServerFixture::quietConfig();
    config.callStamp = [&stamp] { return stamp; };

    QTemporaryDir dir;
    ServerFixture sqlite(config, dir.filePath(u"difference.sqlite"_s));
    ServerFixture postgres(config, QString::fromStdString(PostgresCluster::Shared().createDatabase()));
    HttpClient client;

    Sequence random(GetParam());
    int added = 0;
    for (int step = 0; step < 400; ++step) {
        stamp = {"2026-" + std::to_string(1 + step % 12) + "-0" + std::to_string(1 + step % 9),
                 "12:" + std::to_string(10 + step % 50) + ":00"};
        Request r;
        switch (random.below(12)) {
        case 0: case 1: case 2: case 3:
            r = {u"/manage/newguy.php"_s, random.customer(u"0"_s)};
            break;
        case 4: case 5:
            r = {u"/manage/modify.php"_s, random.customer(random.id(added))};
            break;
        case 6:
            r = {u"/manage/dormantcontact.php?ID="_s + random.id(added), {}};
            break;
        case 7: case 8:
            r = {u"/manage/savecall.php"_s,
                 {u"ID="_s + random.id(added), u"direction="_s + random.pick({u"In"_s, u"Out"_s}),
                  u"Handler="_s + random.pick(Names), u"textarea="_s + random.pick(Texts)}};
            break;
        default:
            r = {random.pick({u"/manage/datapile.php"_s, u"/manage/dormantpile.php"_s,
                              u"/manage/callpile.php"_s, u"/quickstats.php"_s,
                              u"/statecount.php"_s}),
                 {}};
        }
        const Answer a = PostFor(client, sqlite.address(r.path), r.fields);
        const Answer b = PostFor(client, postgres.address(r.path), r.fields);
        ASSERT_EQ(a.status, b.status) << "step " << step << " " << r.path.toStdString();
        ASSERT_EQ(a.text, b.text) << "step " << step << " " << r.path.toStdString() << " "
                                  << r.fields.join(u'&').toStdString();
        if (r.path == u"/manage/newguy.php" && a.status == 200)
            ++added;
    }
    EXPECT_GT(added, 50) << "the sequence stores too little to compare";

    // The whole state at the end, list by list.
    for (const QString& path : {u"/manage/datapile.php"_s, u"/manage/dormantpile.php"_s,
                               u"/manage/callpile.php"_s, u"/quickstats.php"_s,
                               u"/statecount.php"_s})
        EXPECT_EQ(PostFor(client, sqlite.address(path), {}).text,
                  PostFor(client, postgres.address(path), {}).text)
            << path.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Seeds, EngineDifferenceTest, ::testing::Values(1u, 20261211u, 777u));

} // namespace
