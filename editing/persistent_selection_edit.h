#pragma once

#include <QFocusEvent>
#include <QLineEdit>

// A line edit whose selection stays when it loses the focus (Qt clears it).
class PersistentSelectionEdit : public QLineEdit
{
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

protected:
    void focusOutEvent(QFocusEvent* event) override
    {
        const int start = selectionStart();
        const int length = int(selectedText().size());
        QLineEdit::focusOutEvent(event);
        if (start >= 0 && length > 0)
            setSelection(start, length);
    }
};
