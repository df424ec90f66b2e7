#include "message_boxes.h"

#include <QApplication>
#include <QMessageBox>

#include "screen_centre.h"

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

    // Texts from the server are shown as they are, never read as markup.
    QMessageBox box(kind == Kind::Error          ? QMessageBox::Critical
                    : kind == Kind::Confirmation ? QMessageBox::Question
                    : kind == Kind::Warning      ? QMessageBox::Warning
                                                 : QMessageBox::NoIcon,
                    ApplicationTitle(), text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    if (kind == Kind::Confirmation) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        CentreOnScreen(&box);
        return box.exec() == QMessageBox::No ? Answer::No : Answer::Yes;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

} // namespace MessageBoxes
