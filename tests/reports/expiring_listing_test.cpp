// The expiring-subscriptions listing and its quarter picker.

#include "errors.h"
#include "expiring_listing.h"
#include "list_text.h"
#include "tform3.h"

#include <gtest/gtest.h>

#include <QRadioButton>

namespace {

using namespace Qt::StringLiterals;

struct Customer
{
    QString last;
    QString anniversary;
    int act = 1;
    QString phone = u"3025550100"_s;
};

TCustomerTable Table(const std::vector<Customer>& rows)
{
    QList<QStringList> records;
    int id = 1;
    for (const Customer& c : rows)
        records << QStringList{QString::number(id++),
                               u" "_s + c.last,
                               u"Ann "_s,
                               u"Biz"_s,
                               u" 1 Main St"_s,
                               u"Dover"_s,
                               u"DE "_s,
                               u"19901"_s,
                               c.phone,
                               u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               c.anniversary,
                               u""_s,
                               QString::number(c.act)};
    return TCustomerTable::Parse(ListResponse(records));
}

QStringList Entry(const QString& last, const QString& sixth,
                  const QString& phone = u"(302) 555-0100"_s)
{
    return {u""_s,
            u"Ann "_s.trimmed() + u" "_s + last,
            u"1 Main St"_s,
            u"Dover, DE  19901"_s,
            phone,
            sixth,
            QString(63, u'-')};
}

const QDate Today(2026, 5, 20);

TEST(ExpiringListingTest, ListsCurrentCustomersOfTheQuarterThenMissingDates)
{
    const TCustomerTable t = Table({
        {u"First"_s, u"2026-04-01"_s},       // first day of the quarter
        {u"Last"_s, u"2026-06-30"_s},        // last day
        {u"Before"_s, u"2026-03-31"_s},      // outside
        {u"LastYear"_s, u"2025-05-01"_s},    // right day, last year
        {u"Expired"_s, u"2026-05-01"_s, 0},  // not current
        {u"Dormant"_s, u"0000-00-00"_s, -1}, // missing, even though dormant
        {u"NoDay"_s, u" 2026-05-00 "_s, 1, u""_s},
    });
    QStringList expected = {u""_s, u"Listing Of Clients With Expiring Subscriptions"_s};
    expected << Entry(u"First"_s, u"SUBSCRIPTION EXPIRES\t04/01/2026"_s);
    expected << Entry(u"Last"_s, u"SUBSCRIPTION EXPIRES\t06/30/2026"_s);
    expected << u"End of List"_s << u""_s << u""_s;
    expected << u"Listing Of Clients Without Anniversary Date"_s;
    expected << Entry(u"Dormant"_s, u"ERROR ANNIVERSARY DATE: 0000-00-00"_s);
    expected << Entry(u"NoDay"_s, u"ERROR ANNIVERSARY DATE: 2026-05-00"_s, u"Unknown"_s);
    EXPECT_EQ(BuildExpiringListing(t, Quarter::Second, Today), expected);
}

TEST(ExpiringListingTest, EachQuarterFromItsFirstDayToItsLastDay)
{
    // Today's year is 2026: the days around the year's ends belong to no quarter of it.
    const struct
    {
        Quarter quarter;
        QString dayBefore, first, last, dayAfter;
    } cases[] = {
        {Quarter::First, u"2025-12-31"_s, u"2026-01-01"_s, u"2026-03-31"_s, u"2026-04-01"_s},
        {Quarter::Second, u"2026-03-31"_s, u"2026-04-01"_s, u"2026-06-30"_s, u"2026-07-01"_s},
        {Quarter::Third, u"2026-06-30"_s, u"2026-07-01"_s, u"2026-09-30"_s, u"2026-10-01"_s},
        {Quarter::Fourth, u"2026-09-30"_s, u"2026-10-01"_s, u"2026-12-31"_s, u"2027-01-01"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.toStdString());
        const TCustomerTable t = Table({{u"Before"_s, c.dayBefore},
                                        {u"First"_s, c.first},
                                        {u"Last"_s, c.last},
                                        {u"After"_s, c.dayAfter}});
        const auto shown = [](const QString& iso) {
            return u"SUBSCRIPTION EXPIRES\t"_s + iso.mid(5, 2) + u'/' + iso.mid(8, 2) + u'/' +
                   iso.mid(0, 4);
        };
        QStringList expected = {u""_s, u"Listing Of Clients With Expiring Subscriptions"_s};
        expected << Entry(u"First"_s, shown(c.first)) << Entry(u"Last"_s, shown(c.last));
        expected << u"End of List"_s << u""_s << u""_s;
        expected << u"Listing Of Clients Without Anniversary Date"_s;
        EXPECT_EQ(BuildExpiringListing(t, c.quarter, Today), expected);
        // The picker preselects the same quarter on those days.
        EXPECT_EQ(QuarterOf(QDate::fromString(c.first, Qt::ISODate)), c.quarter);
        EXPECT_EQ(QuarterOf(QDate::fromString(c.last, Qt::ISODate)), c.quarter);
    }
}

TEST(ExpiringListingTest, EmptyReportAndTheFormFeedAtRow75)
{
    EXPECT_EQ(
        BuildExpiringListing(Table({}), Quarter::First, Today),
        (QStringList{u""_s, u"Listing Of Clients With Expiring Subscriptions"_s, u"End of List"_s,
                     u""_s, u""_s, u"Listing Of Clients Without Anniversary Date"_s}));

    const QString formFeed(QChar(12));
    std::vector<Customer> rows(76, Customer{u"Row"_s, u"2026-02-01"_s});
    rows[75].anniversary = u"2026-08-01"_s; // row 75 itself is not listed
    QStringList listing = BuildExpiringListing(Table(rows), Quarter::First, Today);
    EXPECT_EQ(listing.count(formFeed), 1);
    // After the 75 entries of rows 0 to 74: 2 heading lines + 75 * 7.
    EXPECT_EQ(listing.indexOf(formFeed), 2 + 75 * 7);

    rows.pop_back();
    EXPECT_EQ(BuildExpiringListing(Table(rows), Quarter::First, Today).count(formFeed), 0);
    rows.push_back({u"Missing"_s, u"0000-00-00"_s});
    EXPECT_EQ(BuildExpiringListing(Table(rows), Quarter::First, Today).count(formFeed), 0);
}

TEST(ExpiringListingTest, AnImpossibleDateStopsTheReport)
{
    for (const QString& bad : {u"2026-02-30"_s, u""_s, u"2026-5-1"_s}) {
        try {
            BuildExpiringListing(Table({{u"Bad"_s, bad}}), Quarter::First, Today);
            ADD_FAILURE() << "accepted " << bad.toStdString();
        } catch (const ConversionError& e) {
            const QString text = bad.mid(5, 2) + u'/' + bad.mid(8, 2) + u'/' + bad.mid(0, 4);
            EXPECT_EQ(e.message(), u"''"_s + text + u"'' is not a valid date"_s);
        }
    }
}

TEST(QuarterPickerTest, PreselectsTodaysQuarterAndNeedsAChoice)
{
    TForm3 picker;
    const struct
    {
        QDate today;
        QRadioButton* checked;
    } cases[] = {{QDate(2026, 3, 31), picker.RadioButton1},
                 {QDate(2026, 4, 1), picker.RadioButton2},
                 {QDate(2026, 9, 30), picker.RadioButton3},
                 {QDate(2026, 12, 31), picker.RadioButton4}};
    for (const auto& c : cases) {
        picker.Today = [&] { return c.today; };
        picker.FormShow();
        EXPECT_TRUE(c.checked->isChecked()) << c.today.toString(Qt::ISODate).toStdString();
    }

    // Continue gives the quarter's code; with nothing checked it does nothing.
    picker.RadioButton3->setChecked(true);
    picker.Button1Click();
    EXPECT_EQ(picker.result(), 300);
    picker.setResult(0);
    for (QRadioButton* b :
         {picker.RadioButton1, picker.RadioButton2, picker.RadioButton3, picker.RadioButton4}) {
        b->setAutoExclusive(false);
        b->setChecked(false);
    }
    picker.Button1Click();
    EXPECT_EQ(picker.result(), 0);
    picker.Button2Click();
    EXPECT_EQ(picker.result(), TForm3::ResultCancel);
}

} // namespace
