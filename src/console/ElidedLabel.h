#pragma once
// A one-line label that shortens its text with an ellipsis when it does not fit
// the fixed-width window; text() always holds the whole value, and the whole
// value shows as a tool tip while it is shortened.
#include <QLabel>

class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool Elided() const;

    Qt::TextElideMode mode_;
};
