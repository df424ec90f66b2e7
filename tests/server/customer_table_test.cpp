#include "customer_table.h"
#include "errors.h"
#include "list_text.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <vector>

namespace {

using namespace Qt::StringLiterals;

const QChar Record = RecordTerminator;

QStringList Customer(const QString& id, const QString& lastName, const QString& act = u"1"_s)
{
    return {id,
            lastName,
            u"Ann"_s,
            u"Acme"_s,
            u"1 Main St"_s,
            u"Dover"_s,
            u"DE"_s,
            u"19901"_s,
            u"3025550100"_s,
            u"3025550101"_s,
            u"a@b.c"_s,
            u"Friend"_s,
            u"CD By Mail"_s,
            u"1234"_s,
            u"PK-1"_s,
            u"Unlimited"_s,
            u"2012-01-15"_s,
            u"2013-01-15"_s,
            u"2012-01-15"_s,
            u"2012-01-10"_s,
            act};
}

QString ExpectConversionError(const QString& response)
{
    try {
        TCustomerTable::Parse(response);
    } catch (const ConversionError& e) {
        return e.message();
    }
    ADD_FAILURE() << "no conversion error";
    return {};
}

TEST(CustomerTableTest, KeepsBlanksInsideTextFieldsAndTrimsTheIntegers)
{
    QStringList first = Customer(u" 7 "_s, u" Smith"_s, u" -1 "_s);
    first[3] = u"  Acme Ltd "_s; // business name: two blanks, a name, one blank
    first[19] = u"2012-01-10  "_s;
    const QString response = u"2<br>"_s + u"\r\n  "_s + ListRecord(first).chopped(1) + u"  \t"_s +
                             Record + u"\r\n"_s + ListRecord(Customer(u"8"_s, u"Jones"_s));

    std::vector<std::int32_t> stepped;
    const TCustomerTable table =
        TCustomerTable::Parse(response, [&](const TCustomerTable& t, std::int32_t row) {
            stepped.push_back(row);
            EXPECT_GT(t.CustomerCount(), row);
            EXPECT_FALSE(t.LN(row).isEmpty()); // the row is complete when the step runs
        });

    ASSERT_EQ(table.CustomerCount(), 2);
    EXPECT_EQ(stepped, (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(table.ID(0), 7);
    EXPECT_EQ(table.ACT(0), -1);
    EXPECT_EQ(table.LN(0), u" Smith");
    EXPECT_EQ(table.BN(0), u"  Acme Ltd ");
    EXPECT_EQ(table.PD(0), u"2012-01-10  ");
    EXPECT_EQ(table.ID(1), 8);
    EXPECT_EQ(table.ACT(1), 1);
    const QStringList second = Customer(u"8"_s, u"Jones"_s);
    for (int c = 1; c < CustomerFieldCount - 1; ++c)
        EXPECT_EQ(table.text(CustomerField(c), 1), second[c]) << "column " << c;
}

TEST(CustomerTableTest, CountHeader)
{
    EXPECT_EQ(TCustomerTable::Parse(u"0<br>"_s).CustomerCount(), 0);
    EXPECT_EQ(
        TCustomerTable::Parse(u"   1<br>"_s + ListRecord(Customer(u"3"_s, u"A"_s))).CustomerCount(),
        1);
    // Only the first "<br>" ends the header; a later one is field text.
    EXPECT_EQ(TCustomerTable::Parse(u"1<br>"_s + ListRecord(Customer(u"3"_s, u"A<br>B"_s))).LN(0),
              u"A<br>B");

    EXPECT_EQ(ExpectConversionError(u"\r\n1<br>"_s), u"''\r\n1'' is not a valid integer value");
    EXPECT_EQ(ExpectConversionError(u"1 <br>"_s), u"''1 '' is not a valid integer value");
    EXPECT_EQ(ExpectConversionError(u"no records here"_s), u"'''' is not a valid integer value");
    EXPECT_EQ(ExpectConversionError(u"<html><br>"_s), u"''<html>'' is not a valid integer value");

    try {
        TCustomerTable::Parse(u"-1<br>"_s);
        ADD_FAILURE() << "negative count accepted";
    } catch (const RangeCheckError& e) {
        EXPECT_EQ(e.message(), u"Range check error");
    }
}

TEST(CustomerTableTest, RecordCountDiffersFromTheAnnouncedCount)
{
    const QString two = ListRecord(Customer(u"1"_s, u"A"_s)) + ListRecord(Customer(u"2"_s, u"B"_s));
    // Surplus records and trailing text are ignored.
    const TCustomerTable one = TCustomerTable::Parse(u"1<br>"_s + two + u"garbage"_s);
    ASSERT_EQ(one.CustomerCount(), 1);
    EXPECT_EQ(one.ID(0), 1);

    // A missing record reads as empty text.
    EXPECT_EQ(ExpectConversionError(u"3<br>"_s + two), u"'''' is not a valid integer value");
    // So does a last record without its "®".
    EXPECT_EQ(ExpectConversionError(u"2<br>"_s + two.chopped(1)),
              u"'''' is not a valid integer value");

    // A huge count with one record fails on the second without reserving
    // memory for the announced rows.
    EXPECT_EQ(ExpectConversionError(u"2147483647<br>"_s + ListRecord(Customer(u"1"_s, u"A"_s))),
              u"'''' is not a valid integer value");
}

TEST(CustomerTableTest, TerminatorsInsideFieldsShiftOrCutTheRecord)
{
    // A "©" inside a name shifts every later field: the status receives the
    // paid date.
    EXPECT_EQ(ExpectConversionError(u"1<br>"_s + ListRecord(Customer(u"1"_s, u"Sm©ith"_s))),
              u"''2012-01-10'' is not a valid integer value");
    // A "®" ends the record: later fields read empty, the status fails.
    EXPECT_EQ(ExpectConversionError(u"1<br>"_s + ListRecord(Customer(u"1"_s, u"Sm®ith"_s))),
              u"'''' is not a valid integer value");
    // A non-integer identifier fails with the trimmed text.
    EXPECT_EQ(ExpectConversionError(u"1<br>"_s + ListRecord(Customer(u" 1a "_s, u"A"_s))),
              u"''1a'' is not a valid integer value");

    // Text between the 21st "©" and the "®" is discarded.
    QString record = ListRecord(Customer(u"5"_s, u"A"_s));
    record.insert(record.size() - 1, u" extra text "_s);
    const TCustomerTable table = TCustomerTable::Parse(u"1<br>"_s + record);
    EXPECT_EQ(table.ACT(0), 1);
    EXPECT_EQ(table.PD(0), u"2012-01-10");
}

TEST(CustomerTableTest, AFailedParseLeavesTheLoadedTableWhole)
{
    TCustomerTable loaded = TCustomerTable::Parse(
        u"2<br>"_s + ListRecord(Customer(u"1"_s, u"A"_s)) + ListRecord(Customer(u"2"_s, u"B"_s)));
    try {
        loaded = TCustomerTable::Parse(u"2<br>"_s + ListRecord(Customer(u"9"_s, u"Z"_s)));
        ADD_FAILURE() << "short list accepted";
    } catch (const ConversionError&) {
    }
    ASSERT_EQ(loaded.CustomerCount(), 2);
    EXPECT_EQ(loaded.ID(0), 1);
    EXPECT_EQ(loaded.LN(0), u"A");
    EXPECT_EQ(loaded.LN(1), u"B");
}

TEST(CustomerTableTest, HoldsLessMemoryThanOneStringPerField)
{
    QString response = u"1000<br>"_s;
    for (int i = 0; i < 1000; ++i)
        response += ListRecord(Customer(QString::number(i), u"Name"_s + QString::number(i)));
    const TCustomerTable table = TCustomerTable::Parse(response);
    ASSERT_EQ(table.CustomerCount(), 1000);
    EXPECT_EQ(table.LN(999), u"Name999");
    // Characters in UTF-16 plus a 32-bit offset per text field and the two
    // integers: well under three times the UTF-8 bytes on the wire.
    EXPECT_LT(table.memoryBytes(), 3 * response.toUtf8().size());
}

} // namespace
