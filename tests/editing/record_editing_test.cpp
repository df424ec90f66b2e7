// Record editing through the real main window against the reference server:
// the customer edit dialog, the call record dialog and the dormant move.

#include "gui_fixture.h"

#include "customer_list_model.h"
#include "list_format.h"
#include "scripted_server.h"
#include "tillora/settings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCommandLinkButton>
#include <QFrame>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSet>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>
#include <ostream>

// Readable failure messages; found by argument-dependent lookup.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace Qt::StringLiterals;

const QString EmptyDate = u"  /  /    "_s;

std::string Describe(const refserver::Customer& c)
{
    std::string out = std::to_string(c.id);
    for (const std::string* t : {&c.ln, &c.fn, &c.bn, &c.ad, &c.cy, &c.st, &c.zp, &c.p1, &c.p2,
                                 &c.em, &c.ho, &c.dv, &c.sn, &c.pk, &c.pm})
        out += '|' + *t;
    for (const auto* d : {&c.bd, &c.dd, &c.pd, &c.ani})
        out += '|' + d->value_or("none");
    return out + '|' + std::to_string(c.act);
}

// Everything the server holds, to show that nothing changed.
std::string Snapshot(refserver::Store& store)
{
    std::string out;
    for (const auto& c : store.activeCustomers())
        out += "A " + Describe(c) + '\n';
    for (const auto& c : store.dormantCustomers())
        out += "D " + Describe(c) + '\n';
    for (const auto& k : store.calls())
        out += "C " + std::to_string(k.customerId) + '|' + k.direction + '|' + k.handler + '|' +
               k.text + '\n';
    return out;
}

refserver::Customer Stored(refserver::Store& store, const std::string& ln)
{
    for (const auto& list : {store.activeCustomers(), store.dormantCustomers()})
        for (const auto& c : list)
            if (c.ln == ln)
                return c;
    ADD_FAILURE() << "no stored customer " << ln;
    return {};
}

QStringList Captions(TForm1& form)
{
    QStringList out;
    for (int i = 0; i < form.ListModel->count(); ++i)
        out << form.ListModel->caption(i);
    return out;
}

// The edit dialog's controls in the order of the save's fields.
QStringList Controls(const TForm2& d)
{
    QStringList out;
    for (const QLineEdit* e :
         {d.txtLN, d.txtFN, d.txtBN, d.txtAD, d.txtCY, d.txtST, d.txtZP, d.txtP1, d.txtP2, d.txtEM})
        out << e->text();
    for (const QComboBox* c : {d.cboHO, d.cboDV, d.cboPM})
        out << QString::number(c->currentIndex()) + u':' + c->currentText();
    out << d.txtSN->text() << d.txtPK->text();
    for (const QLineEdit* e : {d.ceBD, d.ceDD, d.cePD, d.ceANI})
        out << TForm2::DateFieldText(e);
    out << (d.cbACT->isChecked() ? u"checked"_s : u"unchecked"_s);
    return out;
}

QStringList Items(const QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

std::vector<refserver::Customer> ThreeCustomers()
{
    refserver::Customer baker = MakeCustomer("Baker ", "Bo"); // blanks are kept as stored
    baker.p2 = "";
    baker.pk = " TLR-0042 ";
    baker.sn = "0042";
    baker.ho = " Postcard ";
    baker.pm = "Starter (Receipts)";
    baker.bd.reset(); // listed as 0000-00-00
    return {MakeCustomer("Adams", "Al"), baker, MakeCustomer("Carter", "Cy")};
}

TEST(CustomerEditTest, FirstUseShowsDefaultsEditLoadsTheRowAndAddKeepsIt)
{
    GuiFixture fixture(ThreeCustomers());
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    fixture.clearRequests();

    const QStringList blank = {u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               u""_s,
                               u"0:Web Search"_s,
                               u"0:Internet Download"_s,
                               u"0:Unlimited"_s,
                               u""_s,
                               u""_s,
                               EmptyDate,
                               EmptyDate,
                               EmptyDate,
                               EmptyDate,
                               u"unchecked"_s};
    ASSERT_TRUE(WhileShown(
        d, [&] { form.SpeedButton1->click(); },
        [&] {
            EXPECT_EQ(d.windowTitle(), u"Customer Data Edit");
            EXPECT_EQ(d.Tag, 0);
            EXPECT_EQ(Items(d.cboHO),
                      (QStringList{u"Web Search"_s, u"Farm Show Display"_s, u"Magazine Ad"_s,
                                   u"Postcard"_s, u"Radio Commercial"_s, u"Word Of Mouth"_s}));
            EXPECT_EQ(Items(d.cboDV), (QStringList{u"Internet Download"_s, u"CD By Mail"_s}));
            EXPECT_EQ(Items(d.cboPM), (QStringList{u"Unlimited"_s, u"Starter (Receipts)"_s}));
            EXPECT_EQ(Controls(d), blank);
            EXPECT_EQ(d.RequestFields(0), (QStringList{u"ID=0"_s,
                                                       u"txtLN="_s,
                                                       u"txtFN="_s,
                                                       u"txtBN="_s,
                                                       u"txtAD="_s,
                                                       u"txtCY="_s,
                                                       u"txtST="_s,
                                                       u"txtZP="_s,
                                                       u"txtP1="_s,
                                                       u"txtP2="_s,
                                                       u"txtEM="_s,
                                                       u"txtHO=Web Search"_s,
                                                       u"txtDV=Internet Download"_s,
                                                       u"txtPM=Unlimited"_s,
                                                       u"txtSN="_s,
                                                       u"txtPK="_s,
                                                       u"txtBD=  /  /    "_s,
                                                       u"txtDD=  /  /    "_s,
                                                       u"txtPD=  /  /    "_s,
                                                       u"txtANI=  /  /    "_s,
                                                       u"txtACT=0"_s}));
            d.ButtonGradient2->click();
        }));

    const QStringList baker = {u"Baker "_s,
                               u"Bo"_s,
                               u"Baker  Farms"_s,
                               u"1 Main St"_s,
                               u"Dover"_s,
                               u"DE"_s,
                               u"19901"_s,
                               u"3025550100"_s,
                               u""_s,
                               u"x@example.com"_s,
                               u"3:Postcard"_s,
                               u"0:Internet Download"_s,
                               u"1:Starter (Receipts)"_s,
                               u"0042"_s,
                               u" TLR-0042 "_s,
                               EmptyDate,
                               u"01/15/2027"_s,
                               u"01/10/2026"_s,
                               u"01/15/2026"_s,
                               u"checked"_s};
    form.SelectPosition(1);
    ASSERT_TRUE(WhileShown(
        d, [&] { form.SpeedButton2->click(); },
        [&] {
            EXPECT_EQ(d.Tag, 1);
            EXPECT_EQ(Controls(d), baker);
        }));
    // Nothing clears the controls: a new customer starts from the last one.
    form.SelectPosition(0);
    ASSERT_TRUE(WhileShown(
        d, [&] { form.SpeedButton1->click(); },
        [&] {
            EXPECT_EQ(d.Tag, 0);
            EXPECT_EQ(Controls(d), baker);
        }));
    EXPECT_TRUE(fixture.requests().isEmpty()) << fixture.requests().join(u' ').toStdString();
}

TEST(CustomerEditTest, EditNeedsASelectionAndOpensOnADoubleClick)
{
    GuiFixture fixture(ThreeCustomers());
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    fixture.clearRequests();

    form.ListView1->selectionModel()->clearSelection();
    EXPECT_FALSE(WhileShown(d, [&] { form.SpeedButton2->click(); }));

    const QRect entry = form.ListView1->visualRect(form.ListModel->indexOfPosition(2));
    QWidget* const viewport = form.ListView1->viewport();
    // A real double-click: the press of the first click picks the entry.
    const auto doubleClick = [&] {
        QTest::mouseClick(viewport, Qt::LeftButton, {}, entry.center());
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, entry.center());
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, entry.center());
    };
    ASSERT_TRUE(WhileShown(d, doubleClick, [&] {
        EXPECT_EQ(d.Tag, 1);
        EXPECT_EQ(d.txtLN->text(), u"Carter");
        d.ButtonGradient2->click();
    }));
    EXPECT_TRUE(fixture.requests().isEmpty()) << fixture.requests().join(u' ').toStdString();
}

TEST(CustomerEditTest, SavedEditStoresEveryFieldAndKeepsThePosition)
{
    GuiFixture fixture(
        {MakeCustomer("Adams", "Al"), MakeCustomer("Baker", "Bo"), MakeCustomer("Carter", "Cy")});
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    refserver::Customer expected = Stored(fixture.store(), "Baker");
    form.SelectPosition(1);
    fixture.clearRequests();

    ASSERT_TRUE(WhileShown(
        d, [&] { form.SpeedButton2->click(); },
        [&] {
            d.txtFN->setText(u"Beatrix"_s);
            d.txtEM->setText(u"b&b=1+2 %x@example.com"_s); // characters the form encoding escapes
            d.cboHO->setCurrentIndex(4);
            d.cboDV->setCurrentIndex(1);
            d.cboPM->setCurrentIndex(1);
            d.ceDD->setText(QString());
            d.cePD->setText(u"02/29/2028"_s);
            d.cbACT->setChecked(false);
            d.ButtonGradient1->click();
            EXPECT_FALSE(d.isVisible());
        }));
    EXPECT_EQ(d.result(), TForm2::ResultSaved);
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();

    const QStringList requests = fixture.requests();
    ASSERT_FALSE(requests.isEmpty());
    EXPECT_EQ(requests.first(), u"/manage/modify.php");
    EXPECT_EQ(requests.count(u"/manage/modify.php"_s), 1);
    EXPECT_TRUE(requests.contains(u"/manage/datapile.php"_s)) << requests.join(u' ').toStdString();

    expected.fn = "Beatrix";
    expected.em = "b&b=1+2 %x@example.com";
    expected.ho = "Radio Commercial";
    expected.dv = "CD By Mail";
    expected.pm = "Starter (Receipts)";
    expected.dd.reset();
    expected.pd = "2028-02-29";
    expected.act = 0;
    EXPECT_EQ(Describe(Stored(fixture.store(), "Baker")), Describe(expected));

    // The reload keeps the edited customer selected and shown.
    EXPECT_EQ(form.SelectedPosition(), 1);
    EXPECT_EQ(form.Label3->text(), u"Client Detail Data Sheet - Beatrix Baker");
    EXPECT_FALSE(form.Panel6->isVisible());
}

TEST(CustomerEditTest, UnchangedSaveSendsTheChoicesAsShownAndClampsThePosition)
{
    refserver::Customer adams = MakeCustomer("Adams", "Al", "CD By Mail ");
    adams.ho = " Postcard ";
    refserver::Customer baker = MakeCustomer("Baker", "Bo", "cd by mail");
    refserver::Customer carter = MakeCustomer("Carter", "Cy", "Internet Download", 0);
    carter.bd.reset();
    GuiFixture fixture({adams, baker, carter, MakeCustomer("Dahl", "Di", "CD By Mail", -1),
                        MakeCustomer("Evans", "Ev", "CD By Mail", -1),
                        MakeCustomer("Fox", "Fy", "CD By Mail", -1)});
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;

    const struct
    {
        int view, position;
        std::string ln;
        QString dvShown;
        bool actShown;
        std::string goneMeanwhile; // moved to dormant by someone else while the dialog is open
        std::string hoStored, dvStored;
        int actStored, positionAfter;
        QString shownAfter;
    } cases[] = {
        {0, 0, "Adams", u"1:CD By Mail"_s, true, "", "Postcard", "CD By Mail", 1, 0, u"Al Adams"_s},
        {0, 1, "Baker", u"-1:"_s, true, "", "Web Search", "", 1, 1, u"Bo Baker"_s},
        // The server keeps a dormant customer dormant when the box is unticked.
        {1, 2, "Fox", u"1:CD By Mail"_s, false, "", "Web Search", "CD By Mail", -1, 2, u"Fy Fox"_s},
        // The reloaded list is one shorter: the position falls back to its last entry.
        {0, 2, "Carter", u"0:Internet Download"_s, false, "Adams", "Web Search",
         "Internet Download", 0, 1, u"Cy Carter"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ln);
        if (form.TabControl2->currentIndex() != c.view)
            form.TabControl2->setCurrentIndex(c.view);
        form.SelectPosition(c.position);
        refserver::Customer expected = Stored(fixture.store(), c.ln);
        fixture.clearRequests();
        ASSERT_TRUE(WhileShown(
            d, [&] { form.SpeedButton2->click(); },
            [&] {
                EXPECT_EQ(QString::number(d.cboDV->currentIndex()) + u':' + d.cboDV->currentText(),
                          c.dvShown);
                EXPECT_EQ(d.cbACT->isChecked(), c.actShown);
                EXPECT_EQ(d.RequestFields(std::int32_t(expected.id)).value(20),
                          c.actShown ? u"txtACT=1"_s : u"txtACT=0"_s);
                if (!c.goneMeanwhile.empty())
                    fixture.store().moveToDormant(Stored(fixture.store(), c.goneMeanwhile).id);
                d.ButtonGradient1->click();
            }));
        EXPECT_EQ(fixture.requests().value(0), u"/manage/modify.php");
        expected.ho = c.hoStored;
        expected.dv = c.dvStored;
        expected.act = c.actStored;
        EXPECT_EQ(Describe(Stored(fixture.store(), c.ln)), Describe(expected));
        EXPECT_EQ(form.SelectedPosition(), c.positionAfter);
        EXPECT_EQ(form.Label3->text(), u"Client Detail Data Sheet - "_s + c.shownAfter);
    }
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
}

TEST(CustomerEditTest, AddWithoutSelectionStoresTheCustomerAndListsIt)
{
    GuiFixture fixture({MakeCustomer("Adams", "Al"), MakeCustomer("Baker", "Bo")});
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    form.ListView1->selectionModel()->clearSelection();
    fixture.clearRequests();

    ASSERT_TRUE(WhileShown(
        d, [&] { form.SpeedButton1->click(); },
        [&] {
            d.txtLN->setText(u"Zeller"_s);
            d.txtFN->setText(u"Zoe"_s);
            d.txtST->setText(u"KS"_s);
            d.txtSN->setText(u"0077"_s);
            d.cboHO->setCurrentIndex(5);
            d.cboDV->setCurrentIndex(1);
            d.ceBD->setText(u"03/01/2026"_s);
            d.cbACT->setChecked(true);
            d.ButtonGradient1->click();
        }));
    EXPECT_EQ(d.result(), TForm2::ResultSaved);
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    EXPECT_EQ(fixture.requests().value(0), u"/manage/newguy.php");
    EXPECT_EQ(fixture.requests().count(u"/manage/newguy.php"_s), 1);

    refserver::Customer expected;
    expected.id = 3;
    expected.ln = "Zeller";
    expected.fn = "Zoe";
    expected.st = "KS";
    expected.sn = "0077";
    expected.ho = "Word Of Mouth";
    expected.dv = "CD By Mail";
    expected.pm = "Unlimited";
    expected.bd = "2026-03-01";
    expected.act = 1;
    EXPECT_EQ(Describe(Stored(fixture.store(), "Zeller")), Describe(expected));
    EXPECT_TRUE(Captions(form).contains(u"Zeller, Zoe"_s))
        << Captions(form).join(u'|').toStdString();
}

TEST(CustomerEditTest, CancelInAnyWaySendsNothing)
{
    GuiFixture fixture(ThreeCustomers());
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    const std::string before = Snapshot(fixture.store());

    const std::pair<const char*, std::function<void()>> ways[] = {
        {"button", [&] { d.ButtonGradient2->click(); }},
        {"escape", [&] { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"close box", [&] { d.close(); }},
    };
    for (const auto& [name, cancel] : ways) {
        SCOPED_TRACE(name);
        fixture.clearRequests();
        ASSERT_TRUE(WhileShown(
            d, [&] { form.SpeedButton2->click(); },
            [&] {
                d.txtFN->setText(u"Changed"_s);
                cancel();
                EXPECT_FALSE(d.isVisible());
            }));
        EXPECT_EQ(d.result(), TForm2::ResultCancelled);
        EXPECT_TRUE(fixture.requests().isEmpty()) << fixture.requests().join(u' ').toStdString();
    }
    EXPECT_EQ(Snapshot(fixture.store()), before);
}

TEST(CustomerEditTest, TerminatorCharactersAreRefusedBeforeSending)
{
    GuiFixture fixture(ThreeCustomers());
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    const std::string before = Snapshot(fixture.store());

    const struct
    {
        QToolButton* opener;
        QLineEdit* field;
        QString value;
    } cases[] = {
        {form.SpeedButton2, d.txtBN, u"Acme \u00A9 2026"_s},
        {form.SpeedButton2, d.txtEM, u"a\u00AEb@example.com"_s},
        {form.SpeedButton1, d.txtLN, u"\u00A9"_s},
    };
    QStringList errors;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.toStdString());
        fixture.errorBoxes.clear();
        fixture.clearRequests();
        ASSERT_TRUE(WhileShown(
            d, [&] { c.opener->click(); },
            [&] {
                c.field->setText(c.value);
                d.ButtonGradient1->click();
                EXPECT_TRUE(d.isVisible());
                EXPECT_EQ(c.field->text(), c.value);
                EXPECT_EQ(QApplication::focusWidget(), c.field);
            }));
        EXPECT_EQ(fixture.errorBoxes.size(), 1);
        errors << fixture.errorBoxes.value(0);
        EXPECT_TRUE(fixture.requests().isEmpty()) << fixture.requests().join(u' ').toStdString();
    }
    // Each box names its own field.
    EXPECT_EQ(QSet<QString>(errors.begin(), errors.end()).size(), 3)
        << errors.join(u'\n').toStdString();
    EXPECT_EQ(Snapshot(fixture.store()), before);
}

TEST(CustomerEditTest, FailedReloadAfterASavedEditStillEndsTheDialog)
{
    refserver::Customer lee = MakeCustomer("Lee", "Ann");
    lee.id = 7;
    const std::string utf8 = "Content-Type: text/html; charset=UTF-8";
    scripted::ScriptedServer server({
        scripted::Answer("HTTP/1.1 200 OK", {utf8}, refserver::CustomerListText({lee})),
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
        scripted::Answer("HTTP/1.1 200 OK", {}, "0<br>"),
        scripted::Answer("HTTP/1.1 200 OK", {}, "Customer 7 updated."),
        scripted::Answer("HTTP/1.1 500 Internal Server Error", {}, "Error: broken"),
        // The next load, a letter tab's, selects its first customer again.
        scripted::Answer("HTTP/1.1 200 OK", {utf8}, refserver::CustomerListText({lee})),
        scripted::Answer("HTTP/1.1 200 OK", {}, "stats"),
    });
    GuiFixture fixture;
    fixture.start(QString::fromStdString(server.address("")));
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    ASSERT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    ASSERT_EQ(form.SelectedPosition(), 0);

    ASSERT_TRUE(WhileShown(
        d, [&] { form.SpeedButton2->click(); },
        [&] {
            d.ButtonGradient1->click();
            EXPECT_FALSE(d.isVisible());
        }));
    ASSERT_EQ(fixture.errorBoxes.size(), 1);
    EXPECT_TRUE(fixture.errorBoxes[0].contains(u"500"_s)) << fixture.errorBoxes[0].toStdString();
    const auto requests = server.waitForRequests(5);
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[3].requestLine().rfind("POST /manage/modify.php", 0), 0u)
        << requests[3].requestLine();
    EXPECT_EQ(requests[3].body().rfind("ID=7&", 0), 0u) << requests[3].body();
    EXPECT_EQ(server.connectionCount(), 5u);

    form.SelectPosition(-1);
    QTest::mouseClick(form.TabControl3, Qt::LeftButton, {},
                      form.TabControl3->tabRect(12).center()); // "L"
    ASSERT_TRUE(fixture.waitUntilIdle());
    EXPECT_EQ(server.connectionCount(), 7u);
    EXPECT_EQ(fixture.errorBoxes.size(), 1);
    EXPECT_EQ(form.SelectedPosition(), 0) << "the failed reload's wish to keep the selection is over";
}

TEST(CustomerEditTest, SaveShowsTheDialogsOwnProgress)
{
    GuiFixture fixture(ThreeCustomers());
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    TForm5& progress = fixture.progress();

    struct Seen
    {
        QString label1, label2;
        int position;
        bool visible;
    };
    std::vector<Seen> seen;
    std::optional<QString> atBegin;
    const auto begin = d.IdHTTP1.OnWorkBegin;
    const auto work = d.IdHTTP1.OnWork;
    d.IdHTTP1.OnWorkBegin = [&](TransferDirection dir, std::int64_t n) {
        if (begin)
            begin(dir, n);
        if (!atBegin)
            atBegin = progress.Label2->text();
    };
    d.IdHTTP1.OnWork = [&](TransferDirection dir, std::int64_t n) {
        if (work)
            work(dir, n);
        seen.push_back({progress.Label1->text(), progress.Label2->text(),
                        progress.ProgressBar1->value(), progress.isVisible()});
    };

    progress.Label2->setText(u"stale"_s);
    progress.ProgressBar1->setRange(0, 1000000);
    progress.ProgressBar1->setValue(0);
    ASSERT_TRUE(WhileShown(
        d, [&] { form.SpeedButton2->click(); }, [&] { d.ButtonGradient1->click(); }));
    ASSERT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();

    ASSERT_TRUE(atBegin.has_value());
    EXPECT_EQ(*atBegin, QString());
    ASSERT_FALSE(seen.empty());
    const QRegularExpression percent(u"^\\d+([.,]\\d+)? % Complete$"_s);
    for (const Seen& s : seen) {
        EXPECT_TRUE(percent.match(s.label2).hasMatch()) << s.label2.toStdString();
        EXPECT_EQ(s.position, 0);
        EXPECT_EQ(s.label1, u"Saving Customer Data");
        EXPECT_TRUE(s.visible);
    }
    EXPECT_EQ(progress.Label2->text(), u"Finished");
}

TEST(CustomerEditTest, TextFieldsHighlightFocusEnterMovesOnAndSerialTakesFourDigits)
{
    GuiFixture fixture(ThreeCustomers());
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    fixture.clearRequests();

    ASSERT_TRUE(WhileShown(
        d, [&] { form.SpeedButton1->click(); },
        [&] {
            ASSERT_TRUE(d.isActiveWindow());
            const QColor yellow(255, 255, 0);
            const QColor white(255, 255, 255);
            QLineEdit* previous = nullptr;
            for (QLineEdit* field : {d.txtLN, d.txtFN, d.txtBN, d.txtAD, d.txtCY, d.txtST, d.txtZP,
                                     d.txtP1, d.txtP2, d.txtEM, d.txtSN, d.txtPK}) {
                SCOPED_TRACE(field->objectName().toStdString());
                field->setFocus();
                EXPECT_EQ(field->palette().color(QPalette::Base), yellow);
                if (previous) {
                    EXPECT_EQ(previous->palette().color(QPalette::Base), white);
                }
                previous = field;
            }

            d.txtLN->setFocus();
            QTest::keyClick(d.txtLN, Qt::Key_Return);
            EXPECT_EQ(QApplication::focusWidget(), d.txtFN);
            QTest::keyClick(d.txtFN, Qt::Key_Return);
            EXPECT_EQ(QApplication::focusWidget(), d.txtBN);

            const std::pair<QString, QString> serials[] = {{u"12a345"_s, u"1234"_s},
                                                           {u"x9-8 "_s, u"98"_s}};
            for (const auto& [typed, kept] : serials) {
                d.txtSN->clear();
                d.txtSN->setFocus();
                QTest::keyClicks(d.txtSN, typed);
                EXPECT_EQ(d.txtSN->text(), kept) << typed.toStdString();
            }
            // The serial number's selection stays visible when the focus moves on.
            d.txtSN->selectAll();
            d.txtPK->setFocus();
            EXPECT_EQ(d.txtSN->selectedText(), d.txtSN->text());
            // An empty date field reads back as its pattern of spaces and slashes;
            // a partly typed one keeps its blanks.
            d.ceBD->clear();
            EXPECT_EQ(TForm2::DateFieldText(d.ceBD), u"  /  /    ");
            d.ceBD->setFocus();
            d.ceBD->home(false);
            QTest::keyClicks(d.ceBD, u"0"_s);
            EXPECT_EQ(TForm2::DateFieldText(d.ceBD), u"0 /  /    ");
            // Enter moved the focus and saved nothing.
            EXPECT_TRUE(d.isVisible());
            d.ButtonGradient2->click();
        }));
    EXPECT_TRUE(fixture.requests().isEmpty()) << fixture.requests().join(u' ').toStdString();
}

TEST(CustomerEditTest, StoredSerialIsKeptWholeAndTypingNeverGoesPastFourDigits)
{
    refserver::Customer lee = MakeCustomer("Lee", "Ann");
    lee.sn = "123456";
    GuiFixture fixture({lee});
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    form.SelectPosition(0);
    fixture.clearRequests();

    // Edit and Save without touching anything sends the serial as stored.
    ASSERT_TRUE(WhileShown(
        d, [&] { QTest::mouseClick(form.SpeedButton2, Qt::LeftButton); },
        [&] {
            EXPECT_EQ(d.txtSN->text(), u"123456");
            QTest::mouseClick(d.ButtonGradient1, Qt::LeftButton);
            EXPECT_FALSE(d.isVisible());
        }));
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    EXPECT_EQ(fixture.requests().value(0), u"/manage/modify.php");
    EXPECT_EQ(Stored(fixture.store(), "Lee").sn, "123456");

    const struct
    {
        const char* what;
        QString loaded;
        std::function<void(QLineEdit*)> type;
        QString kept;
    } cases[] = {
        {"a digit at the end", u"123456"_s, [](QLineEdit* e) { QTest::keyClicks(e, u"7"_s); },
         u"123456"_s},
        {"a letter", u"123456"_s, [](QLineEdit* e) { QTest::keyClicks(e, u"a"_s); }, u"123456"_s},
        {"a digit over a selected one", u"123456"_s,
         [](QLineEdit* e) {
             QTest::keyClick(e, Qt::Key_Left, Qt::ShiftModifier);
             QTest::keyClicks(e, u"9"_s);
         },
         u"123456"_s},
        {"backspace shortens", u"123456"_s,
         [](QLineEdit* e) { QTest::keyClick(e, Qt::Key_Backspace); }, u"12345"_s},
        {"retyped from scratch", u"123456"_s,
         [](QLineEdit* e) {
             QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
             QTest::keyClicks(e, u"98765"_s);
         },
         u"9876"_s},
        {"a short serial fills up to four", u"12"_s,
         [](QLineEdit* e) { QTest::keyClicks(e, u"3a45"_s); }, u"1234"_s},
        {"a paste within four", u"12"_s,
         [](QLineEdit* e) {
             QGuiApplication::clipboard()->setText(u"34"_s);
             QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
         },
         u"1234"_s},
        {"a paste past four", u"12"_s,
         [](QLineEdit* e) {
             QGuiApplication::clipboard()->setText(u"345"_s);
             QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
         },
         u"12"_s},
        {"a paste into a long serial", u"123456"_s,
         [](QLineEdit* e) {
             QGuiApplication::clipboard()->setText(u"7"_s);
             QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
         },
         u"123456"_s},
    };
    ASSERT_TRUE(WhileShown(
        d, [&] { QTest::mouseClick(form.SpeedButton2, Qt::LeftButton); },
        [&] {
            for (const auto& c : cases) {
                SCOPED_TRACE(c.what);
                d.txtSN->setText(c.loaded);
                d.txtSN->setFocus();
                d.txtSN->end(false);
                c.type(d.txtSN);
                EXPECT_EQ(d.txtSN->text(), c.kept);
            }
            QTest::mouseClick(d.ButtonGradient2, Qt::LeftButton);
        }));
    EXPECT_EQ(Stored(fixture.store(), "Lee").sn, "123456");
}

TEST(CustomerEditTest, IncompleteOrImpossibleDatesAreRefusedBeforeSending)
{
    GuiFixture fixture(ThreeCustomers());
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    form.SelectPosition(0);
    const std::string before = Snapshot(fixture.store());

    const struct
    {
        QLineEdit* field;
        QString typed; // digits; the mask puts in the slashes
        QString caption;
    } cases[] = {
        {d.ceBD, u"011524"_s, u"Begin Date"_s},  // a two-digit year
        {d.cePD, u"02302024"_s, u"Paid Date"_s}, // no 30 February
        {d.ceDD, u"1"_s, u"Due Date"_s},
        {d.ceANI, u"1231"_s, u"Anniversary Date"_s}, // no year
        {d.ceBD, u"13012024"_s, u"Begin Date"_s},
        {d.cePD, u"01010000"_s, u"Paid Date"_s}, // there is no year 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        fixture.errorBoxes.clear();
        fixture.clearRequests();
        ASSERT_TRUE(WhileShown(
            d, [&] { QTest::mouseClick(form.SpeedButton2, Qt::LeftButton); },
            [&] {
                c.field->setFocus();
                c.field->clear();
                c.field->home(false);
                QTest::keyClicks(c.field, c.typed);
                QTest::mouseClick(d.ButtonGradient1, Qt::LeftButton);
                EXPECT_TRUE(d.isVisible());
                EXPECT_EQ(QApplication::focusWidget(), c.field);
                QTest::mouseClick(d.ButtonGradient2, Qt::LeftButton);
            }));
        EXPECT_EQ(fixture.errorBoxes,
                  QStringList{u"The field \""_s + c.caption +
                              u"\" does not hold a complete date of the form month/day/year "
                              u"with four year digits. Nothing was saved."_s})
            << fixture.errorBoxes.join(u'\n').toStdString();
        EXPECT_TRUE(fixture.requests().isEmpty()) << fixture.requests().join(u' ').toStdString();
    }
    EXPECT_EQ(Snapshot(fixture.store()), before);

    // A complete date typed in, and a field left empty, are sent.
    fixture.errorBoxes.clear();
    ASSERT_TRUE(WhileShown(
        d, [&] { QTest::mouseClick(form.SpeedButton2, Qt::LeftButton); },
        [&] {
            d.ceBD->setFocus();
            d.ceBD->clear();
            d.ceBD->home(false);
            QTest::keyClicks(d.ceBD, u"02292024"_s);
            d.ceANI->clear();
            QTest::mouseClick(d.ButtonGradient1, Qt::LeftButton);
            EXPECT_FALSE(d.isVisible());
        }));
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    const refserver::Customer adams = Stored(fixture.store(), "Adams");
    EXPECT_EQ(adams.bd, "2024-02-29");
    EXPECT_FALSE(adams.ani.has_value());
}

std::vector<refserver::Call> CallsOf(refserver::Store& store, std::int64_t customerId)
{
    std::vector<refserver::Call> out;
    for (const auto& k : store.calls())
        if (k.customerId == customerId)
            out.push_back(k);
    return out;
}

TEST(CallRecordTest, SaveCallPostsTheFieldsShowsTheReplyAndAddsTheLastTab)
{
    GuiFixture fixture({MakeCustomer("Adams", "Al"), MakeCustomer("Baker", "Bo")},
                       {{0, 1, "Incoming", "Anna", "2026-03-01", "09:00:00", "About Adams"},
                        {0, 2, "Incoming", "Anna", "2026-03-02", "10:00:00", "Earlier"}});
    fixture.start();
    TForm1& form = fixture.form();
    TForm4& d = *fixture.windows->Form4;
    const std::int64_t baker = Stored(fixture.store(), "Baker").id;
    const QStringList& handlers = tillora::settings::CallHandlers;
    form.SelectPosition(1);
    ASSERT_EQ(form.TabControl1->count(), 1);
    fixture.clearRequests();

    ASSERT_TRUE(WhileShown(
        d, [&] { form.SpeedButton9->click(); },
        [&] {
            EXPECT_EQ(d.windowTitle(), u"Tillora Call Record");
            EXPECT_EQ(d.Tag, baker);
            EXPECT_EQ(Items(d.ComboBox1), handlers);
            EXPECT_EQ(d.ComboBox1->currentIndex(), 0);
            EXPECT_TRUE(d.RadioButton1->isChecked());
            EXPECT_EQ(d.RadioButton1->text(), u"Incoming Call");
            EXPECT_EQ(d.RadioButton2->text(), u"Outgoing Call");
            EXPECT_EQ(d.Button1->text(), u"Cancel");
            EXPECT_EQ(d.Button2->text(), u"Save Call");
            d.ComboBox1->setCurrentIndex(2);
            d.RadioButton2->setChecked(true);
            d.Memo1->setPlainText(u"Line one\nLine two & 50% more"_s);
            EXPECT_EQ(d.RequestFields(),
                      (QStringList{u"ID="_s + QString::number(baker), u"direction=Outgoing"_s,
                                   u"Handler="_s + handlers[2],
                                   u"textarea=Line one\r\nLine two & 50% more"_s}));
            d.Button2->click();
            EXPECT_FALSE(d.isVisible());
        }));
    EXPECT_EQ(d.result(), TForm4::ResultOk);
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    EXPECT_EQ(fixture.requests(),
              (QStringList{u"/manage/savecall.php"_s, u"/manage/callpile.php"_s}));

    const auto calls = CallsOf(fixture.store(), baker);
    ASSERT_EQ(calls.size(), 2u);
    const refserver::Call& saved = calls.back();
    EXPECT_EQ(saved.direction, "Outgoing");
    EXPECT_EQ(saved.handler, handlers[2].toStdString());
    EXPECT_EQ(saved.text, "Line one\r\nLine two & 50% more");
    EXPECT_EQ(fixture.otherBoxes, QStringList{QString::fromStdString(
                                      "Call saved for customer " + std::to_string(baker) + " on " +
                                      saved.date + " at " + saved.time + ".")});

    // The strip of the same customer now ends with the new call.
    EXPECT_EQ(form.SelectedPosition(), 1);
    ASSERT_EQ(form.TabControl1->count(), 2);
    EXPECT_EQ(form.TabControl1->currentIndex(), 1);
    const QString date = QString::fromStdString(saved.date);
    EXPECT_EQ(form.TabControl1->tabText(1),
              date.mid(5, 2) + u'/' + date.mid(8, 2) + u'/' + date.left(4));
    EXPECT_EQ(form.StripTags.value(1), handlers[2] + u" - Outgoing"_s);
    EXPECT_EQ(form.StripTexts.value(1), u"Line one\r\nLine two & 50% more");
    EXPECT_EQ(form.Calls.CallCount(), 3);
}

TEST(CallRecordTest, CancelSendsNothingAndTheControlsKeepTheirState)
{
    GuiFixture fixture({MakeCustomer("Adams", "Al"), MakeCustomer("Baker", "Bo")},
                       {{0, 1, "Incoming", "Anna", "2026-03-01", "09:00:00", "About Adams"}});
    fixture.start();
    TForm1& form = fixture.form();
    TForm4& d = *fixture.windows->Form4;
    const std::string before = Snapshot(fixture.store());
    fixture.clearRequests();

    form.ListView1->selectionModel()->clearSelection();
    EXPECT_FALSE(WhileShown(d, [&] { form.SpeedButton9->click(); }));

    form.SelectPosition(0);
    ASSERT_TRUE(WhileShown(
        d, [&] { form.SpeedButton9->click(); },
        [&] {
            d.ComboBox1->setCurrentIndex(3);
            d.RadioButton2->setChecked(true);
            d.Memo1->setFocus();
            QTest::keyClicks(d.Memo1, u"a"_s);
            QTest::keyClick(d.Memo1, Qt::Key_Tab);
            QTest::keyClicks(d.Memo1, u"b"_s);
            EXPECT_EQ(d.Memo1->toPlainText(), u"a\tb");
            d.Button1->click();
            EXPECT_FALSE(d.isVisible());
        }));
    EXPECT_EQ(d.result(), TForm4::ResultCancel);

    ASSERT_TRUE(WhileShown(
        d, [&] { form.SpeedButton9->click(); },
        [&] {
            EXPECT_EQ(d.ComboBox1->currentIndex(), 3);
            EXPECT_TRUE(d.RadioButton2->isChecked());
            EXPECT_EQ(d.Memo1->toPlainText(), u"a\tb");
            d.close();
            EXPECT_FALSE(d.isVisible());
        }));
    EXPECT_EQ(d.result(), TForm4::ResultCancel);
    EXPECT_TRUE(fixture.requests().isEmpty()) << fixture.requests().join(u' ').toStdString();
    EXPECT_TRUE(fixture.otherBoxes.isEmpty());
    EXPECT_EQ(Snapshot(fixture.store()), before);
}

TEST(CallRecordTest, RecordMarksInTheNoteAreRefusedBeforeSending)
{
    GuiFixture fixture({MakeCustomer("Adams", "Al")});
    fixture.start();
    TForm1& form = fixture.form();
    TForm4& d = *fixture.windows->Form4;
    form.SelectPosition(0);
    const std::string before = Snapshot(fixture.store());

    const std::pair<Qt::Key, QString> marks[] = {{Qt::Key_copyright, u"\u00A9"_s},
                                                 {Qt::Key_registered, u"\u00AE"_s}};
    for (const auto& [key, mark] : marks) {
        SCOPED_TRACE(mark.toStdString());
        fixture.errorBoxes.clear();
        fixture.clearRequests();
        ASSERT_TRUE(WhileShown(
            d, [&] { QTest::mouseClick(form.SpeedButton9, Qt::LeftButton); },
            [&] {
                d.Memo1->setFocus();
                d.Memo1->clear();
                QTest::keyClicks(d.Memo1, u"Tillora "_s);
                QTest::sendKeyEvent(QTest::Press, d.Memo1, key, mark, {});
                QTest::sendKeyEvent(QTest::Release, d.Memo1, key, mark, {});
                ASSERT_EQ(d.Memo1->toPlainText(), u"Tillora "_s + mark);
                QTest::mouseClick(d.Button2, Qt::LeftButton);
                EXPECT_TRUE(d.isVisible());
                EXPECT_EQ(QApplication::focusWidget(), d.Memo1);
                EXPECT_EQ(d.Memo1->toPlainText(), u"Tillora "_s + mark);
                QTest::mouseClick(d.Button1, Qt::LeftButton);
            }));
        EXPECT_EQ(fixture.errorBoxes,
                  QStringList{u"The field \"Conversation Details\" contains \u00A9 or \u00AE, "
                              u"which the call list cannot carry. Nothing was saved."_s})
            << fixture.errorBoxes.join(u'\n').toStdString();
        EXPECT_TRUE(fixture.otherBoxes.isEmpty()) << fixture.otherBoxes.join(u'\n').toStdString();
        EXPECT_TRUE(fixture.requests().isEmpty()) << fixture.requests().join(u' ').toStdString();
    }
    EXPECT_EQ(Snapshot(fixture.store()), before);
}

TEST(DormantMoveTest, NoKeepsTheCustomerYesMovesItAndDropsItsCalls)
{
    GuiFixture fixture(
        {MakeCustomer("Adams", "Al"), MakeCustomer("Baker", "Bo"), MakeCustomer("Carter", "Cy")},
        {{0, 1, "Incoming", "Anna", "2026-03-01", "09:00:00", "A"},
         {0, 2, "Incoming", "Anna", "2026-03-02", "09:00:00", "B1"},
         {0, 2, "Outgoing", "Anna", "2026-03-03", "09:00:00", "B2"},
         {0, 3, "Incoming", "Anna", "2026-03-04", "09:00:00", "C"}});
    fixture.start();
    TForm1& form = fixture.form();
    const std::int64_t baker = Stored(fixture.store(), "Baker").id;
    const std::string before = Snapshot(fixture.store());
    const QString question = u"Are you sure you want to make this customer Dormant?"_s;
    fixture.clearRequests();

    form.ListView1->selectionModel()->clearSelection();
    form.ButtonGradient1->click();
    EXPECT_TRUE(fixture.otherBoxes.isEmpty());
    EXPECT_TRUE(fixture.requests().isEmpty());

    form.SelectPosition(1);
    fixture.nextAnswer = MessageBoxes::Answer::No;
    form.ButtonGradient1->click();
    EXPECT_EQ(fixture.otherBoxes, QStringList{question});
    EXPECT_TRUE(fixture.requests().isEmpty()) << fixture.requests().join(u' ').toStdString();
    EXPECT_EQ(Snapshot(fixture.store()), before);
    EXPECT_EQ(form.SelectedPosition(), 1);

    fixture.otherBoxes.clear();
    fixture.nextAnswer = MessageBoxes::Answer::Yes;
    form.ButtonGradient1->click();
    EXPECT_EQ(fixture.otherBoxes.value(0), question);
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    EXPECT_EQ(
        fixture.requests(),
        (QStringList{u"/manage/dormantcontact.php?ID="_s + QString::number(baker),
                     u"/manage/datapile.php"_s, u"/quickstats.php"_s, u"/manage/callpile.php"_s}));
    EXPECT_EQ(Captions(form), (QStringList{u"Adams, Al"_s, u"Carter, Cy"_s}));
    EXPECT_EQ(form.SelectedPosition(), 0);
    EXPECT_EQ(form.Label3->text(), u"Client Detail Data Sheet - Al Adams");

    const auto dormant = fixture.store().dormantCustomers();
    ASSERT_EQ(dormant.size(), 1u);
    EXPECT_EQ(dormant[0].id, baker);
    EXPECT_TRUE(CallsOf(fixture.store(), baker).empty());
    EXPECT_EQ(fixture.store().calls().size(), 2u);
    EXPECT_EQ(form.Calls.CallCount(), 2);
}

// How a flat button looks on its bar: the share of its inner pixels in the
// bar's colour, how many are in the caption colour, and whether the band along
// its edges differs from the bar (a frame).
struct FlatLook
{
    double barShare = 0;
    int captionPixels = 0;
    bool framed = false;
};

FlatLook LookOf(const QToolButton* button)
{
    const QColor bar = button->parentWidget()->palette().color(QPalette::Window);
    const QColor caption = QGuiApplication::palette().color(QPalette::HighlightedText);
    const auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                   std::abs(a.blue() - b.blue()) <=
               45;
    };
    const QImage image = button->parentWidget()->grab(button->geometry()).toImage();
    FlatLook look;
    int inner = 0, onBar = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int edge = std::min({x, y, image.width() - 1 - x, image.height() - 1 - y});
            if (edge < 2)
                look.framed = look.framed || !near(c, bar);
            else if (edge >= 3) {
                ++inner;
                onBar += near(c, bar);
                look.captionPixels += near(c, caption);
            }
        }
    }
    look.barShare = inner ? double(onBar) / inner : 0;
    return look;
}

TEST(OpenerButtonsTest, FlatButtonCaptionsStayReadableUnderThePointer)
{
    GuiFixture fixture(ThreeCustomers());
    fixture.start();
    TForm1& form = fixture.form();
    QWidget* const elsewhere = form.Label3;

    for (QToolButton* button : {form.SpeedButton1, form.SpeedButton2, form.SpeedButton3,
                                form.SpeedButton4, form.SpeedButton9}) {
        SCOPED_TRACE(button->text().toStdString());
        ASSERT_TRUE(button->isVisible());
        for (const bool hovered : {false, true, false}) {
            SCOPED_TRACE(hovered ? "under the pointer" : "pointer elsewhere");
            QTest::mouseMove(hovered ? static_cast<QWidget*>(button) : elsewhere);
            ASSERT_TRUE(QTest::qWaitFor([&] { return button->underMouse() == hovered; }));
            const FlatLook look = LookOf(button);
            EXPECT_GE(look.barShare, 0.6);
            EXPECT_GE(look.captionPixels, 10);
            EXPECT_EQ(look.framed, hovered);
        }
    }
}

} // namespace

namespace {

TEST(AuthenticationTest, EveryWindowWritesToAServerThatProtectsAllScripts)
{
    GuiFixture fixture(GuiFixture::RequireAuthentication{},
                       {MakeCustomer("Adams", "Al"), MakeCustomer("Baker", "Bo")});
    fixture.start();
    TForm1& form = fixture.form();
    ASSERT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    ASSERT_EQ(form.ListModel->count(), 2);

    // A new customer through the edit dialog.
    TForm2& edit = *fixture.windows->Form2;
    form.ListView1->selectionModel()->clearSelection();
    ASSERT_TRUE(WhileShown(
        edit, [&] { QTest::mouseClick(form.SpeedButton1, Qt::LeftButton); },
        [&] {
            edit.txtLN->setText(u"Zeller"_s);
            edit.txtFN->setText(u"Zoe"_s);
            QTest::mouseClick(edit.ButtonGradient1, Qt::LeftButton);
        }));
    EXPECT_EQ(edit.result(), TForm2::ResultSaved);
    EXPECT_EQ(Stored(fixture.store(), "Zeller").fn, "Zoe");

    // A change of the first customer through the same dialog.
    form.SelectPosition(0);
    ASSERT_TRUE(WhileShown(
        edit, [&] { QTest::mouseClick(form.SpeedButton2, Qt::LeftButton); },
        [&] {
            edit.txtFN->setText(u"Alan"_s);
            QTest::mouseClick(edit.ButtonGradient1, Qt::LeftButton);
        }));
    EXPECT_EQ(Stored(fixture.store(), "Adams").fn, "Alan");

    // A call through the call dialog.
    TForm4& call = *fixture.windows->Form4;
    form.SelectPosition(0);
    ASSERT_TRUE(WhileShown(
        call, [&] { QTest::mouseClick(form.SpeedButton9, Qt::LeftButton); },
        [&] {
            call.Memo1->setPlainText(u"Asked for the new release"_s);
            QTest::mouseClick(call.Button2, Qt::LeftButton);
        }));
    const auto calls = CallsOf(fixture.store(), Stored(fixture.store(), "Adams").id);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, "Asked for the new release");

    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
}

} // namespace
