// The scrambled copy of the firmware file, started from the window: the option
// boxes it reads and what it leaves on disk.
#include <QLineEdit>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "firmware/ScrambleKey.h"
#include "window/support/PortWindow.h"
#include "window/support/TestLine.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

class CryptTest : public QObject {
    Q_OBJECT

private slots:
    void optionBoxesReachTheHeader();
    void badOptionWritesNothing();
};

void CryptTest::optionBoxesReachTheHeader() {
    TestLine line;
    PortWindow w(line.DevicePath());
    FirmwareFolder folder;
    w.Choose(folder.Write("dev.bin", Pattern(100)));
    w.Get<QLineEdit>("ob1")->setText("1");
    w.Get<QLineEdit>("ob2")->setText(" 2 ");
    w.Get<QLineEdit>("ob3")->setText("3");
    w.Get<QLineEdit>("ob4")->setText("4");
    w.window.crypt_Click();

    QVERIFY(w.dialogs.messages.empty());
    const std::string out = ReadAll(folder.Path() + "/dev.cri");
    QCOMPARE(out.size(), std::size_t{192});
    const auto k = veltra::ScrambleKey()[0];
    // ob1, ob4, ob2, ob3 at offsets 19 to 22, each combined with key byte 0.
    for (auto [offset, value] : {std::pair{19, 1}, {20, 4}, {21, 2}, {22, 3}}) {
        QCOMPARE(static_cast<std::uint8_t>(out[static_cast<std::size_t>(offset)]), static_cast<std::uint8_t>(value ^ k));
    }
}

void CryptTest::badOptionWritesNothing() {
    TestLine line;
    PortWindow w(line.DevicePath());
    FirmwareFolder folder;
    w.Choose(folder.Write("dev.bin", Pattern(100)));
    w.Get<QLineEdit>("ob3")->setText("256");
    w.window.crypt_Click();

    QCOMPARE(w.dialogs.messages.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(w.dialogs.messages[0].text), QStringLiteral("HSE Option must be a whole number from 0 to 255, not \"256\""));
    QVERIFY(!std::filesystem::exists(folder.Path() + "/dev.cri"));
}

QTEST_MAIN(CryptTest)
#include "crypt_test.moc"
