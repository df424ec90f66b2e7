#include "call_table.h"
#include "errors.h"
#include "list_text.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace {

using namespace Qt::StringLiterals;

const QChar Record = RecordTerminator;

QString Call(const QString& id, const QString& customer, const QString& text = u"Asked"_s)
{
    return ListRecord(
        {id, customer, u"Incoming"_s, u"Anna"_s, u"2012-01-15"_s, u"14:05:00"_s, text});
}

QString ExpectConversionError(const QString& response)
{
    try {
        TCallTable::Parse(response);
    } catch (const ConversionError& e) {
        return e.message();
    }
    ADD_FAILURE() << "no conversion error";
    return {};
}

TEST(CallTableTest, TrimsLeadingBlanksOfEveryFieldAndKeepsTrailingOnes)
{
    const QString response =
        u"\r\n  2<br>\r\n"_s +
        ListRecord({u" 11 "_s, u"\t7\n"_s, u"  Incoming  "_s, u"  Anna  "_s, u" 2012-01-15"_s,
                    u"14:05:00 "_s, u"  line one\r\nline two  "_s})
            .chopped(1) +
        u"  trailing text  "_s + Record + u"\r\n"_s + Call(u"12"_s, u"8"_s) + u"  \r\n"_s;

    const TCallTable table = TCallTable::Parse(response);
    ASSERT_EQ(table.CallCount(), 2);
    EXPECT_EQ(table.CallID(0), 11);
    EXPECT_EQ(table.CallCustomerID(0), 7);
    EXPECT_EQ(table.CallTag1(0), u"Incoming  ");
    EXPECT_EQ(table.CallTag2(0), u"Anna  ");
    EXPECT_EQ(table.CallDate(0), u"2012-01-15");
    EXPECT_EQ(table.CallTime(0), u"14:05:00 ");
    EXPECT_EQ(table.CallText(0), u"line one\r\nline two  ");
    EXPECT_EQ(table.CallID(1), 12);
    EXPECT_EQ(table.CallCustomerID(1), 8);
    EXPECT_EQ(table.CallText(1), u"Asked");
}

TEST(CallTableTest, CountHeaderAndRecordCount)
{
    EXPECT_EQ(TCallTable::Parse(u"0<br>"_s).CallCount(), 0);
    EXPECT_EQ(
        TCallTable::Parse(u"1<br>"_s + Call(u"1"_s, u"2"_s) + Call(u"3"_s, u"4"_s)).CallCount(), 1);
    EXPECT_EQ(ExpectConversionError(u"1 <br>"_s), u"''1 '' is not a valid integer value");
    EXPECT_EQ(ExpectConversionError(u"nothing"_s), u"'''' is not a valid integer value");
    EXPECT_EQ(ExpectConversionError(u"2<br>"_s + Call(u"1"_s, u"2"_s)),
              u"'''' is not a valid integer value");
    EXPECT_EQ(ExpectConversionError(u"1<br>"_s + Call(u"1"_s, u"x2"_s + QChar(u'g'))),
              u"''x2g'' is not a valid integer value");
    EXPECT_EQ(ExpectConversionError(u"2147483647<br>"_s + Call(u"1"_s, u"2"_s)),
              u"'''' is not a valid integer value");
    EXPECT_THROW(TCallTable::Parse(u"-3<br>"_s), RangeCheckError);
}

TEST(CallTableTest, TerminatorInsideTheTextCutsIt)
{
    // "©" in the text ends the field there; the rest is dropped with the record.
    const TCallTable shifted = TCallTable::Parse(u"1<br>"_s + Call(u"1"_s, u"2"_s, u"A © B"_s));
    EXPECT_EQ(shifted.CallText(0), u"A ");
    // "®" ends the record early: its remainder becomes the next record.
    const TCallTable cut = TCallTable::Parse(u"1<br>"_s + Call(u"1"_s, u"2"_s, u"A ® B"_s));
    EXPECT_EQ(cut.CallText(0), u"");
    EXPECT_EQ(ExpectConversionError(u"2<br>"_s + Call(u"1"_s, u"2"_s, u"A ® B"_s)),
              u"''B'' is not a valid integer value");
}

TEST(CallTableTest, AFailedParseLeavesTheLoadedTableWhole)
{
    TCallTable loaded = TCallTable::Parse(u"1<br>"_s + Call(u"5"_s, u"6"_s));
    EXPECT_THROW(loaded = TCallTable::Parse(u"2<br>"_s + Call(u"9"_s, u"9"_s)), ConversionError);
    ASSERT_EQ(loaded.CallCount(), 1);
    EXPECT_EQ(loaded.CallID(0), 5);
    EXPECT_EQ(loaded.CallCustomerID(0), 6);
}

TEST(CallTableTest, RowsOfCustomerFindsEveryCallInTableOrder)
{
    // 41 calls: customer 7 at the edges of the scan's blocks of sixteen and
    // in the tail after the last whole block; customer 8 only in the tail.
    const std::vector<int> customer7 = {0, 15, 16, 31, 32, 40};
    QString response = u"41<br>"_s;
    for (int row = 0; row < 41; ++row) {
        const bool seven = std::find(customer7.begin(), customer7.end(), row) != customer7.end();
        const int customer = seven ? 7 : row == 33 ? 8 : 1000 + row;
        response += Call(QString::number(row), QString::number(customer));
    }
    const TCallTable table = TCallTable::Parse(response);
    EXPECT_EQ(table.RowsOfCustomer(7), std::vector<std::int32_t>({0, 15, 16, 31, 32, 40}));
    EXPECT_EQ(table.RowsOfCustomer(8), std::vector<std::int32_t>({33}));
    EXPECT_TRUE(table.RowsOfCustomer(9).empty());
    EXPECT_TRUE(TCallTable().RowsOfCustomer(7).empty());
}

} // namespace
