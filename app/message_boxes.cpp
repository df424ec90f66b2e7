#include "message_boxes.h"

#include <QApplication>
#include <QMessageBox>

namespace MessageBoxes {

namespace {

Hook& CurrentHook()
{
    static Hook hook;
    return hook;
}

} // namespace

void SetHook(Hook hook)
{
    CurrentHook() = std::move(hook);
}

Answer Show(Kind kind, const QString& text, QWidget* parent)
{
    if (CurrentHook())
        return CurrentHook()(kind, text);

    const QString title = ApplicationTitle();
    switch (kind) {
    case Kind::Error:
        QMessageBox::critical(parent, title, text);
        return Answer::Ok;
    case Kind::Information:
        QMessageBox::information(parent, title, text);
        return Answer::Ok;
    case Kind::Confirmation:
        return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No) ==
                       QMessageBox::Yes
                   ? Answer::Yes
                   : Answer::No;
    }
    return Answer::Ok;
}

} // namespace MessageBoxes
