// Choosing a port in the window: the COM names, then the serial adapters of
// the machine (a fake device tree here), read again each time the list drops
// down; an adapter opens like a COM name, and a port that cannot be had says
// why on the warning box's second line.
#include <QComboBox>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/EventWiring.h"
#include "console/frmSerial.h"
#include "sim/LoaderDevice.h"
#include "sim/SimDevice.h"
#include "support/FakeDeviceTree.h"
#include "support/Holders.h"
#include "window/support/RecordingDialogs.h"

namespace {

namespace fs = std::filesystem;

const std::string kFirstLine = " недоступен. Установите нужный порт.";

// The window over a fake device tree with a private lock folder.
struct PortWindow {
    explicit PortWindow(const char* label) : tree(label) {
        window.SetDialogs(&dialogs);
        window.SetDeviceTree(tree.Tree());
        window.Port().SetOpenGuards({LockDir(), "/proc"});
        WireEvents(window);
        window.show();
    }

    std::string LockDir() const {
        const fs::path dir = tree.dev().parent_path() / "lock";
        fs::create_directories(dir);
        return dir.string();
    }

    QComboBox* Ports() { return window.findChild<QComboBox*>(QStringLiteral("CmbPort")); }
    QStringList Shown() {
        QStringList items;
        for (int i = 0; i < Ports()->count(); ++i) items << Ports()->itemText(i);
        return items;
    }
    // The operator opens the list: it is read again.
    void DropDown() {
        Ports()->showPopup();
        Ports()->hidePopup();
    }
    void Choose(const QString& name) {
        const int index = Ports()->findData(name);
        QVERIFY2(index >= 0, qPrintable(name));
        Ports()->setCurrentIndex(index);
    }
    void Click(const char* button) {
        QTest::mouseClick(window.findChild<QWidget*>(QString::fromLatin1(button)), Qt::LeftButton);
    }

    veltra::testing::FakeDeviceTree tree;
    frmSerial window;
    RecordingDialogs dialogs;
};

const QStringList kComNames = {"COM1:", "COM2:", "COM3:", "COM4:", "COM5:", "COM6:", "COM7:", "COM8:", "COM9:"};

}  // namespace

class PortChoiceTest : public QObject {
    Q_OBJECT

private slots:
    void adaptersFollowTheComNamesAndComeAndGo();
    void adapterOpensLikeAComName();
    void unavailablePortSaysWhy_data();
    void unavailablePortSaysWhy();
};

void PortChoiceTest::adaptersFollowTheComNamesAndComeAndGo() {
    PortWindow w("come-and-go");
    w.tree.AcmAdapter("ttyACM0", "1-1", "Meter Link", "0042");
    w.DropDown();
    QCOMPARE(w.Shown(), kComNames + QStringList{"ttyACM0  Meter Link (0042)"});
    w.Choose(QStringLiteral("ttyACM0"));

    // Another adapter plugged in after start: it appears, the choice stays.
    w.tree.Tty("ttyUSB0", w.tree.Device("pci0000:00/usb1/1-2/1-2:1.0/ttyUSB0", "ftdi_sio"));
    veltra::testing::FakeDeviceTree::Write(w.tree.dev() / "ttyUSB0", "");
    w.DropDown();
    QCOMPARE(w.Shown(), kComNames + (QStringList{"ttyACM0  Meter Link (0042)", "ttyUSB0"}));
    QCOMPARE(w.Ports()->currentData().toString(), QStringLiteral("ttyACM0"));

    // The chosen adapter unplugged: the list goes back to its first entry.
    fs::remove(w.tree.dev() / "ttyACM0");
    w.DropDown();
    QCOMPARE(w.Shown(), kComNames + QStringList{"ttyUSB0"});
    QCOMPARE(w.Ports()->currentIndex(), 0);
}

void PortChoiceTest::adapterOpensLikeAComName() {
    auto loader = std::make_shared<veltra::sim::LoaderDevice>();
    veltra::sim::SimDevice device(loader);
    PortWindow w("opens");
    w.tree.AcmAdapter("ttyACM0", "1-1", "Meter Link", "0042", device.Path());
    w.DropDown();
    w.Choose(QStringLiteral("ttyACM0"));
    w.Click("BTNOpenCom");

    QCOMPARE(Join(w.dialogs.MessageTexts()), std::string());
    QVERIFY(w.window.Port().IsOpen());
    QVERIFY(!w.window.findChild<QWidget*>(QStringLiteral("BTNOpenCom"))->isEnabled());
    QVERIFY(fs::exists(fs::path(w.LockDir()) / "LCK..ttyACM0"));
    w.Click("BTNCloseCom");
    QVERIFY(!fs::exists(fs::path(w.LockDir()) / "LCK..ttyACM0"));
}

void PortChoiceTest::unavailablePortSaysWhy_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("kind");  // 0 missing, 1 not a serial device, 2 locked by a live program
    QTest::newRow("missing COM port") << "COM9:" << 0;
    QTest::newRow("not a serial device") << "ttyACM0" << 1;
    QTest::newRow("locked by another program") << "ttyACM0" << 2;
}

void PortChoiceTest::unavailablePortSaysWhy() {
    QFETCH(QString, port);
    QFETCH(int, kind);
    auto loader = std::make_shared<veltra::sim::LoaderDevice>();
    veltra::sim::SimDevice device(loader);
    veltra::testing::Holders holders;
    PortWindow w("why");
    const std::string lockFile = w.LockDir() + "/LCK..ttyACM0";
    std::string reason;
    if (kind == 0) {
        reason = "No such device: " + w.tree.Node("ttyS8") + " is not there (is the adapter plugged in?).";
    } else if (kind == 1) {
        w.tree.AcmAdapter("ttyACM0", "1-1", "Meter Link", "0042", "/dev/null");
        reason = w.tree.Node("ttyACM0") + " is not a serial device.";
    } else {
        w.tree.AcmAdapter("ttyACM0", "1-1", "Meter Link", "0042", device.Path());
        const int holder = holders.Start();
        QVERIFY2(holder > 0, holders.Problem().c_str());
        std::ofstream(lockFile) << "      " << holder << "\n";
        reason = std::string("In use by ") + veltra::testing::kHolderName + " (pid " + std::to_string(holder) +
                 "). It holds the lock file " + lockFile + ".";
    }
    w.DropDown();
    w.Choose(port);
    w.Click("BTNOpenCom");

    const std::string name = port.toStdString();
    QCOMPARE(Join(w.dialogs.MessageTexts()), Join({"Com Port " + name + kFirstLine + "\n" + reason,
                                                   name + " Not available!"}));
    QCOMPARE(w.dialogs.messages[0].icon, veltra::MessageIcon::Warning);
    QVERIFY(!w.window.Port().IsOpen());
}

QTEST_MAIN(PortChoiceTest)
#include "port_choice_test.moc"
