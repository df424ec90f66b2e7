#include "tform5.h"

#include "fonts.h"
#include "screen_centre.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

TForm5::TForm5(QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Data Transaction in Progress..."));
    setFixedSize(484, 122);
    setFont(Tahoma(10));

    Label1 = new QLabel(QStringLiteral("Please wait while the dataset is updated."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(24, 31);
    Label1->setMinimumWidth(440);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->move(24, 62);
    Label2->setMinimumWidth(440);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(16, 88, 457, 9);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
}

void TForm5::ShowTask(const QString& task, bool clearProgressText)
{
    if (!(windowFlags() & Qt::WindowStaysOnTopHint))
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
    Label1->setText(task);
    if (clearProgressText)
        Label2->clear();
    if (!isVisible())
        CentreOnScreen(this);
    show();
}

// The operator cannot close it; only the code that showed it does.
void TForm5::closeEvent(QCloseEvent* event)
{
    if (event->spontaneous())
        event->ignore();
    else
        event->accept();
}
