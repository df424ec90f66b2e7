// The main window against a real reference server: start-up, the list views
// and their filters, refresh, failures and the progress window.

#include "gui_fixture.h"

#include "customer_list_model.h"
#include "fonts.h"
#include "scripted_server.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCommandLinkButton>
#include <QFontInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <optional>

namespace {

using namespace Qt::StringLiterals;

QStringList Captions(TForm1& form)
{
    QStringList out;
    for (int i = 0; i < form.ListModel->count(); ++i)
        out << form.ListModel->caption(i);
    return out;
}

std::vector<refserver::Customer> MixedCustomers()
{
    return {
        MakeCustomer("Anderson", "Paul"),
        MakeCustomer("  Olsen", "Karl", "CD By Mail "), // leading blanks, CD with a trailing blank
        MakeCustomer("de Vries", "Anna", "cd by mail"), // lower-case name; CD in the wrong case
        MakeCustomer("", "Nobody"),
        MakeCustomer("Dahl", "Eva", "CD By Mail"),
        MakeCustomer("Olsen", "Dormant", "CD By Mail", -1),
    };
}

TEST(MainWindowTest, StartUpLoadsListStatisticsAndCallsInOrder)
{
    refserver::Call call{0, 1, "Incoming", "Anna", "2026-03-02", "10:15:00", "Hello"};
    GuiFixture fixture(MixedCustomers(), {call});
    fixture.start();
    TForm1& form = fixture.form();

    EXPECT_EQ(fixture.requests(), (QStringList{u"/manage/datapile.php"_s, u"/quickstats.php"_s,
                                               u"/manage/callpile.php"_s}));
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    // The table holds the active list in the server's order, the list all of it.
    EXPECT_EQ(form.Customers.CustomerCount(), 5);
    EXPECT_EQ(Captions(form), (QStringList{u", Nobody"_s, u"Olsen, Karl"_s, u"Anderson, Paul"_s,
                                           u"Dahl, Eva"_s, u"de Vries, Anna"_s}));
    EXPECT_EQ(
        form.StatusText->text(),
        u"5 Registered Customers   |   5 current, 0 expired, 1 dormant customers; 1 calls logged");
    EXPECT_EQ(form.SelectedPosition(), 0);
    EXPECT_FALSE(form.Panel6->isVisible());
    EXPECT_EQ(form.Calls.CallCount(), 1);
    EXPECT_FALSE(fixture.progress().isVisible());
    // The sub-item of an entry is its row in the table.
    EXPECT_EQ(form.ListModel->data(form.ListModel->index(2, 1), Qt::DisplayRole).toString(),
              QString::number(2));
}

// The window is on screen and painted before the first list is asked for,
// so that its first painting does not hold up the list's transfer.
TEST(MainWindowTest, TheFirstLoadsStartOnceTheWindowIsPainted)
{
    GuiFixture fixture(MixedCustomers());
    fixture.windows = std::make_unique<WindowSet>(
        ServerSettings{fixture.baseAddress(), QString(), QString(), QString()});
    TForm1& form = fixture.form();
    struct PaintSeen : QObject
    {
        bool painted = false;
        bool eventFilter(QObject*, QEvent* event) override
        {
            painted = painted || event->type() == QEvent::Paint;
            return false;
        }
    } paints;
    form.installEventFilter(&paints);
    std::optional<bool> paintedAtFirstRequest;
    form.IdHTTP1.OnWorkBegin = [&](TransferDirection d, std::int64_t n) {
        if (!paintedAtFirstRequest)
            paintedAtFirstRequest = paints.painted;
        form.IdHTTP1WorkBegin(d, n);
    };
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.requests().size() >= 3; }, 10000));
    ASSERT_TRUE(fixture.waitUntilIdle());
    form.removeEventFilter(&paints);
    EXPECT_EQ(paintedAtFirstRequest, std::optional<bool>(true));
    EXPECT_EQ(form.Customers.CustomerCount(), 5);
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
}

TEST(MainWindowTest, LetterAndCdFiltersUseTrimmedNamesExactly)
{
    GuiFixture fixture(MixedCustomers());
    fixture.start();
    TForm1& form = fixture.form();

    const struct
    {
        int view;
        QString letter;
        QStringList captions;
    } cases[] = {
        {0, u"O"_s, {u"Olsen, Karl"_s}},
        {0, u"D"_s, {u"Dahl, Eva"_s}}, // "de Vries" only under ALL
        {0, u"N"_s, {}},               // an empty last name only under ALL
        {2, u"ALL"_s, {u"Olsen, Karl"_s, u"Dahl, Eva"_s}},
        {2, u"D"_s, {u"Dahl, Eva"_s}},
        {1, u"O"_s, {u"Olsen, Dormant"_s}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((QString::number(c.view) + u' ' + c.letter).toStdString());
        form.TabControl2->setCurrentIndex(c.view);
        int letterIndex = 0;
        for (int i = 0; i < form.TabControl3->count(); ++i) {
            if (form.TabControl3->tabText(i) == c.letter)
                letterIndex = i;
        }
        form.TabControl3->setCurrentIndex(letterIndex);
        EXPECT_EQ(Captions(form), c.captions);
        // The image tells the CD list from the others.
        if (!c.captions.isEmpty()) {
            EXPECT_EQ(form.ListModel->entries().front().image, c.view == 2 ? 1 : 0);
        }
        // With nothing to show, nothing is selected and the overlay stays.
        EXPECT_EQ(form.Panel6->isVisible(), c.captions.isEmpty());
    }
    // The status line counts every customer the server announced.
    EXPECT_TRUE(form.StatusText->text().startsWith(u"1 Dormant Customers   |   "));
    EXPECT_TRUE(fixture.errorBoxes.isEmpty());
}

TEST(MainWindowTest, DormantViewHidesTheMoveButton)
{
    GuiFixture fixture(MixedCustomers());
    fixture.start();
    TForm1& form = fixture.form();
    ASSERT_TRUE(form.ButtonGradient1->isVisible());
    form.TabControl2->setCurrentIndex(1);
    EXPECT_EQ(form.ListMode, u'D');
    EXPECT_FALSE(form.ButtonGradient1->isVisible());
    EXPECT_EQ(Captions(form), QStringList{u"Olsen, Dormant"_s});
    form.TabControl2->setCurrentIndex(2);
    EXPECT_EQ(form.ListMode, u'A');
    EXPECT_TRUE(form.ButtonGradient1->isVisible());
}

TEST(MainWindowTest, RefreshKeepsThePositionOrFallsBackToTheFirst)
{
    GuiFixture fixture(MixedCustomers());
    fixture.start();
    TForm1& form = fixture.form();
    form.SelectPosition(3);
    fixture.clearRequests();
    QTest::mouseClick(form.SpeedButton3, Qt::LeftButton);
    EXPECT_EQ(fixture.requests(), (QStringList{u"/manage/datapile.php"_s, u"/quickstats.php"_s}));
    EXPECT_EQ(form.SelectedPosition(), 3);

    form.ListView1->selectionModel()->clearSelection();
    QTest::mouseClick(form.SpeedButton3, Qt::LeftButton);
    EXPECT_EQ(form.SelectedPosition(), 0);
    EXPECT_FALSE(form.Panel6->isVisible());
}

TEST(MainWindowTest, ServerDownAtStartUpShowsOneErrorAndAnEmptyWindow)
{
    GuiFixture fixture;
    scripted::RefusingPort refusing;
    fixture.start(QString::fromStdString(refusing.address("")));
    TForm1& form = fixture.form();
    EXPECT_EQ(fixture.errorBoxes, QStringList{u"Socket Error # 111\nConnection refused."_s});
    EXPECT_EQ(form.ListModel->count(), 0);
    EXPECT_TRUE(form.StatusText->text().isEmpty());
    EXPECT_FALSE(fixture.progress().isVisible());
    EXPECT_EQ(form.Calls.CallCount(), 0);
}

TEST(MainWindowTest, ProgressWindowFollowsTheTransfer)
{
    // A list of exactly 5000 bytes arriving in pieces of 2000, 2000 and 1000,
    // far enough apart to be read one by one even on a loaded machine.
    const std::string body = "0<br>" + std::string(4995, ' ');
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5000\r\n\r\n";
    scripted::ScriptedServer server({
        {{{0, head + body.substr(0, 2000)},
          {500, body.substr(2000, 2000)},
          {500, body.substr(4000)}}},
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
        scripted::Answer("HTTP/1.1 200 OK", {}, "0<br>"),
    });
    GuiFixture fixture;
    std::vector<std::tuple<int, int, QString>> seen; // maximum, position, Label2
    fixture.windows = std::make_unique<WindowSet>(
        ServerSettings{QString::fromStdString(server.address("")), QString(), QString(), QString()});
    TForm1& form = fixture.form();
    TForm5& progress = fixture.progress();
    form.IdHTTP1.OnWork = [&](TransferDirection d, std::int64_t n) {
        form.IdHTTP1Work(d, n);
        if (d == TransferDirection::Receive && seen.size() < 3)
            seen.emplace_back(progress.ProgressBar1->maximum(), progress.ProgressBar1->value(),
                              progress.Label2->text());
    };
    form.show();
    fixture.waitUntilIdle();

    ASSERT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    const std::vector<std::tuple<int, int, QString>> expected = {
        {5000, 2000, u"40.00% Complete"_s},
        {5000, 4000, u"80.00% Complete"_s},
        {5000, 5000, u"100.00% Complete"_s}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(progress.Label2->text(), u"Finished");
    EXPECT_EQ(progress.Label1->text(), u"Loading Customers Call History...");
    EXPECT_FALSE(progress.isVisible());
}

// A change the code (or a screen reader) makes while a list waits starts
// no second load inside the wait: its handler runs once the wait is over.
TEST(MainWindowTest, AHandlerStartedDuringAWaitRunsAfterIt)
{
    scripted::ScriptedServer server({
        {{{800, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n0<br>"}}},
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
        scripted::Answer("HTTP/1.1 200 OK", {}, "0<br>"),
        scripted::Answer("HTTP/1.1 200 OK", {}, "0<br>"),
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
    });
    GuiFixture fixture;
    fixture.windows = std::make_unique<WindowSet>(
        ServerSettings{QString::fromStdString(server.address("")), QString(), QString(), QString()});
    TForm1& form = fixture.form();
    std::size_t connectionsDuringWait = 0;
    QTimer::singleShot(300, &form, [&] {
        form.TabControl3->setCurrentIndex(2); // a letter change while the list still waits
        connectionsDuringWait = server.connectionCount();
    });
    form.show();
    fixture.waitUntilIdle();

    EXPECT_EQ(connectionsDuringWait, 1u);
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return server.requests().size() >= 5 && !form.IdHTTP1.busy(); }));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[3].requestLine(), "POST /manage/datapile.php HTTP/1.0");
    EXPECT_EQ(form.TabControl3->currentIndex(), 2);
    EXPECT_FALSE(form.IdHTTP1.busy());
}

TEST(MainWindowTest, IdleRepaintsOncePerIdlePeriodAndThenRests)
{
    GuiFixture fixture(MixedCustomers());
    fixture.start();
    TForm1& form = fixture.form();

    // An event wakes the application: one repaint follows when it is idle again.
    int before = form.idleRepaints();
    form.resize(1200, 760);
    QEventLoop loop;
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_GT(form.idleRepaints(), before);

    // Then the program rests: a busy idle handler would repaint thousands of times.
    before = form.idleRepaints();
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_LT(form.idleRepaints() - before, 20);
}

TEST(MainWindowTest, LayoutFollowsTheWindowSize)
{
    GuiFixture fixture(MixedCustomers());
    fixture.start();
    TForm1& form = fixture.form();
    EXPECT_EQ(QFontInfo(form.font()).family(), u"Tahoma");
    EXPECT_EQ(form.size(), QSize(1128, 722));
    EXPECT_EQ(form.ListView1->geometry(), QRect(0, 97, 265, 606));
    EXPECT_EQ(form.Panel4->geometry(), QRect(265, 97, 863, 606));
    EXPECT_EQ(form.Panel6->geometry().size(), QSize(684, 363));
    EXPECT_EQ(form.GroupBox1->geometry(), QRect(400, 49, 323, 276));
    EXPECT_EQ(form.Panel5->x(), 685);

    form.resize(1400, 900);
    EXPECT_EQ(form.ListView1->geometry(), QRect(0, 97, 265, 900 - 97 - 19));
    EXPECT_EQ(form.Panel5->width(), 177);
    EXPECT_EQ(form.Panel2->height(), 241);
    EXPECT_EQ(form.Panel4->width() - form.GroupBox1->geometry().right() - 1, 140);
    EXPECT_EQ(form.Panel1->width() - form.BitBtn2->geometry().right() - 1, 15);
    EXPECT_EQ(form.TabControl2->height(), 29);
    EXPECT_EQ(form.TabControl3->geometry(), QRect(0, 73, 1400, 24));
    // The letter tabs are 35 x 16, along the strip's bottom edge.
    EXPECT_EQ(form.TabControl3->tabRect(26).width(), 35);
    EXPECT_EQ(form.TabControl3->tabRect(26).right() + 1, 27 * 35);
}

} // namespace

namespace {

TEST(MainWindowTest, TabFromTheFindBoxReachesTheUnseenCloseButton)
{
    GuiFixture fixture(MixedCustomers());
    fixture.start();
    TForm1& form = fixture.form();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.Edit1->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(form.Edit1));

    QWidget* const order[] = {form.BitBtn1,         form.BitBtn2,     form.TabControl1,
                              form.ButtonGradient1, form.TabControl2, form.TabControl3,
                              form.ListView1,       form.Edit1};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
        if (QApplication::focusWidget() != next)
            next->setFocus();
    }

    // Out of sight beyond the bar's right edge, yet it closes the window.
    EXPECT_GE(form.BitBtn1->mapTo(&form, QPoint(0, 0)).x(), form.width());
    QTest::keyClick(form.BitBtn1, Qt::Key_Return);
    EXPECT_FALSE(form.isVisible());
}

} // namespace

namespace {

TEST(MainWindowTest, AssistiveTechnologiesSeeAWindowAndNamedControls)
{
    GuiFixture fixture;
    fixture.start();
    TForm1& form = fixture.form();

    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&form);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), u"Tillora Customer Management");

    const std::pair<QWidget*, QString> named[] = {
        {form.TabControl2, u"Customer lists"_s},
        {form.TabControl3, u"Last name initial"_s},
        {form.ListView1, u"Customers"_s},
        {form.TabControl1, u"Call history"_s},
    };
    for (const auto& [widget, name] : named) {
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(control, nullptr) << widget->objectName().toStdString();
        EXPECT_EQ(control->text(QAccessible::Name).toStdString(), name.toStdString())
            << widget->objectName().toStdString();
    }
    // The tabs stay reachable as children of their strip.
    QAccessibleInterface* views = QAccessible::queryAccessibleInterface(form.TabControl2);
    ASSERT_EQ(views->childCount(), form.TabControl2->count());
    QAccessibleInterface* grouped = views->child(3);
    EXPECT_EQ(grouped->role(), QAccessible::PageTab);
    EXPECT_EQ(grouped->text(QAccessible::Name), u"Grouped By State");
    EXPECT_EQ(views->indexOfChild(grouped), 3);
    EXPECT_FALSE(grouped->state().selected);
    EXPECT_TRUE(views->child(0)->state().selected);
}

TEST(MainWindowTest, ClosingDuringAWaitAbandonsTheRequestQuietly)
{
    // The server takes the request and never answers.
    scripted::ScriptedServer server({scripted::Exchange{{}, scripted::Ending::HoldOpen}});
    GuiFixture fixture;
    fixture.windows = std::make_unique<WindowSet>(
        ServerSettings{QString::fromStdString(server.address("")), QString(), QString(), QString()});
    TForm1& form = fixture.form();
    QTimer::singleShot(400, &form, [&] { form.close(); });
    form.show();
    ASSERT_TRUE(fixture.waitUntilIdle());

    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    EXPECT_EQ(server.requests().size(), 1u);
}

} // namespace
