// The write guards in the real dialogs against the reference server: a save
// over a customer another operator changed, the same record read over both
// charsets, a server that ignores the guards, and saves whose answers are
// lost after the server stored them.

#include "gui_fixture.h"

#include "cutting_proxy.h"
#include "error_handler.h"
#include "http_client.h"
#include "list_format.h"
#include "scripted_server.h"
#include "tform1.h"
#include "tform2.h"
#include "tform4.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCommandLinkButton>
#include <QCryptographicHash>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace Qt::StringLiterals;

std::vector<refserver::Customer> Named(const std::string& last, const std::string& first)
{
    return {MakeCustomer("Adams", "Al"), MakeCustomer(last, first), MakeCustomer("Carter", "Cy")};
}

std::vector<refserver::Customer> WithLastName(refserver::Store& store, const std::string& ln)
{
    std::vector<refserver::Customer> found;
    for (const auto& list : {store.activeCustomers(), store.dormantCustomers()})
        for (const auto& c : list)
            if (c.ln == ln)
                found.push_back(c);
    return found;
}

refserver::Customer Only(refserver::Store& store, const std::string& ln)
{
    const auto found = WithLastName(store, ln);
    EXPECT_EQ(found.size(), 1u) << ln;
    return found.empty() ? refserver::Customer{} : found.front();
}

QString DateField(const std::optional<std::string>& date)
{
    if (!date)
        return u"  /  /    "_s;
    const QString d = QString::fromStdString(*date);
    return d.mid(5, 2) + u'/' + d.mid(8, 2) + u'/' + d.left(4);
}

// Another operator's save of `c`, as a plain client without the guards sends it.
void SaveAsAnotherOperator(const GuiFixture& fixture, const refserver::Customer& c)
{
    const auto text = [](const std::string& s) { return QString::fromStdString(s); };
    HttpClient other;
    other.Post(fixture.baseAddress() + u"/manage/modify.php"_s,
               {u"ID="_s + QString::number(c.id),
                u"txtLN="_s + text(c.ln),
                u"txtFN="_s + text(c.fn),
                u"txtBN="_s + text(c.bn),
                u"txtAD="_s + text(c.ad),
                u"txtCY="_s + text(c.cy),
                u"txtST="_s + text(c.st),
                u"txtZP="_s + text(c.zp),
                u"txtP1="_s + text(c.p1),
                u"txtP2="_s + text(c.p2),
                u"txtEM="_s + text(c.em),
                u"txtHO="_s + text(c.ho),
                u"txtDV="_s + text(c.dv),
                u"txtPM="_s + text(c.pm),
                u"txtSN="_s + text(c.sn),
                u"txtPK="_s + text(c.pk),
                u"txtBD="_s + DateField(c.bd),
                u"txtDD="_s + DateField(c.dd),
                u"txtPD="_s + DateField(c.pd),
                u"txtANI="_s + DateField(c.ani),
                u"txtACT="_s + QString::number(c.act)});
}

// Types over a field's text as an operator does: all of it selected, then
// the keys.
void Retype(QLineEdit* field, const QString& text)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
}

TEST(SaveConflictTest, ASaveOverAnotherOperatorsChangeIsHeldBackUntilSavedAgain)
{
    GuiFixture fixture(Named("Baker", "Bo"));
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    ClickListEntry(form, 1);

    ASSERT_TRUE(WhileShown(
        d, [&] { QTest::mouseClick(form.SpeedButton2, Qt::LeftButton); },
        [&] {
            // The first operator stores a new telephone number meanwhile.
            refserver::Customer changed = Only(fixture.store(), "Baker");
            changed.p1 = "3025550199";
            changed.em = "new@example.com";
            SaveAsAnotherOperator(fixture, changed);
            const std::string afterOther = refserver::CustomerRecordText(changed);

            Retype(d.txtAD, u"9 Oak Rd"_s);
            QTest::mouseClick(d.ButtonGradient1, Qt::LeftButton);
            ASSERT_TRUE(d.isVisible());
            ASSERT_EQ(fixture.otherBoxes.size(), 1);
            const QString box = fixture.otherBoxes[0];
            EXPECT_TRUE(box.startsWith(u"Another operator changed this customer after this window "
                                       "was opened. Changed: Phone 1 (Pref), Email @."_s))
                << box.toStdString();
            EXPECT_TRUE(box.contains(u"Nothing was saved"_s)) << box.toStdString();
            EXPECT_TRUE(fixture.errorBoxes.isEmpty())
                << fixture.errorBoxes.join(u'\n').toStdString();
            EXPECT_EQ(refserver::CustomerRecordText(Only(fixture.store(), "Baker")), afterOther)
                << "nothing overwritten";
            // Everything typed stays, the stale telephone number included.
            EXPECT_EQ(d.txtAD->text(), u"9 Oak Rd");
            EXPECT_EQ(d.txtP1->text(), u"3025550100");
            EXPECT_EQ(
                d.LoadedDigest().value_or(QString()),
                QString::fromLatin1(QCryptographicHash::hash(QByteArray::fromStdString(afterOther),
                                                             QCryptographicHash::Sha256)
                                        .toHex()));

            // Saved again: the operator overwrites deliberately.
            QTest::mouseClick(d.ButtonGradient1, Qt::LeftButton);
            EXPECT_FALSE(d.isVisible());
        }));
    EXPECT_EQ(d.result(), TForm2::ResultSaved);
    EXPECT_EQ(fixture.otherBoxes.size(), 1);
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    const refserver::Customer stored = Only(fixture.store(), "Baker");
    EXPECT_EQ(stored.ad, "9 Oak Rd");
    EXPECT_EQ(stored.p1, "3025550100");
    EXPECT_EQ(stored.em, "x@example.com");
    EXPECT_EQ(form.SelectedPosition(), 1);
    EXPECT_EQ(form.Customers.AD(1), u"9 Oak Rd") << "the list is reloaded";
}

TEST(SaveConflictTest, CancelAfterARefusedSaveShowsTheOtherOperatorsRecord)
{
    GuiFixture fixture(Named("Baker", "Bo"));
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    ClickListEntry(form, 1);

    ASSERT_TRUE(WhileShown(
        d, [&] { QTest::mouseClick(form.SpeedButton2, Qt::LeftButton); },
        [&] {
            refserver::Customer changed = Only(fixture.store(), "Baker");
            changed.cy = "Lewes";
            SaveAsAnotherOperator(fixture, changed);
            Retype(d.txtAD, u"9 Oak Rd"_s);
            QTest::mouseClick(d.ButtonGradient1, Qt::LeftButton);
            ASSERT_TRUE(d.isVisible());
            QTest::mouseClick(d.ButtonGradient2, Qt::LeftButton);
        }));
    EXPECT_EQ(d.result(), TForm2::ResultCancelled);
    EXPECT_EQ(fixture.otherBoxes.size(), 1);
    EXPECT_EQ(Only(fixture.store(), "Baker").ad, "1 Main St");
    EXPECT_EQ(form.SelectedPosition(), 1);
    EXPECT_EQ(form.Customers.CY(1), u"Lewes");
}

TEST(SaveConflictTest, AccentsAndAmpersandGiveOneDigestOverLatin1AndUtf8)
{
    refserver::Customer accented = MakeCustomer("Müller & Söhne", " Zoë ");
    accented.bn = "Café «Ñandú» & Co  ";
    accented.ad = "Straße 5";
    QStringList digests;
    for (const bool latin1 : {true, false}) {
        SCOPED_TRACE(latin1 ? "ISO-8859-1" : "UTF-8");
        refserver::ServerConfig config;
        config.latin1 = latin1;
        GuiFixture fixture(config, {MakeCustomer("Adams", "Al"), accented});
        fixture.start();
        TForm1& form = fixture.form();
        TForm2& d = *fixture.windows->Form2;
        ClickListEntry(form, 1);
        const std::string record =
            refserver::CustomerRecordText(Only(fixture.store(), accented.ln));
        ASSERT_TRUE(WhileShown(
            d, [&] { QTest::mouseClick(form.SpeedButton2, Qt::LeftButton); },
            [&] {
                EXPECT_EQ(d.txtLN->text(), u"Müller & Söhne");
                digests << d.LoadedDigest().value_or(QString());
                Retype(d.txtCY, u"Milford"_s);
                QTest::mouseClick(d.ButtonGradient1, Qt::LeftButton);
                EXPECT_FALSE(d.isVisible());
            }));
        EXPECT_TRUE(fixture.otherBoxes.isEmpty()) << fixture.otherBoxes.join(u'\n').toStdString();
        EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
        EXPECT_EQ(Only(fixture.store(), accented.ln).cy, "Milford");
        EXPECT_EQ(digests.back(),
                  QString::fromLatin1(QCryptographicHash::hash(QByteArray::fromStdString(record),
                                                               QCryptographicHash::Sha256)
                                          .toHex()));
    }
    ASSERT_EQ(digests.size(), 2);
    EXPECT_EQ(digests[0], digests[1]);
}

TEST(SaveConflictTest, AServerWithoutTheGuardsStoresTheSaveAsBefore)
{
    refserver::ServerConfig vendor;
    vendor.writeGuards = false;
    GuiFixture fixture(vendor, Named("Baker", "Bo"));
    fixture.start();
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;
    ClickListEntry(form, 1);

    ASSERT_TRUE(WhileShown(
        d, [&] { QTest::mouseClick(form.SpeedButton2, Qt::LeftButton); },
        [&] {
            refserver::Customer changed = Only(fixture.store(), "Baker");
            changed.p1 = "3025550199";
            SaveAsAnotherOperator(fixture, changed);
            Retype(d.txtAD, u"9 Oak Rd"_s);
            QTest::mouseClick(d.ButtonGradient1, Qt::LeftButton);
            EXPECT_FALSE(d.isVisible());
        }));
    EXPECT_EQ(d.result(), TForm2::ResultSaved);
    EXPECT_TRUE(fixture.otherBoxes.isEmpty()) << fixture.otherBoxes.join(u'\n').toStdString();
    EXPECT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    const refserver::Customer stored = Only(fixture.store(), "Baker");
    EXPECT_EQ(stored.ad, "9 Oak Rd");
    EXPECT_EQ(stored.p1, "3025550100") << "the other change is overwritten, as before";
}

const QString MayBeStored =
    u"Connection Closed Gracefully.\n\nThe whole request had reached the server, so it may "
    "have been stored all the same."_s;

TEST(RetriedSaveTest, AnAdditionWhoseAnswerWasLostIsStoredOnce)
{
    GuiFixture fixture(Named("Baker", "Bo"));
    scripted::CuttingProxy proxy(fixture.port(), "/manage/newguy.php");
    fixture.start(QString::fromStdString(proxy.address()));
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;

    ASSERT_TRUE(WhileShown(
        d, [&] { QTest::mouseClick(form.SpeedButton1, Qt::LeftButton); },
        [&] {
            Retype(d.txtLN, u"Newman"_s);
            Retype(d.txtFN, u"Nia"_s);
            QTest::mouseClick(d.ButtonGradient1, Qt::LeftButton);
            ASSERT_TRUE(d.isVisible());
            EXPECT_EQ(fixture.errorBoxes, QStringList{MayBeStored});
            EXPECT_EQ(proxy.cutCount(), 1);
            EXPECT_EQ(WithLastName(fixture.store(), "Newman").size(), 1u);

            QTest::mouseClick(d.ButtonGradient1, Qt::LeftButton);
            EXPECT_FALSE(d.isVisible());
        }));
    EXPECT_EQ(d.result(), TForm2::ResultSaved);
    EXPECT_EQ(fixture.errorBoxes.size(), 1);
    EXPECT_EQ(WithLastName(fixture.store(), "Newman").size(), 1u);
    EXPECT_EQ(form.Customers.CustomerCount(), 4);
}

TEST(RetriedSaveTest, OtherEntriesAfterALostAnswerAreRefusedAndCancelShowsWhatWasStored)
{
    GuiFixture fixture(Named("Baker", "Bo"));
    scripted::CuttingProxy proxy(fixture.port(), "/manage/newguy.php");
    fixture.start(QString::fromStdString(proxy.address()));
    TForm1& form = fixture.form();
    TForm2& d = *fixture.windows->Form2;

    ASSERT_TRUE(WhileShown(
        d, [&] { QTest::mouseClick(form.SpeedButton1, Qt::LeftButton); },
        [&] {
            Retype(d.txtLN, u"Newman"_s);
            QTest::mouseClick(d.ButtonGradient1, Qt::LeftButton);
            ASSERT_TRUE(d.isVisible());
            Retype(d.txtFN, u"Changed"_s);
            QTest::mouseClick(d.ButtonGradient1, Qt::LeftButton);
            ASSERT_TRUE(d.isVisible());
            ASSERT_EQ(fixture.errorBoxes.size(), 2);
            EXPECT_TRUE(fixture.errorBoxes[1].startsWith(
                u"HTTP/1.1 409 Conflict\nError: the earlier save of this request"_s))
                << fixture.errorBoxes[1].toStdString();
            QTest::mouseClick(d.ButtonGradient2, Qt::LeftButton);
        }));
    EXPECT_EQ(d.result(), TForm2::ResultCancelled);
    const auto stored = WithLastName(fixture.store(), "Newman");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].fn, "") << "the first save's entries";
    EXPECT_EQ(form.Customers.CustomerCount(), 4) << "the list shows what the server stored";
}

TEST(RetriedSaveTest, ACallWhoseAnswerWasLostIsStoredOnce)
{
    GuiFixture fixture(Named("Baker", "Bo"));
    scripted::CuttingProxy proxy(fixture.port(), "/manage/savecall.php");
    fixture.start(QString::fromStdString(proxy.address()));
    TForm1& form = fixture.form();
    TForm4& d = *fixture.windows->Form4;
    ClickListEntry(form, 1);
    const std::int64_t baker = Only(fixture.store(), "Baker").id;

    ASSERT_TRUE(WhileShown(
        d, [&] { QTest::mouseClick(form.SpeedButton9, Qt::LeftButton); },
        [&] {
            d.Memo1->setFocus();
            QTest::keyClick(d.Memo1, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(d.Memo1, u"Asked for a CD"_s);
            QTest::mouseClick(d.Button2, Qt::LeftButton);
            ASSERT_TRUE(d.isVisible());
            EXPECT_EQ(fixture.errorBoxes, QStringList{MayBeStored});
            EXPECT_EQ(fixture.store().calls().size(), 1u);
            QTest::mouseClick(d.Button2, Qt::LeftButton);
            EXPECT_FALSE(d.isVisible());
        }));
    EXPECT_EQ(d.result(), TForm4::ResultOk);
    const auto calls = fixture.store().calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].customerId, baker);
    EXPECT_EQ(calls[0].text, "Asked for a CD");
    ASSERT_EQ(fixture.otherBoxes.size(), 1);
    EXPECT_TRUE(fixture.otherBoxes[0].startsWith(u"Call saved for customer"_s));
    EXPECT_EQ(form.Calls.CallCount(), 1);
}

TEST(RetriedSaveTest, AFailureBeforeTheRequestWasSentKeepsItsOwnMessage)
{
    GuiFixture fixture(Named("Baker", "Bo"));
    scripted::RefusingPort refusing;
    const QString callServer = QString::fromStdString(refusing.address(""));
    fixture.start({}, callServer);
    TForm1& form = fixture.form();
    TForm4& d = *fixture.windows->Form4;
    ClickListEntry(form, 1);

    QString plain;
    try {
        HttpClient client;
        client.Post(callServer + u"/manage/savecall.php"_s, {});
    } catch (const TilloraError& e) {
        plain = ErrorBoxText(e.message());
    }
    ASSERT_FALSE(plain.isEmpty());
    ASSERT_TRUE(WhileShown(
        d, [&] { QTest::mouseClick(form.SpeedButton9, Qt::LeftButton); },
        [&] {
            QTest::mouseClick(d.Button2, Qt::LeftButton);
            EXPECT_TRUE(d.isVisible());
            QTest::mouseClick(d.Button1, Qt::LeftButton);
        }));
    EXPECT_EQ(fixture.errorBoxes, QStringList{plain});
    EXPECT_FALSE(d.ReloadNeeded());
}

} // namespace
