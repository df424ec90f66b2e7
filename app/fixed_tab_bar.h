#pragma once

#include <QTabBar>

// A tab strip whose tabs all have one fixed size (the letter filter's
// 35 x 16 tabs), or their natural size when none is set.
class FixedTabBar : public QTabBar
{
    Q_OBJECT
public:
    explicit FixedTabBar(QWidget* parent = nullptr) : QTabBar(parent) {}
    void setFixedTabSize(QSize size) { m_tabSize = size; }

protected:
    QSize tabSizeHint(int index) const override
    {
        return m_tabSize.isValid() ? m_tabSize : QTabBar::tabSizeHint(index);
    }
    QSize minimumTabSizeHint(int index) const override { return tabSizeHint(index); }

private:
    QSize m_tabSize;
};
