#include "pictures.h"

#include <QPainter>
#include <QPainterPath>

namespace Pictures {

namespace {

QPixmap Blank(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

} // namespace

QPixmap FolderCard()
{
    QPixmap pixmap = Blank(16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(176, 132, 20));
    p.setBrush(QColor(240, 200, 70));
    p.drawRoundedRect(QRectF(1.5, 4.5, 13, 10), 1.5, 1.5); // the card
    p.drawRoundedRect(QRectF(1.5, 2.5, 6, 3), 1, 1);       // its tab
    p.setBrush(QColor(255, 226, 120));
    p.drawRect(QRectF(1.5, 6.5, 13, 8));
    return pixmap;
}

QPixmap OpenEnvelope()
{
    QPixmap pixmap = Blank(16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(90, 90, 120));
    p.setBrush(QColor(250, 250, 240));
    QPainterPath flap;
    flap.moveTo(1.5, 7.5);
    flap.lineTo(8, 1.5);
    flap.lineTo(14.5, 7.5);
    p.drawPath(flap);
    p.setBrush(QColor(235, 235, 220));
    p.drawRect(QRectF(1.5, 7.5, 13, 7));
    p.drawLine(QPointF(1.5, 7.5), QPointF(8, 11.5));
    p.drawLine(QPointF(14.5, 7.5), QPointF(8, 11.5));
    return pixmap;
}

QPixmap Clock()
{
    QPixmap pixmap = Blank(64);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 70, 140), 4));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(4, 4, 56, 56));
    p.setPen(QPen(QColor(40, 40, 40), 2));
    for (int i = 0; i < 12; ++i) {
        p.save();
        p.translate(32, 32);
        p.rotate(i * 30);
        p.drawLine(QPointF(0, -22), QPointF(0, i % 3 == 0 ? -17 : -19));
        p.restore();
    }
    p.setPen(QPen(QColor(40, 40, 40), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(32, 32), QPointF(32, 17));
    p.setPen(QPen(QColor(200, 30, 30), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(32, 32), QPointF(44, 40));
    return pixmap;
}

QPixmap CloseDisc()
{
    QPixmap pixmap = Blank(16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(210, 30, 30));
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(QPointF(5, 5), QPointF(11, 11));
    p.drawLine(QPointF(11, 5), QPointF(5, 11));
    return pixmap;
}

QPixmap AbortCross()
{
    QPixmap pixmap = Blank(16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(200, 20, 20), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3, 3), QPointF(13, 13));
    p.drawLine(QPointF(13, 3), QPointF(3, 13));
    return pixmap;
}

} // namespace Pictures
