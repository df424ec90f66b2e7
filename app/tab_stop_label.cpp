#include "tab_stop_label.h"

#include <QPainter>
#include <QTextOption>

int TabStopLabel::tabStop() const
{
    return 8 * fontMetrics().averageCharWidth();
}

QSize TabStopLabel::sizeHint() const
{
    const QSize text = fontMetrics().size(Qt::TextExpandTabs, this->text(), tabStop());
    const QMargins m = contentsMargins();
    return text + QSize(m.left() + m.right(), m.top() + m.bottom());
}

void TabStopLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setTabStopDistance(tabStop());
    option.setWrapMode(QTextOption::NoWrap);
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    painter.drawText(QRectF(contentsRect()), text(), option);
}
