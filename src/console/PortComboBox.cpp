#include "console/PortComboBox.h"

#include <QAbstractItemView>

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    // An adapter's description is longer than the closed box is wide; the
    // list shows it whole.
    view()->setTextElideMode(Qt::ElideNone);
}

void PortComboBox::showPopup() {
    emit aboutToDropDown();
    view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth());
    QComboBox::showPopup();
}
