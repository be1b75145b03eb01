// Programming the microcontroller through its ROM bootloader, from the
// window's Start handler, against the simulated bootloader over a
// pseudo-terminal.
#include <QCheckBox>
#include <QtTest>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "sim/RomBootloaderDevice.h"
#include "support/Bytes.h"
#include "window/support/RomImage.h"
#include "window/support/SimWindow.h"

using namespace std::chrono_literals;
using veltra::ByteString;
using veltra::sim::RomBootloaderDevice;
using veltra::sim::RomOptions;

namespace {

using veltra::testing::Bytes;

struct Flashing {
    explicit Flashing(RomOptions options = {}) : rom(std::make_shared<RomBootloaderDevice>(options)), w(rom, kQuickReads) {}

    void Run(const std::string& image, bool eeprom) {
        w.Choose(folder.Write("image.bin", image));
        w.Get<QCheckBox>("EEPROM")->setChecked(eeprom);
        w.window.Start_Click();
    }

    std::shared_ptr<RomBootloaderDevice> rom;
    SimWindow w;
    FirmwareFolder folder;
};

const std::string kTwoBlocks = Image(kProgramOffset + kRecord + 100);  // records 160 and 161

}  // namespace

class FlashingTest : public QObject {
    Q_OBJECT

private slots:
    void framesBeforeTheImage_data();
    void framesBeforeTheImage();
    void memoryAfterARun_data();
    void memoryAfterARun();
    void synchronisation_data();
    void synchronisation();
    void refusedFrames_data();
    void refusedFrames();
    void refusedBeforeAnythingIsSent_data();
    void refusedBeforeAnythingIsSent();
    void refusedEraseWritesNothing_data();
    void refusedEraseWritesNothing();
    void fileEndingOnARecordBoundaryWritesOneMore();
    void cancelledSynchronisationErasesNothing();
};

void FlashingTest::framesBeforeTheImage_data() {
    QTest::addColumn<bool>("eeprom");
    QTest::addColumn<QByteArray>("erase");
    QTest::newRow("EEPROM clear") << false << QByteArray("\x7F\x43\xBC\xFF\x00", 5);
    QTest::newRow("EEPROM set") << true << QByteArray("\x7F\x43\xBC\xFF\x00\x43\xBC\xEE\x11", 9);
}

void FlashingTest::framesBeforeTheImage() {
    QFETCH(bool, eeprom);
    QFETCH(QByteArray, erase);
    Flashing f;
    f.Run(kTwoBlocks, eeprom);

    // The erase, then for each option byte: Write Memory, its address, its value.
    const ByteString expected = erase.toStdString() +
        Bytes({0x31, 0xCE, 0x00, 0x00, 0x48, 0x03, 0x4B, 0x00, 0x12, 0x12,
             0x31, 0xCE, 0x00, 0x00, 0x48, 0x05, 0x4D, 0x00, 0x34, 0x34,
             0x31, 0xCE, 0x00, 0x00, 0x48, 0x07, 0x4F, 0x00, 0x56, 0x56,
             0x31, 0xCE, 0x00, 0x00, 0x48, 0x09, 0x41, 0x00, 0x78, 0x78});
    QCOMPARE(f.w.device.Received().substr(0, expected.size()), expected);
    QCOMPARE(f.rom->Memory(0x4803, 7), Bytes({0x12, 0x00, 0x34, 0x00, 0x56, 0x00, 0x78}));
    QCOMPARE(f.rom->EepromErases(), eeprom ? 1 : 0);
}

void FlashingTest::memoryAfterARun_data() {
    QTest::addColumn<bool>("eeprom");
    QTest::addColumn<QString>("log");
    QTest::newRow("EEPROM clear") << false << "Running !  Ok!     Block 1    Block 2    -----Succefull------";
    QString withEeprom = "Running !  Ok!     ";
    for (int n = -159; n <= -152; ++n) withEeprom += QString("Block %1    ").arg(n);
    QTest::newRow("EEPROM set") << true << withEeprom + "Block 1    Block 2    -----Succefull------";
}

void FlashingTest::memoryAfterARun() {
    QFETCH(bool, eeprom);
    QFETCH(QString, log);
    Flashing f;
    f.Run(kTwoBlocks, eeprom);

    QCOMPARE(QString::fromStdString(f.w.Text("txtRec")), log);
    QVERIFY(f.w.dialogs.messages.empty());
    // The EEPROM area holds records 0 to 7 only when EEPROM was chosen;
    // otherwise the global erase has left it empty.
    const std::string eepromArea = eeprom ? kTwoBlocks.substr(kHeader, 8 * kRecord) : std::string(8 * kRecord, '\0');
    QCOMPARE(f.rom->Memory(0x4000, 8 * kRecord), eepromArea);
    // The program area from 0x9000: record 160, then the last 100 bytes padded with 0xFF.
    QCOMPARE(f.rom->Memory(0x9000, 2 * kRecord), kTwoBlocks.substr(kProgramOffset) + std::string(28, '\xFF'));
    QCOMPARE(f.rom->Memory(0x9100, 1), ByteString(1, '\0'));  // erased, not written
    QVERIFY(f.rom->GoReceived());
}

void FlashingTest::synchronisation_data() {
    QTest::addColumn<int>("attempt");
    QTest::addColumn<QByteArray>("early");
    QTest::addColumn<QByteArray>("wake");
    QTest::newRow("late") << 2 << QByteArray() << QByteArray("\x79", 1);
    QTest::newRow("0x00 0x79 does not wake") << 2 << QByteArray("\x00\x79", 2) << QByteArray("\x79", 1);
    QTest::newRow("0x79 0x00 wakes") << 1 << QByteArray() << QByteArray("\x79\x00", 2);
}

void FlashingTest::synchronisation() {
    QFETCH(int, attempt);
    QFETCH(QByteArray, early);
    QFETCH(QByteArray, wake);
    RomOptions options;
    options.syncAttempt = attempt;
    options.earlyReply = early.toStdString();
    options.syncReply = wake.toStdString();
    Flashing f(options);
    f.Run(Image(kProgramOffset + 10), false);  // record 160 only: a short run

    QCOMPARE(f.rom->SyncAttempts(), attempt);
    QCOMPARE(f.w.device.Received().substr(0, static_cast<std::size_t>(attempt) + 2),
             ByteString(static_cast<std::size_t>(attempt), '\x7F') + Bytes({0x43, 0xBC}));
    QVERIFY(f.rom->GoReceived());
    QVERIFY(f.w.Text("txtRec").ends_with("-----Succefull------"));
}

void FlashingTest::refusedFrames_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("data");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logEnd");
    QTest::addColumn<bool>("firstWritten");
    QTest::addColumn<bool>("nextWritten");
    // The first four of each frame kind carry the option bytes; the fifth is record 160's.
    QTest::newRow("Write Memory command") << 5 << 0 << 0 << " 31 0,part error"
                                          << "Block 1    Block 2    -----Succefull------" << true << true;
    QTest::newRow("address frame") << 0 << 5 << 0 << "addr 0,part error"
                                   << "Block 1    Block 2    -----Succefull------" << true << true;
    QTest::newRow("data frame") << 0 << 0 << 5 << " data 0,part error" << "Ok!     -----Failed------" << false << false;
}

void FlashingTest::refusedFrames() {
    QFETCH(int, command);
    QFETCH(int, address);
    QFETCH(int, data);
    QFETCH(QString, message);
    QFETCH(QString, logEnd);
    QFETCH(bool, firstWritten);
    QFETCH(bool, nextWritten);
    RomOptions options;
    options.refuseWriteCommand = command;
    options.refuseAddressFrame = address;
    options.refuseDataFrame = data;
    Flashing f(options);
    f.Run(kTwoBlocks, false);

    QCOMPARE(Join(f.w.dialogs.MessageTexts()), Join({message.toStdString()}));
    QVERIFY2(f.w.Text("txtRec").ends_with(logEnd.toStdString()), f.w.Text("txtRec").c_str());
    const ByteString erased(kRecord, '\0');
    QCOMPARE(f.rom->Memory(0x9000, kRecord) != erased, firstWritten);
    QCOMPARE(f.rom->Memory(0x9080, kRecord) != erased, nextWritten);
    QVERIFY(f.rom->GoReceived());  // Go is sent whatever happened
}

void FlashingTest::refusedBeforeAnythingIsSent_data() {
    QTest::addColumn<int>("kind");  // 0 no file, 1 missing file, 2 image
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<bool>("eeprom");
    QTest::addColumn<QString>("message");
    QTest::newRow("no file chosen") << 0 << QByteArray() << false << "Please choose File";
    QTest::newRow("file gone") << 1 << QByteArray() << false << "Cannot open firmware file %1: No such file or directory";
    const std::string noMarker = Image(kProgramOffset + kRecord, {}, 0x00);
    QTest::newRow("marker missing") << 2 << QByteArray::fromStdString(noMarker) << true << " File corrupt ";
    const std::string edge = Image(kProgramOffset);
    QTest::newRow("ends where the program area starts") << 2 << QByteArray::fromStdString(edge) << true
                                                        << " File corrupt ";
    QTest::newRow("nothing to write") << 2 << QByteArray::fromStdString(Image(kHeader + 10 * kRecord)) << false
                                      << " File corrupt ";
    // The option bytes come from the header, the EEPROM area is 8 records:
    // padding must never stand in for either.
    QTest::newRow("header cut short") << 2 << QByteArray::fromStdString(Image(10)) << true << " File corrupt ";
    QTest::newRow("EEPROM area cut short") << 2 << QByteArray::fromStdString(Image(kHeader + 3 * kRecord + 5))
                                           << true << " File corrupt ";
}

void FlashingTest::refusedBeforeAnythingIsSent() {
    QFETCH(int, kind);
    QFETCH(QByteArray, image);
    QFETCH(bool, eeprom);
    QFETCH(QString, message);
    Flashing f;
    std::string path;
    if (kind == 1) {
        path = f.folder.Write("gone.bin", "x");
        f.w.Choose(path);
        std::filesystem::remove(path);
    } else if (kind == 2) {
        f.w.Choose(f.folder.Write("image.bin", image.toStdString()));
    }
    f.w.Get<QCheckBox>("EEPROM")->setChecked(eeprom);
    f.w.window.Start_Click();

    if (kind == 1) message = message.arg(QString::fromStdString(path));
    QCOMPARE(Join(f.w.dialogs.MessageTexts()), Join({message.toStdString()}));
    QCOMPARE(f.w.Text("txtRec"), std::string("Running !  "));
    QTest::qWait(50);
    QVERIFY(f.w.device.Received().empty());
    QCOMPARE(f.rom->GlobalErases(), 0);
    QCOMPARE(f.rom->Memory(0x9000, 4), ByteString(4, static_cast<char>(RomBootloaderDevice::kFactoryByte)));
}

void FlashingTest::refusedEraseWritesNothing_data() {
    QTest::addColumn<bool>("command");
    QTest::addColumn<bool>("eeprom");
    QTest::newRow("Erase Memory command") << true << false;
    QTest::newRow("erase parameter") << false << false;
    QTest::newRow("erase parameter, EEPROM set") << false << true;
}

// A device that keeps its old memory must not get option bytes or records
// written over it, and the run must not end as a success.
void FlashingTest::refusedEraseWritesNothing() {
    QFETCH(bool, command);
    QFETCH(bool, eeprom);
    RomOptions options;
    options.refuseEraseCommand = command;
    options.refuseEraseParameter = !command;
    Flashing f(options);
    f.Run(kTwoBlocks, eeprom);

    QCOMPARE(Join(f.w.dialogs.MessageTexts()),
             Join({"Erase error: the microcontroller did not acknowledge the erase; nothing was written"}));
    QCOMPARE(f.w.Text("txtRec"), std::string("Running !  -----Failed------"));
    for (const auto& frame : f.rom->Log()) {
        QVERIFY(frame.kind != veltra::sim::RomFrame::Kind::Address && frame.kind != veltra::sim::RomFrame::Kind::Data);
    }
    QCOMPARE(f.rom->Memory(0x4803, 1), ByteString(1, static_cast<char>(RomBootloaderDevice::kFactoryByte)));
    QCOMPARE(f.rom->Memory(0x9000, 4), ByteString(4, static_cast<char>(RomBootloaderDevice::kFactoryByte)));
    QVERIFY(f.rom->GoReceived());  // Go is sent whatever happened
}

// 64 + 128 x 162 bytes: the pass after the last full record finds nothing and,
// being record 162's, writes a record of 0xFF at 0x9100.
void FlashingTest::fileEndingOnARecordBoundaryWritesOneMore() {
    Flashing f;
    const std::string image = Image(kHeader + kRecord * 162);
    f.Run(image, false);

    QCOMPARE(f.w.Text("txtRec"),
             std::string("Running !  Ok!     Block 1    Block 2    Block 3    -----Succefull------"));
    QCOMPARE(f.rom->Memory(0x9000, 2 * kRecord), image.substr(kProgramOffset));
    QCOMPARE(f.rom->Memory(0x9100, kRecord), ByteString(kRecord, '\xFF'));
}

void FlashingTest::cancelledSynchronisationErasesNothing() {
    RomOptions options;
    options.syncAttempt = 1000000;  // never answers
    Flashing f(options);
    f.w.window.SetWakePatience(100ms);
    f.Run(kTwoBlocks, true);

    QCOMPARE(f.w.dialogs.retryQuestions.size(), std::size_t{1});
    QCOMPARE(f.w.Text("txtRec"), std::string("Running !  No connection"));
    QCOMPARE(f.rom->GlobalErases(), 0);
    const ByteString received = f.w.device.Received();
    QCOMPARE(received, ByteString(received.size(), '\x7F'));
}

QTEST_MAIN(FlashingTest)
#include "flashing_test.moc"
