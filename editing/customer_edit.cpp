// The customer edit dialog's behaviour and the main window's two openers.

#include "tform1.h"
#include "tform2.h"
#include "tform5.h"

#include "customer_list_model.h"
#include "display_formats.h"
#include "endpoints.h"
#include "error_handler.h"
#include "message_boxes.h"
#include "progress_figure.h"
#include "request_waits.h"
#include "screen_centre.h"
#include "text_basics.h"
#include "write_requests.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QLocale>
#include <QProgressBar>
#include <QRegularExpression>

namespace {

// Selects the entry whose text equals the trimmed value exactly, or none.
void SelectEntry(QComboBox* box, const QString& value)
{
    box->setCurrentIndex(
        box->findText(Trim(value).toString(), Qt::MatchExactly | Qt::MatchCaseSensitive));
}

// A date field's text is sent when it is empty ("  /  /    ") or holds an
// existing date with all its digits.
bool IsSendableDate(const QString& text)
{
    if (text == QStringLiteral("  /  /    "))
        return true;
    static const QRegularExpression whole(QStringLiteral("^(\\d\\d)/(\\d\\d)/(\\d{4})$"));
    const QRegularExpressionMatch m = whole.match(text);
    return m.hasMatch() &&
           QDate::isValid(m.captured(3).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
}

// The dialog's captions of the 21 fields, in the list's order; the
// identifier is not shown.
const char* const FieldCaptions[CustomerFieldCount] = {nullptr,
                                                       "Last Name",
                                                       "First Name",
                                                       "Business Name",
                                                       "Address",
                                                       "City",
                                                       "State",
                                                       "Zip Code",
                                                       "Phone 1 (Pref)",
                                                       "Phone 2",
                                                       "Email @",
                                                       "Heard Of Tillora",
                                                       "Update Delivery Method",
                                                       "Program Serial Number",
                                                       "Product Key",
                                                       "Program Mode",
                                                       "Begin Date",
                                                       "Due Date",
                                                       "Anniversary Date",
                                                       "Paid Date",
                                                       "Customer Is Active"};

void SetDate(QLineEdit* field, const QString& stored)
{
    const QString shown = FormatDate(stored);
    // A date that cannot be read shows as an empty field.
    field->setText(shown == QStringLiteral("Error Date") ? QString() : shown);
}

} // namespace

bool TForm2::AbandonSave()
{
    if (!m_saving)
        return false;
    m_saveAbandoned = true;
    // The save's own request, or the reload that follows it.
    IdHTTP1.abandon();
    m_form1->IdHTTP1.abandon();
    return true;
}

void TForm2::showEvent(QShowEvent* event)
{
    m_saveAbandoned = false;
    m_reloadNeeded = false;
    m_requestId = NewRequestId();
    m_loadedDigest.reset();
    m_loadedFields.clear();
    QDialog::showEvent(event);
    CentreOnScreen(this);
    FormActivate();
}

void TForm2::FormActivate()
{
    if (Tag == 1)
        LoadFields();
}

void TForm2::LoadFields()
{
    const std::optional<std::int32_t> row = m_form1->SelectedRow();
    if (!row)
        return;
    const TCustomerTable& t = m_form1->Customers;
    const std::int32_t r = *row;
    LoadedRecord(t, r);
    txtLN->setText(t.LN(r));
    txtFN->setText(t.FN(r));
    txtBN->setText(t.BN(r));
    txtAD->setText(t.AD(r));
    txtCY->setText(t.CY(r));
    txtST->setText(t.ST(r));
    txtZP->setText(t.ZP(r));
    txtP1->setText(t.P1(r));
    txtP2->setText(t.P2(r));
    txtEM->setText(t.EM(r));
    txtSN->setText(t.SN(r));
    txtPK->setText(t.PK(r));
    SelectEntry(cboDV, t.DV(r));
    SelectEntry(cboPM, t.PM(r));
    SelectEntry(cboHO, t.HO(r));
    SetDate(ceBD, t.BD(r));
    SetDate(ceDD, t.DD(r));
    SetDate(cePD, t.PD(r));
    SetDate(ceANI, t.ANI(r));
    cbACT->setChecked(t.ACT(r) == 1);
}

void TForm2::LoadedRecord(const TCustomerTable& table, std::int32_t row)
{
    m_loadedDigest = RowDigest(table, row);
    m_loadedFields = CanonicalRecord(table, row).split(QChar(0x00A9));
}

void TForm2::ShowChangedRow(const TCustomerTable& current)
{
    const QStringList now = CanonicalRecord(current, 0).split(QChar(0x00A9));
    QStringList changed;
    for (int i = 1; i < CustomerFieldCount; ++i)
        if (now.value(i) != m_loadedFields.value(i))
            changed << QString::fromLatin1(FieldCaptions[i]);
    // The next save overwrites deliberately: it is based on the record now stored.
    LoadedRecord(current, 0);
    QString text = QStringLiteral("Another operator changed this customer after this window was "
                                  "opened");
    text += changed.isEmpty() ? QStringLiteral(".")
                              : QStringLiteral(". Changed: %1.").arg(changed.join(u", "));
    text += QStringLiteral("\n\nNothing was saved; your entries are still here. Press \"Save "
                           "Customer\" again to save them over the other operator's changes, or "
                           "\"Cancel\" to keep those changes.");
    MessageBoxes::Show(MessageBoxes::Kind::Warning, text, this);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event)
{
    auto* field = qobject_cast<QLineEdit*>(watched);
    if (field) {
        if (event->type() == QEvent::FocusIn)
            txtLNEnter(field);
        else if (event->type() == QEvent::FocusOut)
            txtLNExit(field);
        else if (event->type() == QEvent::KeyPress) {
            if (field == txtSN && RefusesSerialKey(*static_cast<QKeyEvent*>(event)))
                return true;
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                // Enter moves on from the two name fields; the key is not consumed.
                if (field == txtLN)
                    txtFN->setFocus();
                else if (field == txtFN)
                    txtBN->setFocus();
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool TForm2::RefusesSerialKey(const QKeyEvent& key) const
{
    const bool paste = key.matches(QKeySequence::Paste);
    const QString typed = paste ? QGuiApplication::clipboard()->text() : key.text();
    // Editing keys (Backspace, Delete) carry no printable text; shortcuts
    // such as Ctrl+A are not typing either.
    if (!paste && (typed.isEmpty() || !typed.front().isPrint() ||
                   (key.modifiers() & (Qt::ControlModifier | Qt::MetaModifier))))
        return false;
    for (const QChar c : typed)
        if (c < u'0' || c > u'9')
            return true;
    return txtSN->text().size() - txtSN->selectedText().size() + typed.size() > 4;
}

void TForm2::txtLNEnter(QLineEdit* field)
{
    QPalette p = field->palette();
    p.setColor(QPalette::Base, QColor(255, 255, 0));
    field->setPalette(p);
}

void TForm2::txtLNExit(QLineEdit* field)
{
    QPalette p = field->palette();
    p.setColor(QPalette::Base, Qt::white);
    field->setPalette(p);
}

QStringList TForm2::RequestFields(std::int32_t id) const
{
    return {QStringLiteral("ID=") + QString::number(id),
            QStringLiteral("txtLN=") + txtLN->text(),
            QStringLiteral("txtFN=") + txtFN->text(),
            QStringLiteral("txtBN=") + txtBN->text(),
            QStringLiteral("txtAD=") + txtAD->text(),
            QStringLiteral("txtCY=") + txtCY->text(),
            QStringLiteral("txtST=") + txtST->text(),
            QStringLiteral("txtZP=") + txtZP->text(),
            QStringLiteral("txtP1=") + txtP1->text(),
            QStringLiteral("txtP2=") + txtP2->text(),
            QStringLiteral("txtEM=") + txtEM->text(),
            QStringLiteral("txtHO=") + cboHO->currentText(),
            QStringLiteral("txtDV=") + cboDV->currentText(),
            QStringLiteral("txtPM=") + cboPM->currentText(),
            QStringLiteral("txtSN=") + txtSN->text(),
            QStringLiteral("txtPK=") + txtPK->text(),
            QStringLiteral("txtBD=") + DateFieldText(ceBD),
            QStringLiteral("txtDD=") + DateFieldText(ceDD),
            QStringLiteral("txtPD=") + DateFieldText(cePD),
            QStringLiteral("txtANI=") + DateFieldText(ceANI),
            cbACT->isChecked() ? QStringLiteral("txtACT=1") : QStringLiteral("txtACT=0")};
}

void TForm2::BitBtn1Click()
{
    done(ResultCancelled);
}

void TForm2::BitBtn2Click()
{
    if (!isVisible())
        return; // a click that arrives after the dialog ended saves nothing
    const std::optional<std::int32_t> row = m_form1->SelectedRow();
    const int remembered = m_form1->SelectedPosition();
    const std::int32_t id = row ? m_form1->Customers.ID(*row) : 0;
    const QStringList fields = RequestFields(id);

    // The list format has no escape for its two terminators: a value holding
    // one would break the list for every user, so nothing is sent.
    const struct
    {
        QLineEdit* edit;
        const char* caption;
    } checked[] = {{txtLN, "Last Name"},
                   {txtFN, "First Name"},
                   {txtBN, "Business Name"},
                   {txtAD, "Address"},
                   {txtCY, "City"},
                   {txtST, "State"},
                   {txtZP, "Zip Code"},
                   {txtP1, "Phone 1 (Pref)"},
                   {txtP2, "Phone 2"},
                   {txtEM, "Email @"},
                   {txtSN, "Program Serial Number"},
                   {txtPK, "Product Key"}};
    for (const auto& c : checked) {
        if (c.edit->text().contains(QChar(0x00A9)) || c.edit->text().contains(QChar(0x00AE))) {
            c.edit->setFocus();
            throw TilloraError(
                QStringLiteral("The field \"%1\" contains \u00A9 or \u00AE, which the "
                               "customer list cannot carry. Nothing was saved")
                    .arg(QString::fromLatin1(c.caption)));
        }
    }
    // The server reads a partly typed year as it stands ("24" becomes the
    // year 24), so only a whole, real date or an empty field goes out.
    const struct
    {
        QLineEdit* edit;
        const QLabel* caption;
    } dates[] = {{ceBD, Label4}, {cePD, Label5}, {ceDD, Label7}, {ceANI, Label8}};
    for (const auto& d : dates) {
        if (!IsSendableDate(DateFieldText(d.edit))) {
            d.edit->setFocus();
            throw TilloraError(QStringLiteral("The field \"%1\" does not hold a complete date of "
                                              "the form month/day/year with four year digits. "
                                              "Nothing was saved")
                                   .arg(d.caption->text()));
        }
    }

    m_saving = true;
    const auto notSaving = qScopeGuard([this] { m_saving = false; });
    m_form5->ShowTask(QStringLiteral("Saving Customer Data"), true);
    const QString script = Endpoints::Address(
        m_serverBaseAddress, Tag <= 0 ? Endpoints::NewCustomer : Endpoints::ModifyCustomer);
    QStringList sent = fields;
    sent << QStringLiteral("RequestId=") + m_requestId;
    if (Tag > 0 && m_loadedDigest)
        sent << QStringLiteral("RowDigest=") + *m_loadedDigest;
    try {
        PostWrite(IdHTTP1, script, sent);
    } catch (const HttpStatusError& e) {
        if (e.status() != 409)
            throw;
        // Refused: nothing was stored, but the list no longer shows the server's record.
        m_reloadNeeded = true;
        m_form5->close();
        const std::optional<ChangedRow> changed = Tag > 0 ? ReadChangedRow(e.body()) : std::nullopt;
        if (!changed || changed->current.ID(0) != id)
            throw RefusedWrite(e);
        ShowChangedRow(changed->current);
        return;
    } catch (const WriteMayBeStored&) {
        m_reloadNeeded = true;
        throw;
    }
    m_reloadNeeded = false;

    // The server has the record now: whatever happens to the reload, the
    // dialog ends, so that Save cannot send the same customer twice.
    try {
        m_form1->KeepSelection = true;
        m_form1->LoadCustomers();
        const int count = m_form1->ListModel->count();
        if (count > 0) {
            const int position = std::min(std::max(remembered, 0), count - 1);
            m_form1->SelectPosition(position);
            m_form1->ListView1SelectItem(position, true);
        }
        m_form5->close();
    } catch (const RequestAbandoned&) {
        done(ResultSaved); // the application is ending: nothing to report
        throw;
    } catch (const TilloraError& e) {
        done(ResultSaved);
        ShowDefaultError(e.message());
        return;
    }
    done(ResultSaved);
}

void TForm2::IdHTTP1WorkBegin(TransferDirection, std::int64_t expected)
{
    m_form5->ProgressBar1->setMaximum(int(std::min<std::int64_t>(expected, INT32_MAX)));
    m_form5->ProgressBar1->setValue(0);
    m_form5->Label2->clear();
}

void TForm2::IdHTTP1Work(TransferDirection, std::int64_t reached)
{
    // The bar is not moved here, only the figure.
    m_form5->Label2->setText(
        ProgressFigure(reached, m_form5->ProgressBar1->maximum(), QStringLiteral(" % Complete")));
    m_form5->Label2->adjustSize();
    RequestWaits::ServiceQueue();
}

void TForm2::IdHTTP1WorkEnd(TransferDirection)
{
    m_form5->Label2->setText(QStringLiteral("Finished"));
    m_form5->Label2->adjustSize();
    RequestWaits::ServiceQueue();
}

void TForm1::SpeedButton1Click()
{
    Form2->Tag = 0;
    Form2->exec();
    // Closed while saving, or after a save whose outcome the dialog could
    // not tell: whether the customer was added, the list tells.
    if (Form2->SaveAbandoned() || Form2->ReloadNeeded())
        LoadCustomers();
}

void TForm1::SpeedButton2Click()
{
    const int remembered = SelectedPosition();
    if (remembered < 0)
        return; // nothing to edit
    Form2->Tag = 1;
    const int result = Form2->exec();
    if (Form2->SaveAbandoned() || (result == TForm2::ResultCancelled && Form2->ReloadNeeded())) {
        // Closed while saving, or cancelled after a refused save or one whose
        // outcome is unknown: the list shows what the server holds now.
        KeepSelection = true;
        LoadCustomers();
    } else if (result == TForm2::ResultCancelled) {
        return;
    }
    const int count = ListModel->count();
    if (count == 0)
        return;
    const int position = std::min(remembered, count - 1);
    SelectPosition(position);
    ListView1SelectItem(position, true);
}
