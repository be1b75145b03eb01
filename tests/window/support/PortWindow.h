#pragma once
// The window with its events wired and its dialogs recorded, every port name
// mapped to one device path and the port opened through a real click.
#include <QPushButton>
#include <QtTest>

#include <string>

#include "app/EventWiring.h"
#include "console/frmSerial.h"
#include "window/support/RecordingDialogs.h"

// Shorter reads for the cases that wait out silent reads (the
// synchronisation's reads wait for silence after the answer); the semantics
// stay.
inline constexpr veltra::ReadTimeouts kQuickReads{10, 40};

class PortWindow {
public:
    explicit PortWindow(const std::string& devicePath, veltra::ReadTimeouts timeouts = {}) {
        window.SetDialogs(&dialogs);
        window.Port().SetDeviceNameMap([devicePath](const std::string&) { return devicePath; });
        window.Port().SetReadTimeouts(timeouts);
        WireEvents(window);
        window.show();
        Click("BTNOpenCom");
    }

    template <typename T = QWidget>
    T* Get(const char* name) {
        return window.findChild<T*>(QString::fromLatin1(name));
    }

    void Click(const char* button) { QTest::mouseClick(Get<QPushButton>(button), Qt::LeftButton); }

    // "Open File" with the dialog answering `path`.
    void Choose(const std::string& path) {
        dialogs.fileAnswer = QString::fromStdString(path);
        Click("Command1");
    }

    std::string Text(const char* name);  // caption or text of a label, box or line

    frmSerial window;
    RecordingDialogs dialogs;
};

// A temporary folder for the firmware files of one test.
class FirmwareFolder {
public:
    FirmwareFolder();
    ~FirmwareFolder();
    FirmwareFolder(const FirmwareFolder&) = delete;
    FirmwareFolder& operator=(const FirmwareFolder&) = delete;
    std::string Write(const std::string& name, const std::string& content) const;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Bytes 0, 1, 2, ... wrapping at 251, so that neighbouring blocks differ.
std::string Pattern(std::size_t length, unsigned seed = 0);
