#include "vendor_logo.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QImage VendorLogo()
{
    QImage image(125, 114, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // A rounded tile with a till drawer opening under a leaf.
    const QRectF tile(22.5, 4.5, 80, 74);
    QLinearGradient shade(tile.topLeft(), tile.bottomRight());
    shade.setColorAt(0, QColor(38, 150, 140));
    shade.setColorAt(1, QColor(20, 86, 120));
    p.setPen(QPen(QColor(16, 70, 96), 1.5));
    p.setBrush(shade);
    p.drawRoundedRect(tile, 14, 14);

    // The drawer: a white tray with a coin slot.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(36, 50, 53, 17), 3, 3);
    p.setBrush(QColor(20, 86, 120));
    p.drawRoundedRect(QRectF(54, 56, 17, 4), 2, 2);

    // The leaf above it.
    QPainterPath leaf;
    leaf.moveTo(44, 44);
    leaf.cubicTo(46, 20, 70, 12, 86, 14);
    leaf.cubicTo(84, 32, 66, 46, 44, 44);
    p.setBrush(QColor(250, 176, 40));
    p.drawPath(leaf);
    p.setPen(QPen(QColor(200, 120, 20), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(48, 40), QPointF(78, 20));

    // The wordmark under the tile.
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(20);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    p.setFont(font);
    p.setPen(QColor(20, 86, 120));
    p.drawText(QRectF(0, 82, 125, 28), Qt::AlignCenter, QStringLiteral("TILLORA"));
    return image;
}
