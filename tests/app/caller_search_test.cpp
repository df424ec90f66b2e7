// The find box finds a caller by telephone number, e-mail address, business
// name, serial number or product key when no caption begins with the typed
// text: a real window against the reference server.

#include "gui_fixture.h"

#include "customer_list_model.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>

namespace {

using namespace Qt::StringLiterals;

refserver::Customer Caller(const std::string& last, const std::string& first,
                           const std::string& p1, const std::string& p2, const std::string& em,
                           const std::string& bn, const std::string& sn, const std::string& pk)
{
    refserver::Customer c = MakeCustomer(last, first);
    c.p1 = p1;
    c.p2 = p2;
    c.em = em;
    c.bn = bn;
    c.sn = sn;
    c.pk = pk;
    return c;
}

TEST(CallerSearchTest, NumbersAddressesAndKeysFindTheCallerWhenNoNameMatches)
{
    // Listed by last name: Adams, Baker, Smith, Zeta.
    GuiFixture fixture({
        Caller("Smith", "Ann", "3025550100", "", "ANN@SMITH.EXAMPLE", "Smith Accounting", "0007",
               "ZZ-9"),
        Caller("Adams", "Jo", "(302) 555-0100", "", "jo@adams.example", "Smithfield Bakery", "0042",
               "TLR-7788-0042"),
        Caller("Zeta", "Tom", "2125550123", "", "tom@zeta.example", "Zeta Tools", "9876",
               "TLR-1111-2222"),
        Caller("Baker", "Sue", "302-555-0199", "+1 410 555 7777", "sue@bakerco.example",
               "Baker & Co", "1234", "TLR-0000-5555"),
    });
    fixture.start();
    TForm1& form = fixture.form();
    ASSERT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    struct Case
    {
        QString typed;
        QString selects; // the caption selected; empty for none
        const char* why;
    };
    const Case cases[] = {
        {u"smith"_s, u"Smith, Ann"_s, "a name prefix wins over an earlier business name"},
        {u"555-0100"_s, u"Adams, Jo"_s, "digits of a telephone number: the first in list order"},
        {u"410.555.7777"_s, u"Baker, Sue"_s, "the second telephone number, other punctuation"},
        {u"(302) 555 0199"_s, u"Baker, Sue"_s, "a whole number written another way"},
        {u"0199"_s, u"Baker, Sue"_s, "four digits are enough"},
        {u"019"_s, QString(), "three are not, and no other field holds them"},
        {u"  SUE@BakerCo.Example "_s, u"Baker, Sue"_s, "an e-mail address, case-blind, trimmed"},
        {u"smith.example"_s, u"Smith, Ann"_s, "part of an e-mail address"},
        {u"field bak"_s, u"Adams, Jo"_s, "part of a business name"},
        {u"9876"_s, u"Zeta, Tom"_s, "a serial number"},
        {u"tlr-0000"_s, u"Baker, Sue"_s, "part of a product key"},
        {u"nobody@nowhere"_s, QString(), "nothing matches"},
        {u"   "_s, QString(), "blanks only"},
        {u"@"_s, QString(), "every e-mail address holds it, but a text needs three characters"},
        {u"ak"_s, QString(), "two business names hold these two"},
        {u"  ak  "_s, QString(), "blanks at both ends do not count"},
        {u"  ake "_s, u"Adams, Jo"_s, "three do: the first business name holding them"},
        {u"876"_s, u"Zeta, Tom"_s, "three digits of a serial number, as text"},
        {u"z"_s, u"Zeta, Tom"_s, "a name needs only its first letter"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        // Start with nothing selected, so that every find changes the selection.
        form.SelectPosition(-1);
        const QString shown = form.Label3->text();
        form.Edit1->setFocus();
        form.Edit1->clear();
        QTest::keyClicks(form.Edit1, c.typed); // typed, as the operator does
        ASSERT_EQ(form.Edit1->text(), c.typed);
        QTest::keyClick(form.Edit1, Qt::Key_Return);

        if (c.selects.isEmpty()) {
            EXPECT_EQ(form.SelectedPosition(), -1);
            EXPECT_EQ(form.Label3->text(), shown); // the customer shown before stays
            EXPECT_EQ(form.Edit1->selectedText(), c.typed);
            continue;
        }
        const int position = form.SelectedPosition();
        ASSERT_GE(position, 0);
        EXPECT_EQ(form.ListModel->caption(position), c.selects);
        // Selected as a name match is: detail area, caption in the box, all selected.
        const QStringList name = c.selects.split(u", "_s);
        EXPECT_EQ(form.Label3->text(), u"Client Detail Data Sheet - "_s + name[1] + u' ' + name[0]);
        EXPECT_EQ(form.Edit1->text(), c.selects);
        EXPECT_EQ(form.Edit1->selectedText(), c.selects);
        EXPECT_TRUE(form.ListView1->visualRect(form.ListModel->indexOfPosition(position))
                        .intersects(form.ListView1->viewport()->rect()));
    }
}

} // namespace
