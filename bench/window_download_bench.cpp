// A 32 KiB download through the real window, as an operator runs it: the port
// opened with "Open COM port", the file chosen with "Open File", then "RUN",
// against the simulated device's loader with the line paced at 19200 baud and
// the product's read timeouts. Prints the wall time of RUN, the CPU time of the
// window's thread alone (the simulated device has a thread of its own), and
// the ratio of the wall time to the protocol's floor: for each block, the frame
// and its reply on the line plus the 20 ms of silence that ends a read.
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "DownloadBench.h"
#include "app/EventWiring.h"
#include "console/DialogSeam.h"
#include "console/frmSerial.h"
#include "sim/LoaderDevice.h"
#include "sim/SimDevice.h"

namespace {

// Answers the file dialog with the bench's file; any box means the bench is
// not measuring what it should, so it is printed.
class BenchDialogs : public DialogSeam {
public:
    explicit BenchDialogs(QString file) : file_(std::move(file)) {}
    void Message(QWidget*, const veltra::Message& message) override {
        std::printf("message: %s\n", message.text.c_str());
        ++messages;
    }
    bool RetryCancel(QWidget*, const QString&) override { return false; }
    QString OpenFileName(QWidget*, const QString&, const QString&) override { return file_; }

    int messages = 0;

private:
    QString file_;
};

void Click(frmSerial& window, const char* name) {
    window.findChild<QPushButton*>(QString::fromLatin1(name))->click();
}

}  // namespace

int main(int argc, char* argv[]) {
    // Without a display the window still paints, into memory.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);

    // The file size may be given, to tell the cost of a run from that of its blocks.
    const std::size_t kFileSize = argc > 1 ? std::stoul(argv[1]) : veltra::bench::kBenchFileSize;
    const std::string path = (std::filesystem::temp_directory_path() / "veltra-window-bench.bin").string();
    veltra::bench::WriteBenchFirmware(path, kFileSize);

    auto loader = std::make_shared<veltra::sim::LoaderDevice>();
    veltra::sim::SimDevice device(loader, veltra::sim::DeviceOptions{true, veltra::bench::kBenchBaud});
    BenchDialogs dialogs(QString::fromStdString(path));
    frmSerial window;
    window.SetDialogs(&dialogs);
    window.Port().SetDeviceNameMap([&](const std::string&) { return device.Path(); });
    WireEvents(window);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    Click(window, "BTNOpenCom");
    Click(window, "Command1");
    QApplication::processEvents();

    const double cpuStart = veltra::bench::ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    Click(window, "go");
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = veltra::bench::ThreadCpuSeconds() - cpuStart;

    const std::string status = window.findChild<QLabel*>(QStringLiteral("l221"))->text().toStdString();
    const std::size_t blocks = loader->Frames().size();
    const double floor = veltra::bench::FloorSeconds(blocks);
    std::printf("platform: %s\n", QGuiApplication::platformName().toStdString().c_str());
    std::printf("status: %s\n", status.c_str());
    std::printf("blocks: %zu\nwall: %.2f s\n", blocks, wall);
    std::printf("window thread cpu: %.3f s (%.2f%% of wall)\n", cpu, 100.0 * cpu / wall);
    std::printf("floor: %.2f s\nwall / floor: %.4f\n", floor, wall / floor);
    std::filesystem::remove(path);
    const bool whole = status == veltra::bench::WholeDownloadStatus(kFileSize);
    return whole && dialogs.messages == 0 ? 0 : 1;
}
