// The detail panel, the call strip, the grouped view and the find box, on
// crafted tables so that every edge of the stored data can be shown.

#include "gui_fixture.h"

#include "customer_list_model.h"
#include "label_text.h"
#include "list_text.h"
#include "scripted_server.h"
#include "tab_stop_label.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>
#include <QTreeView>

namespace {

using namespace Qt::StringLiterals;

const std::string Utf8 = "Content-Type: text/html; charset=UTF-8";

struct Row
{
    QString id, ln, fn, st = u"DE"_s, p2 = u"3025550101"_s, pd = u"2026-01-10"_s, act = u"1"_s,
                        bn = u"Lee & Sons"_s;
};

QString CustomerList(const std::vector<Row>& rows)
{
    QList<QStringList> records;
    for (const Row& r : rows)
        records << QStringList{r.id,
                               r.ln,
                               r.fn,
                               r.bn,
                               u"1 Main St"_s,
                               u"Dover"_s,
                               r.st,
                               u"19901"_s,
                               u"3025550100"_s,
                               r.p2,
                               u"a@b.c"_s,
                               u"Web Search"_s,
                               u"CD By Mail"_s,
                               u"0042"_s,
                               u"TLR-1"_s,
                               u"Unlimited"_s,
                               u"2020-01-15"_s,
                               u"2027-01-15"_s,
                               u"2026-01-15"_s,
                               r.pd,
                               r.act};
    return ListResponse(records);
}

QString CallList(const std::vector<QStringList>& calls)
{
    return ListResponse(QList<QStringList>(calls.begin(), calls.end()));
}

// The main window with the given lists behind a scripted server.
class BrowserFixture
{
public:
    BrowserFixture(const std::vector<Row>& customers, const std::vector<QStringList>& calls,
                   std::vector<scripted::Exchange> later = {})
    {
        std::vector<scripted::Exchange> script = {
            scripted::Answer("HTTP/1.1 200 OK", {Utf8}, CustomerList(customers).toStdString()),
            scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
            scripted::Answer("HTTP/1.1 200 OK", {Utf8}, CallList(calls).toStdString()),
        };
        for (scripted::Exchange& e : later)
            script.push_back(std::move(e));
        server = std::make_unique<scripted::ScriptedServer>(std::move(script));
        fixture.start(QString::fromStdString(server->address("")));
    }
    TForm1& form() { return fixture.form(); }

    std::unique_ptr<scripted::ScriptedServer> server;
    GuiFixture fixture;
};

QString Plain(QLabel* label)
{
    return label->text();
}

TEST(DetailPanelTest, ShowsTheSelectedCustomerAsStored)
{
    BrowserFixture b(
        {{u"7"_s, u"Lee"_s, u"Ann"_s, u"DE"_s, u""_s, u"0000-00-00"_s, u"0"_s},
         {u"8"_s, u"Moe"_s, u"Bo"_s, u"DE"_s, u"3025550101"_s, u"2026-01-10"_s, u"-1"_s},
         {u"9"_s, u"Nox"_s, u"Cy"_s, u"DE"_s, u"3025550101"_s, u"2026-01-10"_s, u"7"_s},
         {u"10"_s, u"Oak"_s, u"Di"_s}},
        {});
    TForm1& form = b.form();
    ASSERT_TRUE(b.fixture.errorBoxes.isEmpty()) << b.fixture.errorBoxes.join(u'\n').toStdString();

    // The first entry was selected by the load.
    EXPECT_EQ(Plain(form.Label3), u"Client Detail Data Sheet - Ann Lee");
    EXPECT_EQ(form.Edit1->text(), u"Lee, Ann");
    EXPECT_EQ(Plain(form.lblBN), u"Lee & Sons");
    EXPECT_EQ(Plain(form.lblP1), u"(302) 555-0100");
    EXPECT_EQ(Plain(form.lblP2), u"Unknown");
    EXPECT_EQ(Plain(form.Label13), u"Customer ID: 7");
    EXPECT_EQ(Plain(form.Label16), u"Serial #: \t\t0042");
    EXPECT_EQ(Plain(form.Label18), u"Paid Date: \t\tError Date");
    EXPECT_EQ(Plain(form.Label19), u"Anniversary: \t\t01/15/2026");
    EXPECT_EQ(Plain(form.Label22), u"User Status: \t\tExpired");

    // Status texts; an unknown status leaves the previous one.
    const std::pair<int, QString> statuses[] = {{3, u"User Status: \t\tCurrent"_s},
                                                {1, u"User Status: \t\tDormant"_s},
                                                {2, u"User Status: \t\tDormant"_s},
                                                {3, u"User Status: \t\tCurrent"_s},
                                                {2, u"User Status: \t\tCurrent"_s}};
    for (const auto& [position, text] : statuses) {
        form.SelectPosition(position);
        EXPECT_EQ(Plain(form.Label22), text) << position;
    }

    // Tabs expand to stops of eight average character widths.
    const int stop = 8 * form.Label16->fontMetrics().averageCharWidth();
    EXPECT_GE(form.Label16->sizeHint().width(),
              2 * stop + form.Label16->fontMetrics().horizontalAdvance(u"0042"_s) - 1);

    // A deselection changes nothing but the overlay.
    form.Panel6->show();
    form.SelectPosition(-1);
    EXPECT_FALSE(form.Panel6->isVisible());
    EXPECT_EQ(Plain(form.Label3), u"Client Detail Data Sheet - Cy Nox");
    // A direct call without a selected entry leaves the panel as it is.
    form.ListView1SelectItem(0, true);
    EXPECT_EQ(Plain(form.Label3), u"Client Detail Data Sheet - Cy Nox");
}

TEST(CallStripTest, OneTabPerCallLastShown)
{
    BrowserFixture b(
        {{u"7"_s, u"Lee"_s, u"Ann"_s}, {u"8"_s, u"Moe"_s, u"Bo"_s}},
        {{u"1"_s, u"7"_s, u"Incoming"_s, u"Anna"_s, u"2026-03-01"_s, u"09:05:00"_s, u"First"_s},
         {u"2"_s, u"8"_s, u"Outgoing"_s, u"Brian"_s, u"2026-03-02"_s, u"10:00:00"_s, u"Other"_s},
         {u"3"_s, u"7"_s, u"Outgoing"_s, u"R&D"_s, u"2026-03-01"_s, u"14:30:00"_s, u"Second"_s},
         {u"4"_s, u"7"_s, u"Incoming"_s, u"Carol"_s, u"bad"_s, u"25:00"_s,
          u"\r\n\r\nLine one\r\nLine two & more\r\n \t"_s}});
    TForm1& form = b.form();
    // Right after start-up the strip of the first customer is still empty.
    EXPECT_EQ(form.TabControl1->count(), 0);
    EXPECT_FALSE(form.Image1->isVisible());

    form.SelectPosition(1);
    EXPECT_EQ(form.TabControl1->count(), 1);
    form.SelectPosition(0);
    ASSERT_EQ(form.TabControl1->count(), 3);
    EXPECT_EQ(form.TabControl1->tabText(0), u"03/01/2026");
    EXPECT_EQ(form.TabControl1->tabText(1), u"03/01/2026");
    EXPECT_EQ(form.TabControl1->tabText(2), u"Error Date");
    EXPECT_EQ(form.TabControl1->currentIndex(), 2);
    EXPECT_TRUE(form.Image1->isVisible());
    EXPECT_EQ(form.StripStamps[2], u"Error Date  TIME:Unknown");
    EXPECT_EQ(form.StripTexts[2], u"Line one\r\nLine two & more");
    EXPECT_EQ(form.Label27->text(), AcceleratorRichText(u"Line one\r\nLine two & more"_s));

    // Choosing a tab shows its call; "&" in the heading marks an accelerator.
    form.TabControl1->setCurrentIndex(1);
    EXPECT_EQ(form.StripTags[1], u"R&D - Outgoing");
    EXPECT_EQ(form.Label26->text(),
              AcceleratorRichText(u"03/01/2026  02:30 PM   -   R&D - Outgoing"_s));
    EXPECT_EQ(form.Label27->text(), AcceleratorRichText(u"Second"_s));
}

// Through real input: a click on a customer, then the arrow keys, each show
// exactly that customer's calls, in the call log's order, wherever they lie
// in it.
TEST(CallStripTest, ClicksAndArrowKeysShowEachCustomersCalls)
{
    std::vector<QStringList> calls;
    for (int call = 1; call <= 40; ++call) {
        const QString customer = call == 3 || call == 17 || call == 40 ? u"8"_s : u"7"_s;
        calls.push_back({QString::number(call), customer, u"Incoming"_s, u"Anna"_s,
                         u"2026-03-%1"_s.arg(call % 28 + 1, 2, 10, QChar(u'0')), u"09:05:00"_s,
                         u"Call %1"_s.arg(call)});
    }
    BrowserFixture b({{u"7"_s, u"Lee"_s, u"Ann"_s}, {u"8"_s, u"Moe"_s, u"Bo"_s},
                      {u"9"_s, u"Nye"_s, u"Cy"_s}},
                     calls);
    TForm1& form = b.form();
    QTreeView* list = form.ListView1;
    const auto strip = [&] {
        QStringList texts;
        for (const QString& text : form.StripTexts)
            texts << text;
        return texts;
    };

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(form.ListModel->index(1, 0)).center());
    EXPECT_EQ(strip(), (QStringList{u"Call 3"_s, u"Call 17"_s, u"Call 40"_s}));
    EXPECT_EQ(form.TabControl1->count(), 3);
    EXPECT_EQ(form.Label27->text(), AcceleratorRichText(u"Call 40"_s));

    QTest::keyClick(list, Qt::Key_Down); // Nye: no calls
    EXPECT_TRUE(strip().isEmpty());
    EXPECT_EQ(form.TabControl1->count(), 0);
    EXPECT_FALSE(form.Image1->isVisible());

    QTest::keyClick(list, Qt::Key_Up);
    QTest::keyClick(list, Qt::Key_Up); // Lee: every other call
    EXPECT_EQ(strip().size(), 37);
    EXPECT_EQ(strip().first(), u"Call 1");
    EXPECT_EQ(strip().last(), u"Call 39");
}

TEST(LabelTextTest, AmpersandMarksAnAcceleratorInCallLabels)
{
    const QString open = u"<span style=\"white-space: pre-wrap\">"_s;
    const struct
    {
        QString in, out;
    } cases[] = {
        {u"R&D"_s, u"R<u>D</u>"_s},      {u"A && B"_s, u"A &amp; B"_s},
        {u"end&"_s, u"end"_s},           {u"<b>\r\nx"_s, u"&lt;b&gt;<br>x"_s},
        {u"&&&x"_s, u"&amp;<u>x</u>"_s},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AcceleratorRichText(c.in), open + c.out + u"</span>"_s) << c.in.toStdString();
}

TEST(GroupedViewTest, OneGroupPerCodeInReplyOrder)
{
    BrowserFixture b({{u"1"_s, u" Lee "_s, u"Ann"_s, u"TX"_s},
                      {u"2"_s, u"Moe"_s, u"Bo"_s, u" DE "_s},
                      {u"3"_s, u"Nox"_s, u"Cy"_s, u"de"_s},
                      {u"4"_s, u"Oak"_s, u"Di"_s, u"DE"_s}},
                     {}, {scripted::Answer("HTTP/1.1 200 OK", {}, "DEKSDETX\n")});
    TForm1& form = b.form();
    form.TabControl2->setCurrentIndex(3);
    ASSERT_TRUE(b.fixture.errorBoxes.isEmpty()) << b.fixture.errorBoxes.join(u'\n').toStdString();

    CustomerListModel& model = *form.ListModel;
    ASSERT_TRUE(model.groupDisplay());
    QStringList headers, subtitles;
    for (const auto& g : model.groups()) {
        headers << g.header;
        subtitles << g.subtitle;
    }
    EXPECT_EQ(headers,
              (QStringList{u"Customers From DE"_s, u"Customers From KS"_s, u"Customers From DE"_s,
                           u"Customers From TX"_s, u"Customers From \n"_s}));
    EXPECT_EQ(subtitles, (QStringList{u"2 Customers in: DE"_s, u"0 Customers in: KS"_s,
                                      u"2 Customers in: DE"_s, u"1 Customers in: TX"_s,
                                      u"0 Customers in: \n"_s}));
    QStringList captions;
    for (int i = 0; i < model.count(); ++i)
        captions << model.caption(i);
    EXPECT_EQ(captions, (QStringList{u"Moe, Bo"_s, u"Oak, Di"_s, u"Moe, Bo"_s, u"Oak, Di"_s,
                                     u" Lee , Ann"_s}));
    // The first entry is selected and shown.
    EXPECT_EQ(form.SelectedPosition(), 0);
    EXPECT_EQ(form.Label3->text(), u"Client Detail Data Sheet - Bo Moe");
    // The find box searches in the order of the groups.
    form.Edit1->setText(u"oak"_s);
    form.Edit1KeyPress(QChar(13));
    EXPECT_EQ(form.SelectedPosition(), 1);

    // A letter change leaves the grouped view as it is.
    form.TabControl3->setCurrentIndex(3);
    EXPECT_TRUE(model.groupDisplay());
    EXPECT_EQ(model.count(), 5);
    // Back to a list view: flat again, with no groups.
    form.TabControl2->setCurrentIndex(0);
    EXPECT_FALSE(model.groupDisplay());
}

TEST(GroupedViewTest, KeysTypingAndClicksMoveOnlyBetweenCustomers)
{
    // Groups DE (Moe, Oak), KS (empty) and TX (Lee, Carr); every header
    // begins with "C", like Carr.
    BrowserFixture b({{u"1"_s, u"Moe"_s, u"Bo"_s, u"DE"_s},
                      {u"2"_s, u"Oak"_s, u"Di"_s, u"DE"_s},
                      {u"3"_s, u"Lee"_s, u"Ann"_s, u"TX"_s},
                      {u"4"_s, u"Carr"_s, u"Cy"_s, u"TX"_s}},
                     {}, {scripted::Answer("HTTP/1.1 200 OK", {}, "DEKSTX")});
    TForm1& form = b.form();
    form.TabControl2->setCurrentIndex(3);
    ASSERT_TRUE(b.fixture.errorBoxes.isEmpty()) << b.fixture.errorBoxes.join(u'\n').toStdString();
    ASSERT_EQ(form.ListModel->count(), 4);
    QTreeView* list = form.ListView1;
    const QStringList shown = {u"Client Detail Data Sheet - Bo Moe"_s,
                               u"Client Detail Data Sheet - Di Oak"_s,
                               u"Client Detail Data Sheet - Ann Lee"_s,
                               u"Client Detail Data Sheet - Cy Carr"_s};
    auto expectOn = [&](int position, const char* step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(form.SelectedPosition(), position);
        EXPECT_EQ(form.ListModel->positionOf(list->currentIndex()), position);
        EXPECT_EQ(form.Label3->text().toStdString(), shown[position].toStdString());
    };
    expectOn(0, "first customer selected");

    // Typing "c" finds Carr, not a header.
    QTest::keyClicks(list, u"c"_s);
    expectOn(3, "type-ahead");

    struct KeyStep
    {
        Qt::Key key;
        int expected;
        const char* step;
    };
    const KeyStep steps[] = {
        {Qt::Key_Home, 0, "Home"},         {Qt::Key_Down, 1, "Down within a group"},
        {Qt::Key_Down, 2, "Down across"},  {Qt::Key_Up, 1, "Up across"},
        {Qt::Key_End, 3, "End"},           {Qt::Key_PageUp, 0, "PageUp"},
        {Qt::Key_PageDown, 3, "PageDown"}, {Qt::Key_Down, 3, "Down at the end"},
    };
    for (const KeyStep& s : steps) {
        QTest::keyClick(list, s.key);
        expectOn(s.expected, s.step);
    }

    // A click on a header changes nothing.
    const QModelIndex header = form.ListModel->index(2, 0); // "Customers From TX"
    ASSERT_EQ(header.data().toString(), u"Customers From TX");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(header).center());
    expectOn(3, "click on a header");
}

TEST(QuickFindTest, EnterSearchesThenMovesBetweenFindBoxAndList)
{
    BrowserFixture b({{u"1"_s, u"Adams"_s, u"Jo"_s},
                      {u"2"_s, u"Smith"_s, u"Ann"_s},
                      {u"3"_s, u"Smithers"_s, u"Bo"_s}},
                     {});
    TForm1& form = b.form();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.Edit1->setFocus();
    EXPECT_EQ(form.Edit1->palette().color(QPalette::Base),
              form.Edit1->palette().color(QPalette::ToolTipBase));

    form.Edit1->setText(u"smi"_s);
    QTest::keyClick(form.Edit1, Qt::Key_Return);
    EXPECT_EQ(form.SelectedPosition(), 1);
    EXPECT_EQ(form.Label3->text(), u"Client Detail Data Sheet - Ann Smith");
    EXPECT_EQ(form.Edit1->text(), u"Smith, Ann");
    EXPECT_EQ(form.Edit1->selectedText(), u"Smith, Ann");

    QTest::keyClick(form.Edit1, Qt::Key_Return); // all selected: to the list
    EXPECT_EQ(QApplication::focusWidget(), form.ListView1);
    EXPECT_EQ(form.Edit1->palette().color(QPalette::Base), QColor(Qt::white));
    QTest::keyClick(form.ListView1, Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(form.Edit1));
    EXPECT_EQ(form.Edit1->selectedText(), u"Smith, Ann");

    // A match that is already selected changes nothing.
    form.Edit1->setText(u"SMITH"_s);
    form.Label3->setText(u"untouched"_s);
    QTest::keyClick(form.Edit1, Qt::Key_Return);
    EXPECT_EQ(form.Label3->text(), u"untouched");
    EXPECT_EQ(form.Edit1->selectedText(), u"SMITH");

    // No match: no entry selected, the previous customer still shown.
    form.Label3->setText(u"Client Detail Data Sheet - Ann Smith"_s);
    form.Edit1->setText(u"zz"_s);
    QTest::keyClick(form.Edit1, Qt::Key_Return);
    EXPECT_EQ(form.SelectedPosition(), -1);
    EXPECT_EQ(form.Label3->text(), u"Client Detail Data Sheet - Ann Smith");
    EXPECT_EQ(form.Edit1->selectedText(), u"zz");

    // Escape goes to the list whatever the box holds; Enter in an empty box too.
    QTest::keyClick(form.Edit1, Qt::Key_Escape);
    EXPECT_EQ(QApplication::focusWidget(), form.ListView1);
    form.Edit1->setFocus();
    form.Edit1->clear();
    QTest::keyClick(form.Edit1, Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), form.ListView1);
    EXPECT_EQ(form.SelectedPosition(), -1);
}

TEST(QuickFindTest, OnlyTheBeginningOfACaptionFindsByName)
{
    // No other field of these customers holds any of the typed texts.
    BrowserFixture b({{u"1"_s, u"Adams"_s, u"Jo"_s},
                      {u"2"_s, u"Smith"_s, u"Ann"_s},
                      {u"3"_s, u"Smithers"_s, u"Bo"_s}},
                     {});
    TForm1& form = b.form();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    const struct
    {
        QString typed;
        int selects; // -1: none
    } cases[] = {
        {u"ams"_s, -1},     // inside a last name
        {u"ers, b"_s, -1},  // across the separator
        {u"jo"_s, -1},      // the first name
        {u"aDAMS, J"_s, 0}, // the beginning, case-blind
        {u"smithe"_s, 2},   // the first caption that begins with it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        form.SelectPosition(-1);
        form.Edit1->setFocus();
        form.Edit1->clear();
        QTest::keyClicks(form.Edit1, c.typed);
        QTest::keyClick(form.Edit1, Qt::Key_Return);
        EXPECT_EQ(form.SelectedPosition(), c.selects);
        if (c.selects < 0)
            EXPECT_EQ(form.Edit1->selectedText(), c.typed);
        else
            EXPECT_EQ(form.Edit1->selectedText(), form.ListModel->caption(c.selects));
    }
}

} // namespace
