#pragma once
// The tool's only window: the port, file and download controls the operator
// uses, and the service controls that are never shown but hold state the
// operations read and write. Every handler runs to its end on the window's
// thread.
#include <array>
#include <chrono>
#include <string>

#include <QWidget>

#include "console/DialogSeam.h"
#include "console/QtDialogs.h"
#include "firmware/FillerSource.h"
#include "firmware/FirmwareChoice.h"
#include "serial/ByteString.h"
#include "serial/Operator.h"
#include "serial/PortList.h"
#include "protocol/WakeUp.h"
#include "serial/SerialPort.h"

class CircleShape;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TrafficBox;

class frmSerial : public QWidget, public veltra::Operator {
    Q_OBJECT

public:
    // The fixed client area, in pixels.
    static constexpr int kClientWidth = 237;
    static constexpr int kClientHeight = 254;

    explicit frmSerial(QWidget* parent = nullptr);
    ~frmSerial() override;

    // Event handlers.
    void Form_Load();
    void BTNOpenCom_Click();
    void BTNCloseCom_Click();
    void Command1_Click();  // choose the firmware file
    void go_Click();        // download it through the device's own loader
    void pos1_Click();      // send the fixed test block
    void Start_Click();     // program the microcontroller through its ROM bootloader
    void crypt_Click();     // write the scrambled copy of the firmware file

    // Control groups: a control's "Tag" read as a number is its group.
    void SwitchTags();    // inverts Enabled of every control with 8 < group < 130
    void CloseAllTags();  // disables every control with group > 8

    // The dialogs the window shows; tests put in their own. Not owned.
    void SetDialogs(DialogSeam* dialogs);
    // How long a loader is woken before the operator is asked whether to keep
    // waiting; tests shorten it.
    void SetWakePatience(std::chrono::milliseconds patience) { wakePatience_ = patience; }
    // Where the port list looks for devices; tests build a fake tree. The
    // port opens the device the tree gives for the chosen name.
    void SetDeviceTree(const veltra::DeviceTree& tree);

    // Window state for the whole run.
    veltra::SerialPort& Port() { return port_; }
    veltra::FirmwareChoice& Firmware() { return firmware_; }
    veltra::ByteString& Wrs() { return wrs; }

    // veltra::Operator
    void ShowMessage(const veltra::Message& message) override;
    bool AskRetry(const std::string& text) override;
    std::string AskOpenFileName(const std::string& title, const std::string& filter) override;
    void SetStatusLine(const std::string& text) override;
    void SetFileNameCaption(const std::string& text) override;
    void SetTrafficLog(const std::string& text) override;
    void SetReplyBox(const std::string& text) override;
    int ProgressMaximum() const override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressValue(int value) override;
    bool EepromChecked() const override;
    std::string OptionText(int box) const override;

private:
    // The controls the code works with; the window owns them all as children.
    struct Controls {
        QPushButton* BTNOpenCom = nullptr;
        QPushButton* BTNCloseCom = nullptr;
        QComboBox* CmbPort = nullptr;
        QComboBox* CmbNet = nullptr;
        QLabel* filename = nullptr;
        QLabel* l221 = nullptr;
        QProgressBar* ProgressBar1 = nullptr;
        TrafficBox* txtRec = nullptr;
        QLineEdit* T22 = nullptr;
        std::array<QLineEdit*, 4> ob{};
        QCheckBox* EEPROM = nullptr;
        QLabel* sn = nullptr;
        QLabel* vv = nullptr;
        QLabel* MsgCom = nullptr;
        QLabel* netdev = nullptr;
        QLabel* tek = nullptr;
        QLabel* temp = nullptr;
        QLabel* uroven = nullptr;
        QLabel* lo = nullptr;
        QLabel* hi = nullptr;
        QLabel* ne = nullptr;
        CircleShape* Pic = nullptr;
    };

    void BuildControls();       // every control with its design-time state
    void LayOutWorkingArea();   // positions of the controls the operator sees
    void FindControls();
    void RefillPortList();
    // After an operation on the port: a port whose device has gone is closed
    // as "Close COM port" closes it, so the window shows it closed.
    void CloseIfPortLost();

    QtDialogs qtDialogs_;
    DialogSeam* dialogs_ = &qtDialogs_;
    Controls ui_;

    veltra::SerialPort port_{*this};
    veltra::ByteString wrs;  // the request buffer every exchange builds its request in
    veltra::FirmwareChoice firmware_;
    veltra::FillerSource filler_;  // one filler sequence for the whole run
    std::chrono::milliseconds wakePatience_ = veltra::kWakePatience;
    veltra::DeviceTree deviceTree_;
};
