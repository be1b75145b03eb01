// The firmware download through the window: "Open File", "RUN" and the test
// block, against the simulated device's loader over a pseudo-terminal.
#include <QLabel>
#include <QProgressBar>
#include <QtTest>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "protocol/Crc8.h"
#include "sim/LoaderDevice.h"
#include "sim/ScriptedDevice.h"
#include "support/PullableLine.h"
#include "window/support/SimWindow.h"

using namespace std::chrono_literals;
using veltra::ByteString;
using veltra::sim::LoaderDevice;
using veltra::sim::LoaderOptions;

namespace {

// Descriptors of this process that point at the file.
int OpenCount(const std::string& path) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec) == path) ++count;
    }
    return count;
}

}  // namespace

class DownloadTest : public QObject {
    Q_OBJECT

private slots:
    void framesFollowTheFile_data();
    void framesFollowTheFile();
    void severalKilobytesArriveWhole();
    void handshake_data();
    void handshake();
    void refusedBlockEndsTheDownload();
    void replyInTwoPiecesIsAccepted();
    void noFileChosenSendsNothing();
    void cancelledHandshakeSendsNothing();
    void closedPortEndsAtOnce();
    void pulledAdapterClosesThePort();
    void fileRemovedAfterChoiceSendsNothing();
    void fileChoice();
    void shorterFileKeepsTheBarShowing();
    void namedPipeIsRefusedAtChoice();
    void cancelledDialogChangesNothing();
    void testBlock_data();
    void testBlock();
    void testBlockIsAnsweredWithoutAWakeUp();
};

// Each frame as "marker:file bytes it carries".
void DownloadTest::framesFollowTheFile_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("frames");
    QTest::newRow("empty") << 0 << "D2:0";
    QTest::newRow("1") << 1 << "D2:1";
    QTest::newRow("63") << 63 << "D2:63";
    QTest::newRow("64") << 64 << "D2:64 D2:0";
    QTest::newRow("65") << 65 << "A5:64 D2:1";
    QTest::newRow("100") << 100 << "A5:64 D2:36";
    QTest::newRow("128") << 128 << "A5:64 D2:64 D2:0";
}

void DownloadTest::framesFollowTheFile() {
    QFETCH(int, length);
    QFETCH(QString, frames);
    auto loader = std::make_shared<LoaderDevice>();
    SimWindow w(loader);
    FirmwareFolder folder;
    const std::string content = Pattern(static_cast<std::size_t>(length));
    w.Choose(folder.Write("dev.bin", content));
    w.Click("go");

    const QStringList expected = frames.split(' ');
    const std::vector<ByteString> got = loader->Frames();
    QCOMPARE(got.size(), static_cast<std::size_t>(expected.size()));
    std::size_t offset = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const QStringList parts = expected[static_cast<int>(i)].split(':');
        const auto marker = static_cast<std::uint8_t>(parts[0].toUInt(nullptr, 16));
        const auto carried = static_cast<std::size_t>(parts[1].toUInt());
        const ByteString& frame = got[i];
        QCOMPARE(frame.size(), std::size_t{67});
        QCOMPARE(veltra::ByteAt(frame, 0), marker);
        QCOMPARE(veltra::ByteAt(frame, 1), std::uint8_t{0x70});
        // File bytes, then 0xFF where the file has ended.
        const std::string expectedData = content.substr(offset, carried) + std::string(64 - carried, '\xFF');
        QCOMPARE(frame.substr(2, 64), expectedData);
        QCOMPARE(veltra::Control_summ(frame.substr(0, 66)), frame);
        offset += carried;
    }
    const int bytes = 64 * static_cast<int>(expected.size());
    QCOMPARE(w.Text("l221"), "Successful - " + std::to_string(bytes) + " Bytes");
    // The bar ends at its maximum: the file length, or 100 for an empty file.
    auto* bar = w.Get<QProgressBar>("ProgressBar1");
    QCOMPARE(bar->value(), std::min(bytes, length > 0 ? length : 100));
    QVERIFY(w.dialogs.messages.empty());
}

void DownloadTest::severalKilobytesArriveWhole() {
    auto loader = std::make_shared<LoaderDevice>();
    SimWindow w(loader);
    FirmwareFolder folder;
    const std::string content = Pattern(5000, 7);
    w.Choose(folder.Write("big.bin", content));
    w.Click("go");

    const ByteString firmware = loader->Firmware();
    QCOMPARE(firmware.size(), std::size_t{79 * 64});
    QCOMPARE(firmware.substr(0, content.size()), content);
    QCOMPARE(firmware.substr(content.size()), std::string(79 * 64 - 5000, '\xFF'));
    QCOMPARE(w.Text("l221"), std::string("Successful - 5056 Bytes"));
    QCOMPARE(w.Get<QProgressBar>("ProgressBar1")->value(), 5000);
}

void DownloadTest::handshake_data() {
    QTest::addColumn<int>("attempt");
    QTest::addColumn<QByteArray>("early");
    QTest::addColumn<QByteArray>("wake");
    QTest::newRow("late") << 3 << QByteArray() << QByteArray("\x79", 1);
    QTest::newRow("0x00 0x79 does not wake") << 2 << QByteArray("\x00\x79", 2) << QByteArray("\x79", 1);
    QTest::newRow("0x79 0x00 wakes") << 1 << QByteArray() << QByteArray("\x79\x00", 2);
}

void DownloadTest::handshake() {
    QFETCH(int, attempt);
    QFETCH(QByteArray, early);
    QFETCH(QByteArray, wake);
    LoaderOptions options;
    options.handshakeAttempt = attempt;
    options.earlyReply = early.toStdString();
    options.handshakeReply = wake.toStdString();
    auto loader = std::make_shared<LoaderDevice>(options);
    SimWindow w(loader);
    FirmwareFolder folder;
    w.Choose(folder.Write("dev.bin", Pattern(10)));
    w.Click("go");

    QCOMPARE(loader->HandshakeAttempts(), attempt);
    QCOMPARE(loader->Frames().size(), std::size_t{1});
    QCOMPARE(w.Text("l221"), std::string("Successful - 64 Bytes"));
}

void DownloadTest::refusedBlockEndsTheDownload() {
    LoaderOptions options;
    options.refuseBlock = 3;
    auto loader = std::make_shared<LoaderDevice>(options);
    SimWindow w(loader);
    FirmwareFolder folder;
    const std::string path = folder.Write("dev.bin", Pattern(300));
    w.Choose(path);
    w.Click("go");

    QCOMPARE(Join(w.dialogs.MessageTexts()), Join({"Ошибка 1F !!!!", " data 3,part error"}));
    QCOMPARE(loader->Frames().size(), std::size_t{3});
    QCOMPARE(w.Text("l221"), std::string("Failed - 128 Bytes"));
    QCOMPARE(w.Get<QProgressBar>("ProgressBar1")->value(), 128);
    QCOMPARE(OpenCount(path), 0);
}

void DownloadTest::replyInTwoPiecesIsAccepted() {
    LoaderOptions options;
    options.splitBlock = 1;
    options.splitPause = 60ms;  // longer than the silence that ends a read
    auto loader = std::make_shared<LoaderDevice>(options);
    SimWindow w(loader);
    FirmwareFolder folder;
    w.Choose(folder.Write("dev.bin", Pattern(100)));
    w.Click("go");

    QCOMPARE(loader->Frames().size(), std::size_t{2});
    QCOMPARE(w.Text("l221"), std::string("Successful - 128 Bytes"));
    QVERIFY(w.dialogs.messages.empty());
}

void DownloadTest::noFileChosenSendsNothing() {
    auto loader = std::make_shared<LoaderDevice>();
    SimWindow w(loader);
    w.Click("go");
    QCOMPARE(w.Text("txtRec"), std::string("Running!  "));
    QCOMPARE(w.Text("l221"), std::string("Please choose File"));
    QTest::qWait(50);
    QVERIFY(w.device.Received().empty());
}

void DownloadTest::cancelledHandshakeSendsNothing() {
    LoaderOptions options;
    options.handshakeAttempt = 1000000;  // never wakes
    auto loader = std::make_shared<LoaderDevice>(options);
    SimWindow w(loader, kQuickReads);
    w.window.SetWakePatience(150ms);
    w.dialogs.retryAnswers = {true};  // wait once more, then give up
    FirmwareFolder folder;
    const std::string path = folder.Write("dev.bin", Pattern(100));
    w.Choose(path);
    w.Click("go");

    QCOMPARE(w.dialogs.retryQuestions.size(), std::size_t{2});
    QCOMPARE(w.dialogs.retryQuestions.front(), QStringLiteral("No answer from device. Keep waiting?"));
    QCOMPARE(w.Text("l221"), std::string("No connection"));
    QVERIFY(loader->Frames().empty());
    const ByteString received = w.device.Received();
    QVERIFY(!received.empty());
    QCOMPARE(received, ByteString(received.size(), '\x7F'));
    QCOMPARE(OpenCount(path), 0);
}

// A port that takes no bytes ends the wake-up at once instead of trying forever.
void DownloadTest::closedPortEndsAtOnce() {
    auto loader = std::make_shared<LoaderDevice>();
    SimWindow w(loader);
    FirmwareFolder folder;
    w.Choose(folder.Write("dev.bin", Pattern(100)));
    w.window.Port().ClosePort();
    w.Click("go");
    QCOMPARE(Join(w.dialogs.MessageTexts()), Join({"Com port write error"}));
    QCOMPARE(w.Text("l221"), std::string("No connection"));
    QVERIFY(w.dialogs.retryQuestions.empty());
}

// The adapter pulled out during RUN: the port's box in place of a part error,
// what the device took, and the window closed as "Close COM port" closes it.
void DownloadTest::pulledAdapterClosesThePort() {
    auto loader = std::make_shared<LoaderDevice>();
    veltra::testing::PullableLine line(loader, veltra::testing::BytesBeforeFrame(3));
    frmSerial window;
    RecordingDialogs dialogs;
    window.SetDialogs(&dialogs);
    window.Port().SetDeviceNameMap([path = line.Path()](const std::string&) { return path; });
    WireEvents(window);
    window.show();
    const auto button = [&](const char* name) { return window.findChild<QPushButton*>(QString::fromLatin1(name)); };
    QTest::mouseClick(button("BTNOpenCom"), Qt::LeftButton);
    QVERIFY(window.Port().IsOpen());
    FirmwareFolder folder;
    dialogs.fileAnswer = QString::fromStdString(folder.Write("dev.bin", Pattern(1000)));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);

    QTest::mouseClick(button("go"), Qt::LeftButton);

    QVERIFY(line.Pulled());
    QCOMPARE(Join(dialogs.MessageTexts()), Join({"The port COM1: is gone (was the adapter unplugged?)"}));
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("l221"))->text(), QStringLiteral("Failed - 128 Bytes"));
    QVERIFY(!window.Port().IsOpen());
    QVERIFY(button("BTNOpenCom")->isEnabled());
    QVERIFY(!button("BTNCloseCom")->isEnabled());
    QVERIFY(!button("go")->isEnabled());
    QCOMPARE(window.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"))->value(), 0);
}

void DownloadTest::fileRemovedAfterChoiceSendsNothing() {
    auto loader = std::make_shared<LoaderDevice>();
    SimWindow w(loader);
    FirmwareFolder folder;
    const std::string path = folder.Write("gone.bin", Pattern(100));
    w.Choose(path);
    std::filesystem::remove(path);
    w.Click("go");

    QCOMPARE(Join(w.dialogs.MessageTexts()),
             Join({"Cannot open firmware file " + path + ": No such file or directory"}));
    QCOMPARE(w.Text("l221"), std::string("File error"));
    QTest::qWait(50);
    QVERIFY(w.device.Received().empty());
}

void DownloadTest::fileChoice() {
    auto loader = std::make_shared<LoaderDevice>();
    SimWindow w(loader);
    FirmwareFolder folder;
    auto* bar = w.Get<QProgressBar>("ProgressBar1");

    const std::string path = folder.Write("dev.bin", Pattern(1234));
    w.Choose(path);
    QCOMPARE(w.dialogs.fileDialogs.back(), QStringLiteral("Open|All Files (*)"));
    QCOMPARE(w.window.Firmware().path, path);
    QCOMPARE(w.window.Firmware().folder, folder.Path() + "/");
    QCOMPARE(w.window.Firmware().length, std::int64_t{1234});
    QCOMPARE(w.Text("filename"), path);
    QCOMPARE(w.Text("l221"), std::string("Wait RUN button"));
    QCOMPARE(bar->maximum(), 1234);

    // An empty file leaves the bar's maximum as it was.
    const std::string empty = folder.Write("empty", "");
    w.Choose(empty);
    QCOMPARE(w.window.Firmware().length, std::int64_t{0});
    QCOMPARE(w.Text("filename"), empty);
    QCOMPARE(bar->maximum(), 1234);

    // A long path is kept whole.
    const std::string deep = folder.Path() + "/" + std::string(200, 'd');
    std::filesystem::create_directory(deep);
    const std::string longPath = deep + "/" + std::string(200, 'f') + ".bin";
    std::ofstream(longPath) << "x";
    w.Choose(longPath);
    QCOMPARE(w.Text("filename"), longPath);
    QCOMPARE(w.window.Firmware().folder, deep + "/");
}

void DownloadTest::cancelledDialogChangesNothing() {
    auto loader = std::make_shared<LoaderDevice>();
    SimWindow w(loader);
    FirmwareFolder folder;
    const std::string path = folder.Write("dev.bin", Pattern(500));
    w.Choose(path);
    const veltra::FirmwareChoice before = w.window.Firmware();

    w.window.SetStatusLine("other");
    w.Choose("");
    QCOMPARE(w.window.Firmware().path, before.path);
    QCOMPARE(w.window.Firmware().folder, before.folder);
    QCOMPARE(w.window.Firmware().length, before.length);
    QCOMPARE(w.Text("filename"), path);
    QCOMPARE(w.Text("l221"), std::string("other"));
    QCOMPARE(w.Get<QProgressBar>("ProgressBar1")->maximum(), 500);

    // A name that names no file is refused and changes nothing either.
    w.Choose(folder.Path() + "/missing.bin");
    QCOMPARE(w.window.Firmware().path, before.path);
    QCOMPARE(w.dialogs.messages.size(), std::size_t{1});
}

// The bar's maximum falls below its value when a shorter file is chosen after
// a download; the bar then shows full, not an empty bar without a figure.
void DownloadTest::shorterFileKeepsTheBarShowing() {
    auto loader = std::make_shared<LoaderDevice>();
    SimWindow w(loader);
    FirmwareFolder folder;
    auto* bar = w.Get<QProgressBar>("ProgressBar1");
    w.Choose(folder.Write("long.bin", Pattern(1000)));
    w.Click("go");
    QCOMPARE(w.Text("l221"), std::string("Successful - 1024 Bytes"));
    QCOMPARE(bar->value(), 1000);

    w.Choose(folder.Write("short.bin", Pattern(100)));
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 100);
    QCOMPARE(bar->text(), QStringLiteral("100%"));
}

// A named pipe would hold the window for ever in the open of the next RUN.
void DownloadTest::namedPipeIsRefusedAtChoice() {
    auto loader = std::make_shared<LoaderDevice>();
    SimWindow w(loader);
    FirmwareFolder folder;
    const std::string good = folder.Write("dev.bin", Pattern(100));
    w.Choose(good);
    const std::string pipe = folder.Path() + "/pipe.bin";
    QCOMPARE(::mkfifo(pipe.c_str(), 0600), 0);
    w.Choose(pipe);

    QCOMPARE(Join(w.dialogs.MessageTexts()),
             Join({"Cannot open firmware file " + pipe + ": it is a named pipe, not a regular file"}));
    QCOMPARE(w.window.Firmware().path, good);
    QCOMPARE(w.Text("filename"), good);
}

void DownloadTest::testBlock_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("shown");
    QTest::newRow("accepted") << QByteArray("\x55\x70\x41\x0D", 4) << "36 35 ,";
    QTest::newRow("unanswered") << QByteArray() << "32 35 35 ,";
}

void DownloadTest::testBlock() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, shown);
    ByteString frame;
    for (int b : {0xA5, 0x70}) veltra::AppendByte(frame, static_cast<std::uint8_t>(b));
    for (int i = 0; i < 64; ++i) veltra::AppendByte(frame, static_cast<std::uint8_t>(i));
    veltra::AppendByte(frame, 0xFD);

    auto script = std::make_shared<veltra::sim::ScriptedDevice>();
    veltra::sim::Reply answer;
    if (!reply.isEmpty()) answer.push_back({reply.toStdString()});
    script->On(frame, answer);
    SimWindow w(script, kQuickReads);
    w.window.pos1_Click();

    QCOMPARE(w.device.Received(), frame);
    QVERIFY(w.Text("txtRec").rfind("A5 70 0 1 2 3 4 5 6 7 8 9 A B C D E F 10 ", 0) == 0);
    QCOMPARE(QString::fromStdString(w.Text("T22")), shown);
}

// The loader answers a well-formed block frame asleep as well, so the test
// block can be tried against the simulated device with no download before it.
void DownloadTest::testBlockIsAnsweredWithoutAWakeUp() {
    auto loader = std::make_shared<LoaderDevice>();
    SimWindow w(loader, kQuickReads);
    w.window.pos1_Click();

    QCOMPARE(QString::fromStdString(w.Text("T22")), QStringLiteral("36 35 ,"));
    QCOMPARE(loader->Frames().size(), std::size_t{1});
    QCOMPARE(loader->HandshakeAttempts(), 0);
}

QTEST_MAIN(DownloadTest)
#include "download_test.moc"
