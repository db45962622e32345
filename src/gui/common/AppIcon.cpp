#include "gui/common/AppIcon.h"

#include <QPainter>
#include <QPixmap>

namespace corvane3 {

namespace {

QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    // Clock face.
    painter.setPen(QPen(QColor(20, 40, 90), 3));
    painter.setBrush(QColor(235, 242, 255));
    painter.drawEllipse(QPointF(32, 32), 29, 29);
    // Two electron orbits.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(230, 140, 20), 2));
    for (int angle : {30, -30}) {
        painter.save();
        painter.translate(32, 32);
        painter.rotate(angle);
        painter.drawEllipse(QPointF(0, 0), 24, 9);
        painter.restore();
    }
    // Hands pointing at ten past ten, and the nucleus.
    painter.setPen(QPen(QColor(20, 40, 90), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(32, 32), QPointF(22, 20));
    painter.drawLine(QPointF(32, 32), QPointF(46, 22));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 30, 40));
    painter.drawEllipse(QPointF(32, 32), 4.5, 4.5);
    return pixmap;
}

}  // namespace

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) {
        icon.addPixmap(DrawIcon(size));
    }
    return icon;
}

}  // namespace corvane3
