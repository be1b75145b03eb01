#pragma once
// A plain indicator: a solid circle in one fill colour, nothing else.
#include <QColor>
#include <QWidget>

class CircleShape : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor fillColor READ FillColor WRITE SetFillColor)

public:
    explicit CircleShape(QWidget* parent = nullptr);

    QColor FillColor() const { return fill_; }
    void SetFillColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_{Qt::yellow};
};
