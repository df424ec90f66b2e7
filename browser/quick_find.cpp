// The find box and the keys that move between it and the customer list.

#include "tform1.h"

#include "caller_search.h"
#include "customer_list_model.h"
#include "error_handler.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeView>

namespace {

constexpr char16_t Enter = 13;
constexpr char16_t Escape = 27;

// The character a key press stands for, as the handlers see it.
QChar KeyCharacter(const QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QChar(Enter);
    case Qt::Key_Escape:
        return QChar(Escape);
    default:
        return event->text().isEmpty() ? QChar() : event->text().front();
    }
}

} // namespace

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Edit1) {
        if (event->type() == QEvent::FocusIn)
            Edit1Enter();
        else if (event->type() == QEvent::FocusOut)
            Edit1Exit();
    }
    if (event->type() == QEvent::KeyPress && (watched == Edit1 || watched == ListView1)) {
        const QChar key = KeyCharacter(static_cast<QKeyEvent*>(event));
        if (!key.isNull()) {
            bool consumed = false;
            // Keys reach here only outside a wait: the input gate holds them.
            GuardedNow(
                [&] { consumed = watched == Edit1 ? Edit1KeyPress(key) : ListView1KeyPress(key); });
            if (consumed)
                return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::Edit1Enter()
{
    QPalette p = Edit1->palette();
    p.setColor(QPalette::Base, p.color(QPalette::ToolTipBase));
    Edit1->setPalette(p);
}

void TForm1::Edit1Exit()
{
    QPalette p = Edit1->palette();
    p.setColor(QPalette::Base, Qt::white);
    Edit1->setPalette(p);
}

bool TForm1::Edit1KeyPress(QChar key)
{
    if (key == QChar(Escape)) {
        ListView1->setFocus();
        return false;
    }
    if (key != QChar(Enter))
        return false;

    if (Edit1->selectedText().size() == Edit1->text().size()) {
        ListView1->setFocus();
        return true;
    }

    const QString text = Edit1->text();
    int found = -1;
    for (int position = 0; position < ListModel->count(); ++position) {
        if (ListModel->caption(position).startsWith(text, Qt::CaseInsensitive)) {
            found = position;
            break;
        }
    }
    // A caller gives a telephone number, an e-mail address, a business name
    // or a key more often than the name as the list spells it; a name
    // that matches always comes first.
    if (found < 0)
        found = FindCallerByOtherFields(Customers, ListModel->entries(), text);
    if (found < 0)
        SelectPosition(-1);
    else if (found != SelectedPosition())
        SelectPosition(found);

    const int selected = SelectedPosition();
    if (selected >= 0)
        ListView1->scrollTo(ListModel->indexOfPosition(selected), QAbstractItemView::EnsureVisible);
    Edit1->selectAll();
    return false;
}

bool TForm1::ListView1KeyPress(QChar key)
{
    if (key == QChar(Enter)) {
        Edit1->setFocus();
        Edit1->selectAll();
    }
    return false;
}
