// The find box's second search against a plain restatement of its rules,
// on many small random tables: the fast whole-text pass must find exactly
// the customer the rules name.

#include "caller_search.h"
#include "list_text.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <random>

namespace {

using namespace Qt::StringLiterals;

QString Digits(QStringView text)
{
    QString out;
    for (const QChar c : text)
        if (c >= u'0' && c <= u'9')
            out += c;
    return out;
}

int Expected(const TCustomerTable& table, QStringView typed)
{
    const QString digits = Digits(typed);
    const QString text = typed.trimmed().toString();
    for (std::int32_t row = 0; row < table.CustomerCount(); ++row) {
        if (digits.size() >= 4 && (Digits(table.P1(row)).contains(digits) ||
                                   Digits(table.P2(row)).contains(digits)))
            return row;
        if (text.size() >= 3)
            for (const QString& field : {table.EM(row), table.BN(row), table.SN(row), table.PK(row)})
                if (field.contains(text, Qt::CaseInsensitive))
                    return row;
    }
    return -1;
}

TEST(CallerSearchMatchTest, LettersOutsideAsciiThatFoldToAsciiAnywhereInTheText)
{
    // Rows 0 and 1 hold the letters; the rows after them put both well
    // before the end of the table's text, where the fast pass reads.
    QList<QStringList> records;
    for (int r = 0; r < 8; ++r) {
        QStringList fields(21, u"0123456789 0123456789"_s);
        fields[0] = QString::number(r);
        fields[20] = u"1"_s;
        records << fields;
    }
    records[0][3] = u"Ma\u017fon Bros"_s;          // business name, long s
    records[1][14] = u"Zoo\u212Aeeper"_s;          // product key, Kelvin sign
    records[2][10] = u"mason@zookeeper.example"_s; // plain letters, later in list order
    const TCustomerTable table = TCustomerTable::Parse(ListResponse(records));
    std::vector<CustomerListModel::Entry> entries;
    for (std::int32_t row = 0; row < table.CustomerCount(); ++row)
        entries.push_back({row, 0});

    const struct
    {
        QString typed;
        int row;
    } cases[] = {
        {u"SON"_s, 0},
        {u"ASO"_s, 0},
        {u"MAS"_s, 0},
        {u"ma\u017f"_s, 0},
        {u"KEE"_s, 1},
        {u"oke"_s, 1},
        {u"OOK"_s, 1},
        {u"oo\u212A"_s, 1},
        {u"son@"_s, 2},
        {u"r.ex"_s, 2},
        {u"\u017f\u017fx"_s, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindCallerByOtherFields(table, entries, c.typed), c.row)
            << "typed [" << c.typed.toStdString() << "]";
        EXPECT_EQ(Expected(table, c.typed), c.row)
            << "the plain rules, typed [" << c.typed.toStdString() << "]";
    }
}

TEST(CallerSearchMatchTest, TextRulesNeedThreeCharactersBlanksAtTheEndsLeftOut)
{
    QStringList fields(21, QString());
    fields[0] = u"1"_s;
    fields[8] = u"302-555-0199"_s;
    fields[10] = u"qa@x\U0001F600y.example"_s;
    fields[20] = u"1"_s;
    const TCustomerTable table = TCustomerTable::Parse(ListResponse({fields}));
    const std::vector<CustomerListModel::Entry> entries = {{0, 0}};

    const struct
    {
        QString typed;
        int row;
    } cases[] = {
        {u"q"_s, -1},           {u"qa"_s, -1},    {u" qa\t"_s, -1},
        {u"qa@"_s, 0},          {u"\tqa@ "_s, 0}, {u"\U0001F600y"_s, -1}, // two characters
        {u"x\U0001F600y"_s, 0}, {u"0199"_s, 0},   {u"199"_s, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindCallerByOtherFields(table, entries, c.typed), c.row)
            << "typed [" << c.typed.toStdString() << "]";
}

TEST(CallerSearchMatchTest, FindsWhatThePlainRulesFindOnRandomTables)
{
    std::mt19937 rng(7);
    // "\u017f" (long s) and "\u212a" (Kelvin sign) fold to ASCII letters, so
    // they may stand anywhere in a match of "s" and "k".
    const QString alphabet = u"0123456789-() .aAbB\u00e9\u00c9@xsSkK\u017f\u212a"_s;
    auto randomText = [&](int most) {
        QString s;
        const int n = std::uniform_int_distribution<int>(0, most)(rng);
        for (int i = 0; i < n; ++i)
            s += alphabet[std::uniform_int_distribution<int>(0, int(alphabet.size()) - 1)(rng)];
        return s;
    };
    for (int round = 0; round < 300; ++round) {
        const int rows = std::uniform_int_distribution<int>(1, 12)(rng);
        QList<QStringList> records;
        for (int r = 0; r < rows; ++r) {
            QStringList fields(21);
            fields[0] = QString::number(r);
            for (int f = 1; f < 20; ++f)
                fields[f] = randomText(12);
            fields[20] = u"1"_s;
            records << fields;
        }
        const TCustomerTable table = TCustomerTable::Parse(ListResponse(records));
        std::vector<CustomerListModel::Entry> entries;
        for (std::int32_t row = 0; row < table.CustomerCount(); ++row)
            entries.push_back({row, 0});
        for (int probe = 0; probe < 20; ++probe) {
            // Texts cut from the table itself, so that matches happen.
            const int row = std::uniform_int_distribution<int>(0, rows - 1)(rng);
            const QString field =
                table.text(CustomerField(std::uniform_int_distribution<int>(1, 19)(rng)), row);
            const int from = std::uniform_int_distribution<int>(0, int(field.size()))(rng);
            const QString typed =
                probe % 4 == 0 ? randomText(8) : field.mid(from, std::uniform_int_distribution<int>(1, 8)(rng));
            ASSERT_EQ(FindCallerByOtherFields(table, entries, typed), Expected(table, typed))
                << "typed [" << typed.toStdString() << "] in round " << round;
        }
    }
}

} // namespace
