#pragma once

#include "http_client.h"
#include "save_abandoning.h"

#include <QDialog>

#include <cstdint>
#include <optional>

class QCheckBox;
class QComboBox;
class QCommandLinkButton;
class QFrame;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class TForm1;
class TForm5;
class TCustomerTable;

// Form2: the customer edit dialog (modal, created once and reused). Tag 0
// adds a customer, Tag 1 modifies the one selected in the main window. Its
// controls are never cleared between uses.
class TForm2 : public QDialog, public SaveAbandoning
{
    Q_OBJECT
public:
    // Modal results, as the openers read them.
    static constexpr int ResultSaved = 1;
    static constexpr int ResultCancelled = 2;

    // The client answers a challenge with the same user name and password
    // as the main window's.
    TForm2(TForm1* form1, TForm5* form5, QString serverBaseAddress, QString userName,
           QString password, QWidget* parent = nullptr);

    int Tag = 0;
    HttpClient IdHTTP1; // the dialog's own client

    QFrame* Panel1;
    QLineEdit *txtLN, *txtFN, *txtBN, *txtAD, *txtCY, *txtST, *txtZP, *txtP1, *txtP2, *txtEM;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label7, *Label8;
    QComboBox *cboHO, *cboDV, *cboPM;
    QGroupBox* GroupBox1;
    QLineEdit *txtSN, *txtPK;
    QLineEdit *ceBD, *ceDD, *cePD, *ceANI; // masked date edits
    QCheckBox* cbACT;
    QCommandLinkButton* ButtonGradient1; // "Save Customer"
    QCommandLinkButton* ButtonGradient2; // "Cancel"

    void FormActivate();
    void LoadFields();
    void txtLNEnter(QLineEdit* field);
    void txtLNExit(QLineEdit* field);
    void BitBtn2Click(); // save
    void BitBtn1Click(); // cancel

    // Whether a key pressed in txtSN would type something other than digits
    // or leave more than four characters.
    bool RefusesSerialKey(const QKeyEvent& key) const;

    // A masked date edit's text as the save sends it: an unfilled position
    // reads as a space, so an empty field is "  /  /    ".
    static QString DateFieldText(const QLineEdit* field);

    // The 21 request fields of the save, in order, from the controls.
    QStringList RequestFields(std::int32_t id) const;

    bool AbandonSave() override;
    bool SaveAbandoned() const override { return m_saveAbandoned; }

    // The server may hold something the list does not show since this
    // showing's last save: it was refused because the customer had changed,
    // or it failed after the server had received it.
    bool ReloadNeeded() const { return m_reloadNeeded; }

    // The RowDigest the next save of this showing sends: the record as the
    // list carried it when the dialog was loaded, or as the server's refusal
    // carried it after a conflict. None in add mode.
    const std::optional<QString>& LoadedDigest() const { return m_loadedDigest; }

    void IdHTTP1WorkBegin(TransferDirection direction, std::int64_t expected);
    void IdHTTP1Work(TransferDirection direction, std::int64_t reached);
    void IdHTTP1WorkEnd(TransferDirection direction);

public Q_SLOTS:
    void reject() override; // Esc and the close box cancel

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Build();
    // Remembers the record the next save is based on.
    void LoadedRecord(const TCustomerTable& table, std::int32_t row);
    // The refusal of a save because another operator changed the customer.
    void ShowChangedRow(const TCustomerTable& current);
    bool m_saving = false; // the save's request or the reload after it waits
    bool m_saveAbandoned = false;
    TForm1* m_form1;
    TForm5* m_form5;
    QString m_serverBaseAddress;
    QString m_requestId; // one per showing, sent by every save of it
    std::optional<QString> m_loadedDigest;
    QStringList m_loadedFields; // the canonical record's 21 fields
    bool m_reloadNeeded = false;
};
