// RUN and the hidden Start through the window over the Windows port. The
// window opens COM1, at whose far end scripts/wine-peer.sh has started the
// simulated device with the personality a test function needs, so each
// ctest test runs one function: the functions below name their device.
#include <QCheckBox>
#include <QProgressBar>
#include <QtTest>

#include <string>

#include "window/support/PortWindow.h"
#include "window/support/RomImage.h"
#include "window/support/TestLine.h"

class Com1RunTest : public QObject {
    Q_OBJECT

private slots:
    void downloadIsAccepted();      // the device's loader
    void refusedBlockEndsTheRun();  // the loader, refusing block 3
    void romRunWritesTheImage();    // the ROM bootloader
};

// 5000 bytes: 78 blocks of 64 and a closing block of 8, padded; every block
// acknowledged only when its check byte holds.
void Com1RunTest::downloadIsAccepted() {
    TestLine line;
    PortWindow w(line.DevicePath());
    QVERIFY2(w.window.Port().IsOpen(), Join(w.dialogs.MessageTexts()).c_str());
    FirmwareFolder folder;
    w.Choose(folder.Write("dev.bin", Pattern(5000, 7)));
    w.Click("go");

    QCOMPARE(QString::fromStdString(w.Text("l221")), QStringLiteral("Successful - 5056 Bytes"));
    auto* bar = w.Get<QProgressBar>("ProgressBar1");
    QCOMPARE(bar->maximum(), 5000);
    QCOMPARE(bar->value(), 5000);
    QVERIFY2(w.dialogs.messages.empty(), Join(w.dialogs.MessageTexts()).c_str());
}

void Com1RunTest::refusedBlockEndsTheRun() {
    TestLine line;
    PortWindow w(line.DevicePath());
    FirmwareFolder folder;
    w.Choose(folder.Write("dev.bin", Pattern(300)));
    w.Click("go");

    QCOMPARE(QString::fromStdString(Join(w.dialogs.MessageTexts())),
             QString::fromStdString(Join({"Ошибка 1F !!!!", " data 3,part error"})));
    QCOMPARE(QString::fromStdString(w.Text("l221")), QStringLiteral("Failed - 128 Bytes"));
    QCOMPARE(w.Get<QProgressBar>("ProgressBar1")->value(), 128);
}

// Records 160 and 161 of an image with its header, EEPROM left alone.
void Com1RunTest::romRunWritesTheImage() {
    TestLine line;
    PortWindow w(line.DevicePath(), kQuickReads);
    FirmwareFolder folder;
    w.Choose(folder.Write("image.bin", Image(kProgramOffset + kRecord + 100)));
    w.Get<QCheckBox>("EEPROM")->setChecked(false);
    w.window.Start_Click();

    QCOMPARE(QString::fromStdString(w.Text("txtRec")),
             QStringLiteral("Running !  Ok!     Block 1    Block 2    -----Succefull------"));
    QVERIFY2(w.dialogs.messages.empty(), Join(w.dialogs.MessageTexts()).c_str());
}

QTEST_MAIN(Com1RunTest)
#include "com1_run_test.moc"
