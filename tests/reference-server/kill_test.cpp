// The deployment under load while its servers are killed: three server
// processes over one PostgreSQL database behind nginx, eight clients, and
// one server killed (SIGKILL) every moment. Every acknowledged write is
// stored exactly once, no write is stored twice (nginx must not hand a POST
// that reached a dying server to another), and the only failures are the
// requests a kill cut.

#include "server_fixture.h"
#include "stack_fixture.h"

#include <QRegularExpression>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

using namespace refserver_test;
using namespace std::chrono_literals;

constexpr int Clients = 8;
constexpr int RequestsEach = 1000;
constexpr int Servers = 3;

// What one client's writes got back.
struct Outcome
{
    std::map<QString, std::int64_t> addedCustomers; // name, the number the answer gave
    std::set<QString> savedCalls;
    std::set<QString> cutWrites; // names and call texts whose request failed
    std::vector<QString> unexpected;
    int cut = 0;
    int additionsAndCallsSent = 0;
};

TEST(StackUnderKillsTest, EveryAcknowledgedWriteIsStoredOnceWhileServersAreKilled)
{
    // A request rate the load needs from one address; the shipped site's
    // limit is tested in the front tests.
    StackFixture stack({"--servers", std::to_string(Servers), "--db",
                        PostgresCluster::Shared().createDatabase(), "--request-rate", "100000"});
    ASSERT_EQ(stack.servers().size(), std::size_t(Servers)) << stack.output();
    {
        HttpClient setup;
        for (int i = 0; i < 5; ++i)
            setup.Post(stack.address(u"/manage/newguy.php"),
                       CustomerFields(u"0"_s, u"Seed"_s, QString::number(i)));
    }

    // Kills are spread over the load by its progress rather than by the
    // clock, and each waits until nginx has taken the server killed before
    // back: it skips a server that refused a connection for its fail_timeout
    // (2 s), and two skipped at once would leave one server for all. The
    // clients go on past their requests until two kills have been made, so
    // that a fast machine sees them too.
    constexpr int RequestsBetweenKills = Clients * RequestsEach / 6;
    constexpr int KillsWanted = 2;
    constexpr auto NginxTakesItBack = 2500ms;
    std::atomic<bool> done{false};
    std::atomic<int> kills{0};
    std::atomic<int> finished{0};
    std::atomic<bool> killerFailed{false};
    std::thread killer([&] {
        const auto pause = [&](auto length) {
            const auto until = std::chrono::steady_clock::now() + length;
            while (!done && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(10ms);
        };
        while (!done) {
            while (!done && finished < (kills + 1) * RequestsBetweenKills)
                std::this_thread::sleep_for(10ms);
            if (done)
                break;
            const int number = 1 + kills % Servers;
            const std::size_t seen = stack.output().size();
            if (::kill(stack.servers().at(number).pid, SIGKILL) != 0 ||
                !stack.waitFor("stack: server " + std::to_string(number) + " pid", 60s, seen)) {
                killerFailed = true;
                break;
            }
            ++kills;
            pause(NginxTakesItBack);
        }
    });
    const auto goOn = [&](int i) {
        return i < RequestsEach || (kills < KillsWanted && !killerFailed && i < 20 * RequestsEach);
    };

    static const QRegularExpression added(u"^Customer (\\d+) added\\.$"_s);
    std::vector<Outcome> outcomes(Clients);
    std::vector<std::thread> clients;
    for (int c = 0; c < Clients; ++c)
        clients.emplace_back([&, c] {
            HttpClient client;
            Outcome& out = outcomes[std::size_t(c)];
            for (int i = 0; goOn(i); ++i, ++finished) {
                const QString marker = u"k%1-%2"_s.arg(c).arg(i);
                QString path;
                QStringList fields;
                switch (i % 10) {
                case 0: case 1: case 2:
                    path = u"/manage/newguy.php"_s;
                    fields = CustomerFields(u"0"_s, marker, u"F"_s);
                    break;
                case 3: case 4:
                    path = u"/manage/savecall.php"_s;
                    fields = {u"ID="_s + QString::number(1 + i % 5), u"direction=In"_s,
                              u"Handler=Ann"_s, u"textarea="_s + marker};
                    break;
                case 5:
                    path = u"/manage/modify.php"_s;
                    fields = CustomerFields(QString::number(1 + i % 5), u"Seed"_s, marker);
                    break;
                case 6:
                    path = i % 100 == 6 ? u"/manage/datapile.php"_s : u"/statecount.php"_s;
                    break;
                case 7:
                    path = i % 100 == 7 ? u"/manage/callpile.php"_s : u"/quickstats.php"_s;
                    break;
                default:
                    path = u"/quickstats.php"_s;
                }
                if (path == u"/manage/newguy.php" || path == u"/manage/savecall.php")
                    ++out.additionsAndCallsSent;
                Answer answer;
                try {
                    answer = PostFor(client, stack.address(path), fields);
                } catch (const std::exception& e) {
                    // A server killed after its answer's head: nginx had
                    // passed the head on and can only close the connection.
                    const QString what = QString::fromUtf8(e.what());
                    if (what.contains(u"closed"_s, Qt::CaseInsensitive)) {
                        ++out.cut;
                        out.cutWrites.insert(marker);
                    } else {
                        out.unexpected.push_back(marker + u": "_s + what);
                    }
                    continue;
                }
                if (answer.status == 502) { // nginx: the server died while answering
                    ++out.cut;
                    out.cutWrites.insert(marker);
                } else if (answer.status != 200) {
                    out.unexpected.push_back(marker + u": "_s + QString::number(answer.status) +
                                             u" "_s + answer.text);
                } else if (path == u"/manage/newguy.php") {
                    const auto match = added.match(answer.text);
                    if (match.hasMatch())
                        out.addedCustomers[marker] = match.captured(1).toLongLong();
                    else
                        out.unexpected.push_back(marker + u": "_s + answer.text);
                } else if (path == u"/manage/savecall.php") {
                    out.savedCalls.insert(marker);
                }
            }
        });
    for (std::thread& t : clients)
        t.join();
    done = true;
    killer.join();

    HttpClient client;
    const TCustomerTable customers = LoadActive(client, stack);
    const TCallTable calls = LoadCalls(client, stack);
    std::map<QString, std::vector<std::int64_t>> storedCustomers;
    for (std::int32_t row = 0; row < customers.CustomerCount(); ++row)
        storedCustomers[customers.LN(row)].push_back(customers.ID(row));
    std::map<QString, int> storedCalls;
    for (std::int32_t row = 0; row < calls.CallCount(); ++row)
        ++storedCalls[calls.CallText(row)];

    // Looked up without adding entries, so the checks below see only what
    // is stored.
    auto customersNamed = [&](const QString& name) {
        const auto found = storedCustomers.find(name);
        return found == storedCustomers.end() ? std::vector<std::int64_t>{} : found->second;
    };
    auto callsSaying = [&](const QString& text) {
        const auto found = storedCalls.find(text);
        return found == storedCalls.end() ? 0 : found->second;
    };

    int cut = 0;
    std::size_t acknowledged = 0;
    std::size_t additionsAndCallsSent = 0;
    for (const Outcome& out : outcomes) {
        for (const QString& failure : out.unexpected)
            ADD_FAILURE() << failure.toStdString();
        cut += out.cut;
        additionsAndCallsSent += std::size_t(out.additionsAndCallsSent);
        acknowledged += out.addedCustomers.size() + out.savedCalls.size();
        for (const auto& [name, id] : out.addedCustomers)
            EXPECT_EQ(customersNamed(name), std::vector<std::int64_t>{id}) << name.toStdString();
        for (const QString& text : out.savedCalls)
            EXPECT_EQ(callsSaying(text), 1) << text.toStdString();
        // A write cut by a kill may or may not have been stored; never twice.
        for (const QString& marker : out.cutWrites) {
            EXPECT_LE(customersNamed(marker).size(), 1u) << marker.toStdString();
            EXPECT_LE(callsSaying(marker), 1) << marker.toStdString();
        }
    }
    for (const auto& [name, ids] : storedCustomers)
        EXPECT_EQ(ids.size(), name == u"Seed" ? 5u : 1u) << name.toStdString();
    for (const auto& [text, count] : storedCalls)
        EXPECT_EQ(count, 1) << text.toStdString();
    EXPECT_EQ(client.Post(stack.address(u"/quickstats.php"), {}),
              u"%1 current, 0 expired, 0 dormant customers; %2 calls logged"_s
                  .arg(customers.CustomerCount())
                  .arg(calls.CallCount()));

    // Each kill cuts at most the one request each client has under way.
    EXPECT_FALSE(killerFailed) << stack.output();
    EXPECT_GE(kills.load(), KillsWanted) << "the load ended before the servers were killed";
    EXPECT_LE(cut, kills.load() * Clients);
    // Every addition and call a kill did not cut was acknowledged.
    EXPECT_GE(acknowledged, additionsAndCallsSent - std::size_t(cut));
    std::printf("%d kills, %d requests cut, %zu writes acknowledged\n", kills.load(), cut,
                acknowledged);
}

} // namespace
