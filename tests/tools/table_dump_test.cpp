#include "table_dump.h"

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;

TEST(TableDumpTest, OneEscapedLinePerRow)
{
    const QChar f(0x00A9);
    const QChar r(0x00AE);
    const QString call = u"1<br>"_s + u"7"_s + f + u"3"_s + f + u"In"_s + f + u"Anna"_s + f +
                         u"2026-01-02"_s + f + u"10:00"_s + f + u"a\\b\tc\r\nd"_s + f + r;
    EXPECT_EQ(DumpTable(TCallTable::Parse(call)),
              u"1\n7\t3\tIn\tAnna\t2026-01-02\t10:00\ta\\\\b\\tc\\r\\nd\n"_s);

    QString customer = u"1<br>5"_s + f;
    for (int i = 0; i < 19; ++i)
        customer += (i == 0 ? u" Olsen"_s : QString::number(i)) + f;
    customer += u"-1"_s + f + r;
    EXPECT_EQ(
        DumpTable(TCustomerTable::Parse(customer)),
        u"1\n5\t Olsen\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12\t13\t14\t15\t16\t17\t18\t-1\n"_s);
}

} // namespace
