#pragma once
// The window with its events wired and its dialogs recorded, its port opened
// through a real click on a simulated device over a pseudo-terminal.
#include <QPushButton>
#include <QtTest>

#include <fstream>
#include <memory>
#include <string>

#include "app/EventWiring.h"
#include "console/frmSerial.h"
#include "sim/SimDevice.h"
#include "window/support/RecordingDialogs.h"

class SimWindow {
public:
    explicit SimWindow(std::shared_ptr<veltra::sim::Personality> personality,
                       veltra::ReadTimeouts timeouts = {}, veltra::sim::DeviceOptions options = {})
        : device(std::move(personality), options) {
        window.SetDialogs(&dialogs);
        window.Port().SetDeviceNameMap([path = device.Path()](const std::string&) { return path; });
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

    veltra::sim::SimDevice device;
    frmSerial window;
    RecordingDialogs dialogs;
};

// A temporary folder for the firmware files of one test.
class FirmwareFolder {
public:
    FirmwareFolder();
    ~FirmwareFolder();
    std::string Write(const std::string& name, const std::string& content) const;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Bytes 0, 1, 2, ... wrapping at 251, so that neighbouring blocks differ.
std::string Pattern(std::size_t length, unsigned seed = 0);
