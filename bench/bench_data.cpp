// Generated list responses for the benchmarks: names, places and dates
// drawn from small word lists with a fixed seed, so every run sees the same
// text.

#include "bench_data.h"

#include <QStringList>

#include <random>

namespace {

using namespace Qt::StringLiterals;

const QChar Field(0x00A9);
const QChar Record(0x00AE);

class Generator
{
public:
    QString pick(std::initializer_list<const char16_t*> words)
    {
        auto it = words.begin();
        std::advance(it, std::uniform_int_distribution<std::size_t>(0, words.size() - 1)(m_rng));
        return QString::fromUtf16(*it);
    }
    QString digits(int n)
    {
        QString s;
        for (int i = 0; i < n; ++i)
            s += QChar(u'0' + std::uniform_int_distribution<int>(0, 9)(m_rng));
        return s;
    }
    QString date() { return u"20"_s + digits(2) + u"-0"_s + digits(1) + u"-1"_s + digits(1); }
    int number(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }

private:
    std::mt19937 m_rng{42};
};

} // namespace

QString MakeCustomerList(int records)
{
    Generator g;
    QString out = QString::number(records) + u"<br>"_s;
    for (int i = 0; i < records; ++i) {
        const QString last = g.pick({u"Smith", u"Johnson", u"Williams", u"Brown", u"Garcia",
                                     u"Miller", u"Davis", u"Rodriguez", u"Martinez", u"Wilson"});
        const QString first = g.pick({u"James", u"Mary", u"Robert", u"Patricia", u"John",
                                      u"Jennifer", u"Michael", u"Linda", u"David", u"Elizabeth"});
        const QStringList fields = {
            QString::number(i + 1),
            last,
            first,
            last + u" "_s + g.pick({u"Bookkeeping", u"Tax Service", u"Accounting", u"& Sons"}),
            QString::number(g.number(1, 9999)) + u" "_s +
                g.pick({u"Main St", u"Oak Ave", u"Elm Rd"}),
            g.pick({u"Springfield", u"Dover", u"Austin", u"Portland"}),
            g.pick({u"DE", u"TX", u"OR", u"IL"}),
            g.digits(5),
            g.digits(10),
            g.digits(10),
            first.toLower() + u"@example.com"_s,
            g.pick({u"Friend", u"Magazine", u"Web Search", u"Trade Show"}),
            g.pick({u"Internet Download", u"CD By Mail"}),
            g.digits(4),
            g.digits(5) + u"-"_s + g.digits(5) + u"-"_s + g.digits(5),
            g.pick({u"Unlimited", u"Starter (Receipts)"}),
            g.date(),
            g.date(),
            g.date(),
            g.date(),
            QString::number(g.number(-1, 1))};
        for (const QString& f : fields)
            out += f + Field;
        out += Record + u"\r\n"_s;
    }
    return out;
}

QString MakeCallList(int records)
{
    Generator g;
    QString out = QString::number(records) + u"<br>"_s;
    for (int i = 0; i < records; ++i) {
        const QString text = g.pick(
            {u"Asked about the renewal price.",
             u"Printer setup for receipts; walked through the driver install "
             u"and a test page.",
             u"Could not open last year's file.\r\nSent the fix by e-mail.", u"Left a message."});
        const QStringList fields = {QString::number(i + 1),
                                    QString::number(g.number(1, 100000)),
                                    g.pick({u"Incoming", u"Outgoing"}),
                                    g.pick({u"Anna", u"Brian", u"Carol", u"David"}),
                                    g.date(),
                                    u"1"_s + g.digits(1) + u":"_s + u"3"_s + g.digits(1) + u":00"_s,
                                    text};
        for (const QString& f : fields)
            out += f + Field;
        out += Record + u"\r\n"_s;
    }
    return out;
}

const QString& GeneratedCustomerList()
{
    static const QString text = MakeCustomerList(100'000);
    return text;
}

const QString& GeneratedCallList()
{
    static const QString text = MakeCallList(1'000'000);
    return text;
}
