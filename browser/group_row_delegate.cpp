#include "group_row_delegate.h"

#include "customer_list_model.h"

#include <QPainter>

namespace {

bool IsGroupRow(const QModelIndex& index)
{
    return !(index.flags() & Qt::ItemIsSelectable) && index.isValid();
}

} // namespace

void GroupRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const
{
    if (!IsGroupRow(index)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    painter->save();
    QFont bold = option.font;
    bold.setBold(true);
    const QRect r = option.rect.adjusted(4, 0, -4, 0);
    painter->setPen(QColor(30, 60, 140));
    painter->setFont(bold);
    const QString header = index.data(Qt::DisplayRole).toString();
    painter->drawText(r, Qt::AlignLeft | Qt::AlignVCenter, header);
    const int headerWidth = QFontMetrics(bold).horizontalAdvance(header);
    painter->setFont(option.font);
    painter->setPen(Qt::gray);
    painter->drawText(r.adjusted(headerWidth + 12, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                      index.data(CustomerListModel::SubtitleRole).toString());
    painter->setPen(QColor(180, 195, 225));
    painter->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    painter->restore();
}
