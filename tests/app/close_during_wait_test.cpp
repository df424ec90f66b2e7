// The operator's input while a request waits: the "Close" buttons and the
// close commands end the wait and the application; everything else is held
// back and handed on once the wait is over. The input goes through the
// window system's queue, as real input does.

#include "gui_fixture.h"

#include "scripted_server.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QInputMethodEvent>
#include <QCommandLinkButton>
#include <QLineEdit>
#include <qpa/qwindowsysteminterface.h>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>

namespace {

using namespace Qt::StringLiterals;

// A click queued the way the window system queues one.
void QueueClick(QWidget* widget)
{
    QWindow* window = widget->window()->windowHandle();
    const QPointF local = widget->mapTo(widget->window(), widget->rect().center());
    const QPointF global = widget->mapToGlobal(widget->rect().center());
    QWindowSystemInterface::handleMouseEvent(window, local, global, Qt::LeftButton, Qt::LeftButton,
                                             QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent(window, local, global, Qt::NoButton, Qt::LeftButton,
                                             QEvent::MouseButtonRelease);
}

void QueueCloseCommand(QWidget* topLevel)
{
    QWindowSystemInterface::handleCloseEvent(topLevel->windowHandle());
}

// The windows, pointed at a scripted server, without credentials.
std::unique_ptr<WindowSet> WindowsFor(const scripted::ScriptedServer& server)
{
    return std::make_unique<WindowSet>(
        ServerSettings{QString::fromStdString(server.address("")), {}, {}, {}});
}

// The request lines the server received, in order.
std::vector<std::string> RequestLines(const std::vector<scripted::RecordedRequest>& requests)
{
    std::vector<std::string> lines;
    for (const scripted::RecordedRequest& r : requests)
        lines.push_back(r.requestLine());
    return lines;
}

struct Closer
{
    const char* name;
    std::function<void(TForm1&)> act;
};

// Runs the application's event loop as the program does, until it quits.
// A wait that nothing ends is ended after a while, so that a test which
// fails does so instead of waiting for ever; `stuck` tells it happened.
int RunUntilQuit(WindowSet& windows, bool& stuck)
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, windows.Form1.get(), [&] {
        stuck = true;
        for (HttpClient* client :
             {&windows.Form1->IdHTTP1, &windows.Form2->IdHTTP1, &windows.Form4->IdHTTP1})
            client->shutDown();
        QCoreApplication::exit(1);
    });
    guard.start(5000);
    return QApplication::exec();
}

TEST(CloseDuringWaitTest, CloseButtonsAndCloseCommandEndAListWait)
{
    const std::vector<Closer> closers = {
        {"visible Close button", [](TForm1& f) { QueueClick(f.BitBtn2); }},
        {"window's close command", [](TForm1& f) { QueueCloseCommand(&f); }},
        {"Enter on the focused Close button",
         [](TForm1& f) {
             f.BitBtn2->setFocus();
             QWindowSystemInterface::handleKeyEvent(f.windowHandle(), QEvent::KeyPress,
                                                    Qt::Key_Return, Qt::NoModifier);
             QWindowSystemInterface::handleKeyEvent(f.windowHandle(), QEvent::KeyRelease,
                                                    Qt::Key_Return, Qt::NoModifier);
         }},
    };
    for (const Closer& closer : closers) {
        SCOPED_TRACE(closer.name);
        // The server takes the list request and never answers.
        scripted::ScriptedServer server({scripted::Exchange{{}, scripted::Ending::HoldOpen}});
        GuiFixture fixture;
        fixture.windows = WindowsFor(server);
        TForm1& form = fixture.form();
        bool stuck = false;
        QTimer::singleShot(400, &form, [&] { closer.act(form); });
        form.show();
        EXPECT_EQ(RunUntilQuit(*fixture.windows, stuck), 0);

        EXPECT_FALSE(stuck) << "the wait ignored the close";
        EXPECT_FALSE(form.isVisible());
        EXPECT_FALSE(fixture.progress().isVisible());
        EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
        // The handler's next request (statistics) never starts.
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

// The dialog's close box is its Cancel: closed while its own save waits, it
// abandons that save and closes; the main window goes on and reloads what
// the save may have changed, so the operator sees whether it was stored.
TEST(CloseDuringWaitTest, ClosingTheCallDialogDuringItsSaveCancelsItAndReloadsTheCallLog)
{
    GuiFixture fixture({MakeCustomer("Adams", "Al")});
    // The call save goes to a server that never answers.
    scripted::ScriptedServer hanging({scripted::Exchange{{}, scripted::Ending::HoldOpen}});
    fixture.windows = std::make_unique<WindowSet>(ServerSettings{
        fixture.baseAddress(), QString(), QString(), QString::fromStdString(hanging.address(""))});
    TForm1& form = fixture.form();
    form.show();
    ASSERT_TRUE(fixture.waitUntilIdle());
    fixture.clearRequests();
    TForm4& dialog = *fixture.windows->Form4;

    QTimer::singleShot(0, &dialog, [&] {
        QTimer::singleShot(400, &dialog, [&] { QueueCloseCommand(&dialog); });
        QTest::mouseClick(dialog.Button2, Qt::LeftButton);
    });
    QTest::mouseClick(form.SpeedButton9, Qt::LeftButton);
    ASSERT_TRUE(fixture.waitUntilIdle());

    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(fixture.progress().isVisible());
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    EXPECT_TRUE(fixture.otherBoxes.isEmpty()) << fixture.otherBoxes.join(u'\n').toStdString();
    EXPECT_EQ(hanging.requests().size(), 1u);
    EXPECT_EQ(fixture.requests(), QStringList{u"/manage/callpile.php"_s});
    // The windows still work: the next request goes out as usual.
    QTest::mouseClick(form.SpeedButton3, Qt::LeftButton);
    ASSERT_TRUE(fixture.waitUntilIdle());
    EXPECT_TRUE(fixture.requests().contains(u"/manage/datapile.php"_s));
}

TEST(CloseDuringWaitTest, ClosingTheCustomerDialogDuringItsSaveCancelsItAndReloadsTheList)
{
    const std::string list = "0<br>";
    scripted::ScriptedServer server({
        scripted::Answer("HTTP/1.1 200 OK", {}, list),
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
        scripted::Answer("HTTP/1.1 200 OK", {}, list),
        // The save is taken and never answered.
        scripted::Exchange{{}, scripted::Ending::HoldOpen},
        scripted::Answer("HTTP/1.1 200 OK", {}, list),
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
    });
    GuiFixture fixture;
    fixture.windows = WindowsFor(server);
    TForm1& form = fixture.form();
    form.show();
    ASSERT_TRUE(fixture.waitUntilIdle());
    TForm2& dialog = *fixture.windows->Form2;

    QTimer::singleShot(0, &dialog, [&] {
        QTest::keyClicks(dialog.txtLN, u"Zeller"_s);
        QTimer::singleShot(400, &dialog, [&] { QueueCloseCommand(&dialog); });
        QTest::mouseClick(dialog.ButtonGradient1, Qt::LeftButton);
    });
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    server.waitForRequests(6);
    ASSERT_TRUE(fixture.waitUntilIdle());

    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    EXPECT_EQ(RequestLines(server.requests()),
              (std::vector<std::string>{
                  "POST /manage/datapile.php HTTP/1.0", "POST /quickstats.php HTTP/1.0",
                  "POST /manage/callpile.php HTTP/1.0", "POST /manage/newguy.php HTTP/1.0",
                  "POST /manage/datapile.php HTTP/1.0", "POST /quickstats.php HTTP/1.0"}));
}

TEST(CloseDuringWaitTest, ASecondSaveClickDuringTheSaveIsNotReplayedIntoTheEndedDialog)
{
    const std::string list = "0<br>";
    scripted::ScriptedServer server({
        scripted::Answer("HTTP/1.1 200 OK", {}, list),
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
        scripted::Answer("HTTP/1.1 200 OK", {}, list),
        // The save answers late; the reload follows.
        {{{800, scripted::ResponseBytes("HTTP/1.1 200 OK", {}, "saved")}}},
        scripted::Answer("HTTP/1.1 200 OK", {}, list),
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
    });
    GuiFixture fixture;
    fixture.windows = WindowsFor(server);
    TForm1& form = fixture.form();
    form.show();
    ASSERT_TRUE(fixture.waitUntilIdle());
    TForm2& dialog = *fixture.windows->Form2;

    QTimer::singleShot(0, &dialog, [&] {
        QTest::keyClicks(dialog.txtLN, u"Zeller"_s);
        // The operator clicks Save again while the first save waits.
        QTimer::singleShot(300, &dialog, [&] { QueueClick(dialog.ButtonGradient1); });
        QTest::mouseClick(dialog.ButtonGradient1, Qt::LeftButton);
    });
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    QTest::qWait(1000); // room for anything handed on after the save

    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    EXPECT_EQ(RequestLines(server.requests()),
              (std::vector<std::string>{
                  "POST /manage/datapile.php HTTP/1.0", "POST /quickstats.php HTTP/1.0",
                  "POST /manage/callpile.php HTTP/1.0", "POST /manage/newguy.php HTTP/1.0",
                  "POST /manage/datapile.php HTTP/1.0", "POST /quickstats.php HTTP/1.0"}));
}

TEST(CloseDuringWaitTest, OtherInputWaitsUntilTheRequestIsOver)
{
    // The list arrives late; "Refresh Data" is clicked while it is awaited.
    const std::string list = "0<br>";
    scripted::ScriptedServer server({
        {{{900, scripted::ResponseBytes("HTTP/1.1 200 OK", {}, list)}}},
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
        scripted::Answer("HTTP/1.1 200 OK", {}, list),
        scripted::Answer("HTTP/1.1 200 OK", {}, list),
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
    });
    GuiFixture fixture;
    fixture.windows = WindowsFor(server);
    TForm1& form = fixture.form();
    std::size_t requestsWhenClicked = 0;
    QTimer::singleShot(400, &form, [&] {
        requestsWhenClicked = server.requests().size();
        QueueClick(form.SpeedButton3);
    });
    form.show();
    ASSERT_TRUE(fixture.waitUntilIdle());
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests().size() >= 5 && !form.IdHTTP1.busy(); }));
    const std::vector<scripted::RecordedRequest> requests = server.requests();

    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(requestsWhenClicked, 1u);
    // The refresh ran once the start-up loads were over, not in the middle.
    EXPECT_EQ(RequestLines(requests),
              (std::vector<std::string>{
                  "POST /manage/datapile.php HTTP/1.0", "POST /quickstats.php HTTP/1.0",
                  "POST /manage/callpile.php HTTP/1.0", "POST /manage/datapile.php HTTP/1.0",
                  "POST /quickstats.php HTTP/1.0"}));
}

// A screen reader "presses" a button with no input event: the handler it
// starts waits like held input, and no dialog or message box opens inside
// the wait.
TEST(CloseDuringWaitTest, AScreenReaderPressDuringAWaitRunsAfterIt)
{
    const std::string list = "0<br>";
    scripted::ScriptedServer server({
        {{{900, scripted::ResponseBytes("HTTP/1.1 200 OK", {}, list)}}},
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
        scripted::Answer("HTTP/1.1 200 OK", {}, list),
        scripted::Answer("HTTP/1.1 200 OK", {}, list),
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
    });
    GuiFixture fixture;
    fixture.windows = WindowsFor(server);
    TForm1& form = fixture.form();
    TForm2& dialog = *fixture.windows->Form2;
    const auto press = [](QWidget* widget) {
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
        ASSERT_TRUE(control && control->actionInterface());
        control->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    };
    bool modalDuringWait = false;
    bool dialogOpenedDuringWait = false;
    QTimer::singleShot(300, &form, [&] {
        press(form.SpeedButton3); // "Refresh Data"
        press(form.SpeedButton1); // "Add New"
    });
    QTimer::singleShot(700, &form, [&] {
        modalDuringWait = QApplication::activeModalWidget() != nullptr || dialog.isVisible();
    });
    // The dialog, once it opens, is cancelled.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        if (dialog.isVisible()) {
            dialogOpenedDuringWait = dialogOpenedDuringWait || form.IdHTTP1.busy();
            QTest::mouseClick(dialog.ButtonGradient2, Qt::LeftButton);
        }
    });
    poll.start(50);
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests().size() >= 5 && !form.IdHTTP1.busy(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isVisible(); }));

    EXPECT_FALSE(modalDuringWait);
    EXPECT_FALSE(dialogOpenedDuringWait);
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    EXPECT_EQ(RequestLines(server.requests()),
              (std::vector<std::string>{
                  "POST /manage/datapile.php HTTP/1.0", "POST /quickstats.php HTTP/1.0",
                  "POST /manage/callpile.php HTTP/1.0", "POST /manage/datapile.php HTTP/1.0",
                  "POST /quickstats.php HTTP/1.0"}));
}

// Composed text (a dead key's letter, as an input method sends it) keeps
// its place among the keys typed during a wait.
TEST(CloseDuringWaitTest, ComposedLettersKeepTheirPlaceAmongHeldKeys)
{
    const std::string list = "0<br>";
    scripted::ScriptedServer server({
        {{{900, scripted::ResponseBytes("HTTP/1.1 200 OK", {}, list)}}},
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
        scripted::Answer("HTTP/1.1 200 OK", {}, list),
    });
    GuiFixture fixture;
    fixture.windows = WindowsFor(server);
    TForm1& form = fixture.form();
    QString duringWait;
    QTimer::singleShot(300, &form, [&] {
        form.Edit1->setFocus();
        form.Edit1->clear();
        const auto type = [&](Qt::Key key, const QString& text) {
            for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
                QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::SynchronousDelivery>(
                    form.windowHandle(), type, key, Qt::NoModifier, text);
        };
        type(Qt::Key_M, u"M"_s);
        QInputMethodEvent composed;
        composed.setCommitString(u"\u00FC"_s);
        QCoreApplication::sendEvent(form.Edit1, &composed);
        type(Qt::Key_L, u"l"_s);
        duringWait = form.Edit1->text();
    });
    form.show();
    ASSERT_TRUE(fixture.waitUntilIdle());
    QTest::qWait(100); // the held input is handed on through the queue

    EXPECT_EQ(duringWait, QString());
    EXPECT_EQ(form.Edit1->text(), u"M\u00FCl"_s);
}

} // namespace
