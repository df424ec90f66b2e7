#pragma once

#include <QStyledItemDelegate>

// Draws a group row of the customer list as a header in bold with its
// subtitle beside it in grey, over a rule; entry rows are drawn as usual.
class GroupRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};
