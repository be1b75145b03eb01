#include "console/CircleShape.h"

#include <QPainter>

CircleShape::CircleShape(QWidget* parent) : QWidget(parent) {}

void CircleShape::SetFillColor(const QColor& color) {
    if (fill_ == color) return;
    fill_ = color;
    update();
}

void CircleShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(fill_);
    const int side = qMin(width(), height()) - 1;
    painter.drawEllipse(QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side));
}
