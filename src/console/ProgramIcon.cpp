#include "console/ProgramIcon.h"

#include <QPainter>
#include <QPolygonF>

namespace {

// A small palette, as for a classic 16-colour icon.
const QColor kBody(0x2f, 0x37, 0x46);
const QColor kPin(0xb8, 0xbc, 0xc4);
const QColor kMark(0xe8, 0xe8, 0xe8);
const QColor kArrow(0x2e, 0xb8, 0x4a);
const QColor kArrowEdge(0x0b, 0x5e, 0x1c);

// Everything is drawn on a 32 x 32 grid and scaled to the size asked for.
void DrawChip(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kPin);
    for (int y : {14, 19, 24}) {
        p.drawRect(QRectF(3, y, 4, 2.5));
        p.drawRect(QRectF(25, y, 4, 2.5));
    }
    p.setBrush(kBody);
    p.drawRoundedRect(QRectF(6.5, 11, 19, 19), 1.5, 1.5);
    p.setBrush(kMark);
    p.drawEllipse(QRectF(9, 25, 3, 3));  // pin-1 mark
}

void DrawArrow(QPainter& p) {
    const QPolygonF arrow({{13, 1}, {19, 1}, {19, 10}, {25, 10}, {16, 21}, {7, 10}, {13, 10}});
    p.setPen(QPen(kArrowEdge, 1.2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(kArrow);
    p.drawPolygon(arrow);
}

}  // namespace

// An image, not a pixmap: it needs no display, so the build can draw the
// desktop's icon file with the very same code.
QImage ProgramIconImage(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 32.0, side / 32.0);
    DrawChip(painter);
    DrawArrow(painter);
    return image;
}

QPixmap ProgramIconPixmap(int side) { return QPixmap::fromImage(ProgramIconImage(side)); }

QIcon ProgramIcon() {
    QIcon icon;
    icon.addPixmap(ProgramIconPixmap(32));
    icon.addPixmap(ProgramIconPixmap(16));
    return icon;
}
