// Start-up and the operator's open and close of the port.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>

#include <exception>
#include <system_error>

#include "console/CircleShape.h"
#include "console/PortComboBox.h"
#include "console/frmSerial.h"
#include "serial/PortList.h"
#include "serial/SerialPort.h"

namespace {

void ResetNetworkList(QComboBox& list) {
    list.clear();
    list.addItem(QStringLiteral("0"));
    list.setCurrentIndex(0);
}

}  // namespace

void frmSerial::Form_Load() {
    ResetNetworkList(*ui_.CmbNet);
    try {
        RefillPortList();
        ui_.CmbPort->setCurrentIndex(0);
        connect(static_cast<PortComboBox*>(ui_.CmbPort), &PortComboBox::aboutToDropDown, this,
                &frmSerial::RefillPortList);
    } catch (const std::system_error& e) {
        ShowMessage({e.what(), veltra::MessageIcon::Critical, "Error#" + std::to_string(e.code().value())});
    } catch (const std::exception& e) {
        ShowMessage({e.what(), veltra::MessageIcon::Critical, "Error#0"});
    }
}

// "COM1:".."COM9:", then the adapters present now. An entry shows the port's
// name, and the adapter's description where the system knows it; the name
// alone is what the port opens. The chosen entry stays chosen while it exists.
void frmSerial::RefillPortList() {
    const QString chosen = ui_.CmbPort->currentData().toString();
    const QSignalBlocker quiet(ui_.CmbPort);
    ui_.CmbPort->clear();
    for (const veltra::PortEntry& entry : veltra::ListPorts(deviceTree_)) {
        const QString name = QString::fromStdString(entry.name);
        const QString shown =
            entry.description.empty() ? name : name + QStringLiteral("  ") + QString::fromStdString(entry.description);
        ui_.CmbPort->addItem(shown, name);
    }
    const int again = ui_.CmbPort->findData(chosen);
    ui_.CmbPort->setCurrentIndex(again >= 0 ? again : 0);
}

void frmSerial::SetDeviceTree(const veltra::DeviceTree& tree) {
    deviceTree_ = tree;
    port_.SetDeviceNameMap([tree](const std::string& name) { return veltra::DeviceNodeFor(name, tree); });
    RefillPortList();
}

void frmSerial::BTNOpenCom_Click() {
    // The entry at the list's selection, never typed text: the list is not editable.
    const QString portName = ui_.CmbPort->itemData(ui_.CmbPort->currentIndex()).toString();
    if (!port_.OpenPort(portName.toStdString(), veltra::kDeviceLineSettings)) {
        // The port has already shown why; this names the port that failed.
        ShowMessage({(portName + QStringLiteral(" Not available!")).toStdString(), veltra::MessageIcon::None, ""});
        return;
    }
    SwitchTags();
    ui_.BTNOpenCom->setEnabled(false);
    SetTrafficLog("");
    SetTrafficLog("Start!  ");
    SetTrafficLog("Start!  Ok!     ");
}

void frmSerial::BTNCloseCom_Click() {
    port_.ClosePort();  // closing a port that is not open is harmless
    CloseAllTags();
    ui_.BTNOpenCom->setEnabled(true);
    ResetNetworkList(*ui_.CmbNet);

    const QString noData = QStringLiteral("Нет данных");
    ui_.sn->setText(QStringLiteral("0"));
    ui_.vv->setText(QStringLiteral("--------"));
    for (QLabel* readOut : {ui_.tek, ui_.temp, ui_.uroven, ui_.lo, ui_.hi, ui_.ne}) readOut->setText(noData);

    ui_.ProgressBar1->setValue(0);
    ui_.MsgCom->setText(QString());
    ui_.netdev->setText(QStringLiteral("Устройства не определены"));
    ui_.Pic->SetFillColor(Qt::yellow);
    // The firmware file is opened and closed by each operation that reads it,
    // so no file is left open here to close.
}
