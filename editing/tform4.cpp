#include "tform4.h"

#include "endpoints.h"
#include "error_handler.h"
#include "errors.h"
#include "fonts.h"
#include "message_boxes.h"
#include "named.h"
#include "screen_centre.h"
#include "write_requests.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

TForm4::TForm4(QString callServerBaseAddress, QString userName, QString password,
               QStringList handlers, QWidget* parent)
    : QDialog(parent), IdHTTP1(std::move(userName), std::move(password)),
      m_callServerBaseAddress(std::move(callServerBaseAddress))
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Tillora Call Record"));
    setFixedSize(688, 491);
    setFont(Tahoma(11));
    setModal(true);

    const QFont bold = Tahoma(11, true);
    Label1 = Named(new QLabel(QStringLiteral("Call Handler"), this), "Label1");
    Label1->setFont(bold);
    Label1->move(16, 16);
    Label1->adjustSize();

    ComboBox1 = Named(new QComboBox(this), "ComboBox1");
    ComboBox1->setEditable(false);
    ComboBox1->addItems(handlers);
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setGeometry(16, 35, 225, 21);

    RadioButton1 = Named(new QRadioButton(QStringLiteral("Incoming Call"), this), "RadioButton1");
    RadioButton1->setFont(bold);
    RadioButton1->setGeometry(312, 37, 113, 17);
    RadioButton1->setChecked(true);
    RadioButton2 = Named(new QRadioButton(QStringLiteral("Outgoing Call"), this), "RadioButton2");
    RadioButton2->setFont(bold);
    RadioButton2->setGeometry(472, 37, 113, 17);

    Label2 = Named(new QLabel(QStringLiteral("Conversation Details"), this), "Label2");
    Label2->setFont(bold);
    Label2->move(16, 101);
    Label2->adjustSize();

    Memo1 = Named(new QPlainTextEdit(this), "Memo1");
    Memo1->setGeometry(16, 120, 657, 313);
    Memo1->setTabChangesFocus(false); // Tab types a tab into the notes

    Button1 = Named(new QPushButton(QStringLiteral("Cancel"), this), "Button1");
    Button1->setGeometry(488, 448, 75, 25);
    Button2 = Named(new QPushButton(QStringLiteral("Save Call"), this), "Button2");
    Button2->setGeometry(592, 448, 75, 25);
    // Neither button answers Enter.
    for (QPushButton* b : {Button1, Button2}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    connect(Button1, &QPushButton::clicked, this, [this] { Guarded(this, [this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded(this, [this] { Button2Click(); }); });

    setTabOrder(ComboBox1, RadioButton1);
    setTabOrder(RadioButton1, RadioButton2);
    setTabOrder(RadioButton2, Memo1);
    setTabOrder(Memo1, Button1);
    setTabOrder(Button1, Button2);
}

void TForm4::reject()
{
    Button1Click();
}

bool TForm4::AbandonSave()
{
    if (!IdHTTP1.busy())
        return false;
    m_saveAbandoned = true;
    IdHTTP1.abandon();
    return true;
}

void TForm4::showEvent(QShowEvent* event)
{
    m_saveAbandoned = false;
    m_reloadNeeded = false;
    m_requestId = NewRequestId();
    QDialog::showEvent(event);
    CentreOnScreen(this);
}

void TForm4::keyPressEvent(QKeyEvent* event)
{
    // Neither button answers Escape (nor Enter): the dialog ignores it.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

QStringList TForm4::RequestFields() const
{
    QString text = Memo1->toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n")); // line breaks travel as CR LF
    return {QStringLiteral("ID=") + QString::number(Tag),
            RadioButton1->isChecked() ? QStringLiteral("direction=Incoming")
                                      : QStringLiteral("direction=Outgoing"),
            QStringLiteral("Handler=") + ComboBox1->currentText(),
            QStringLiteral("textarea=") + text};
}

void TForm4::Button1Click()
{
    done(ResultCancel);
}

void TForm4::Button2Click()
{
    if (!isVisible())
        return; // a click that arrives after the dialog ended saves nothing
    // The call list has no escape for its two terminators: a note holding one
    // would break the list for every user, so nothing is sent.
    const QString note = Memo1->toPlainText();
    if (note.contains(QChar(0x00A9)) || note.contains(QChar(0x00AE))) {
        Memo1->setFocus();
        throw TilloraError(QStringLiteral("The field \"%1\" contains \u00A9 or \u00AE, which the "
                                          "call list cannot carry. Nothing was saved")
                               .arg(Label2->text()));
    }
    QString reply;
    try {
        reply = PostWrite(IdHTTP1, Endpoints::Address(m_callServerBaseAddress, Endpoints::SaveCall),
                          RequestFields() << QStringLiteral("RequestId=") + m_requestId);
    } catch (const HttpStatusError& e) {
        if (e.status() == 409)
            throw RefusedWrite(e); // an earlier save of this showing was stored
        throw;
    } catch (const WriteMayBeStored&) {
        m_reloadNeeded = true;
        throw;
    }
    m_reloadNeeded = false;
    MessageBoxes::Show(MessageBoxes::Kind::Information, reply, this);
    done(ResultOk);
}
