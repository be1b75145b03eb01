#pragma once
// The port list: a pure drop-down (typed text can never become a port name)
// that tells the window just before it drops down, so the window can read the
// ports again and an adapter plugged in after start can be chosen.
#include <QComboBox>

class PortComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit PortComboBox(QWidget* parent = nullptr);
    void showPopup() override;

signals:
    void aboutToDropDown();
};
