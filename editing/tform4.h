#pragma once

#include "http_client.h"
#include "save_abandoning.h"

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

// Form4: the call record dialog (modal, created once and reused). The
// customer's ID travels in Tag. Its controls keep their state between uses.
class TForm4 : public QDialog, public SaveAbandoning
{
    Q_OBJECT
public:
    static constexpr int ResultOk = 1;
    static constexpr int ResultCancel = 2;

    // The client answers a challenge with the main window's user name and password.
    TForm4(QString callServerBaseAddress, QString userName, QString password, QStringList handlers,
           QWidget* parent = nullptr);

    int Tag = 0;
    HttpClient IdHTTP1; // the dialog's own client: no transfer events

    QLabel *Label1, *Label2;
    QComboBox* ComboBox1;
    QRadioButton *RadioButton1, *RadioButton2;
    QPlainTextEdit* Memo1;
    QPushButton *Button1, *Button2;

    void Button1Click(); // cancel
    void Button2Click(); // save the call

    // The four request fields, in order.
    QStringList RequestFields() const;

    bool AbandonSave() override;
    bool SaveAbandoned() const override { return m_saveAbandoned; }

    // A save of this showing failed after the server had received it: the
    // call may be stored although the dialog stays open.
    bool ReloadNeeded() const { return m_reloadNeeded; }

public Q_SLOTS:
    void reject() override; // the close box cancels

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QString m_callServerBaseAddress;
    bool m_saveAbandoned = false;
    bool m_reloadNeeded = false;
    QString m_requestId; // one per showing, sent by every save of it
};
