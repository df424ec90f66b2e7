#include "tform3.h"

#include "expiring_listing.h"
#include "fonts.h"
#include "named.h"
#include "screen_centre.h"
#include "system_colors.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

TForm3::TForm3(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("List of Customers Requiring Extended Service Invoice"));
    setFixedSize(366, 313);
    setFont(Tahoma(11));
    setModal(true);

    Panel1 = Named(new QFrame(this), "Panel1");
    Panel1->setGeometry(0, 0, 366, 265);
    QPalette p = Panel1->palette();
    p.setColor(QPalette::Window, SystemColors::AppWorkSpace());
    Panel1->setPalette(p);
    Panel1->setAutoFillBackground(true);

    const struct
    {
        QRadioButton** button;
        const char* name;
        const char* caption;
        int top;
        QLabel** label;
        const char* labelName;
        const char* range;
        int labelTop;
    } quarters[] = {
        {&RadioButton1, "RadioButton1", "First Quarter", 32, &Label1, "Label1", "Jan 1 - Mar 31",
         48},
        {&RadioButton2, "RadioButton2", "Second Quarter", 88, &Label2, "Label2", "Apr 1 - Jun 30",
         104},
        {&RadioButton3, "RadioButton3", "Third Quarter", 149, &Label3, "Label3", "Jul 1 - Sep 30",
         168},
        {&RadioButton4, "RadioButton4", "Fourth Quarter", 208, &Label4, "Label4", "Oct 1 - Dec 31",
         224},
    };
    for (const auto& q : quarters) {
        *q.button = Named(new QRadioButton(QString::fromLatin1(q.caption), Panel1), q.name);
        (*q.button)->setGeometry(32, q.top, 113, 17);
        (*q.button)->setFont(Tahoma(11, true));
        *q.label = Named(new QLabel(QString::fromLatin1(q.range), Panel1), q.labelName);
        (*q.label)->move(56, q.labelTop);
        (*q.label)->adjustSize();
    }

    Button1 = Named(new QPushButton(QStringLiteral("Continue"), this), "Button1");
    Button1->setGeometry(92, 280, 75, 25);
    Button2 = Named(new QPushButton(QStringLiteral("Cancel"), this), "Button2");
    Button2->setGeometry(198, 280, 75, 25);
    for (QPushButton* b : {Button1, Button2}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

void TForm3::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CentreOnScreen(this);
    FormShow();
}

void TForm3::FormShow()
{
    QRadioButton* buttons[] = {RadioButton1, RadioButton2, RadioButton3, RadioButton4};
    const Quarter quarter = QuarterOf(Today());
    buttons[int(quarter) / 100 - 1]->setChecked(true);
}

void TForm3::Button1Click()
{
    const QRadioButton* buttons[] = {RadioButton1, RadioButton2, RadioButton3, RadioButton4};
    for (int i = 0; i < 4; ++i) {
        if (buttons[i]->isChecked()) {
            done((i + 1) * 100);
            return;
        }
    }
    // Nothing checked: the picker stays open.
}

void TForm3::Button2Click()
{
    done(ResultCancel);
}

void TForm3::reject()
{
    Button2Click();
}

void TForm3::keyPressEvent(QKeyEvent* event)
{
    // Neither button answers Enter or Escape.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
