// The main window: its controls at start-up, the open and close of the port
// through real clicks, and the switching of control groups.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/EventWiring.h"
#include "console/CircleShape.h"
#include "console/DialogSeam.h"
#include "console/QtDialogs.h"
#include "console/frmSerial.h"
#include "window/support/RecordingDialogs.h"
#include "window/support/TestLine.h"

Q_DECLARE_METATYPE(veltra::MessageIcon)

namespace {

// A shown window with its events wired, its dialogs recorded and its ports
// mapped: "COM1:" to a test line when one is given, every other name to a
// device that does not exist.
struct Fixture {
    explicit Fixture(const TestLine* line = nullptr) {
        window.SetDialogs(&dialogs);
        // No adapters: the list is the nine COM names on any machine.
        window.SetDeviceTree({"/nonexistent/dev", "/nonexistent/sys"});
        window.Port().SetDeviceNameMap([line](const std::string& port) {
            return line != nullptr && port == "COM1:" ? line->DevicePath() : TestLine::MissingDevicePath(port);
        });
        WireEvents(window);
        window.show();
    }

    template <typename T = QWidget>
    T* Get(const char* name) {
        return window.findChild<T*>(QString::fromLatin1(name));
    }

    frmSerial window;
    RecordingDialogs dialogs;
};

bool OwnEnabled(const QWidget* control) { return !control->testAttribute(Qt::WA_ForceDisabled); }
bool OwnVisible(const QWidget* control) { return !control->isHidden(); }

QString TextOf(const QObject* control) {
    if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
    if (auto* frame = qobject_cast<const QGroupBox*>(control)) return frame->title();
    if (auto* line = qobject_cast<const QLineEdit*>(control)) return line->text();
    if (auto* box = qobject_cast<const QPlainTextEdit*>(control)) return box->toPlainText();
    if (auto* combo = qobject_cast<const QComboBox*>(control)) return combo->currentText();
    return {};
}

QStringList ItemsOf(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

QRect InWindow(const QWidget* control, const QWidget* window) {
    return QRect(control->mapTo(window, QPoint(0, 0)), control->size());
}

// The controls the operator sees, in the order of the working area.
const char* const kWorkingArea[] = {"Frame2",   "BTNOpenCom", "BTNCloseCom", "CmbPort",     "Command1",
                                    "go",       "filename",   "l221",        "ProgressBar1"};

// Answers the next modal box from inside its own event loop, so that no test
// ever waits on a person; stops looking after a generous bound.
class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(std::function<void(QWidget*)> answer) : answer_(std::move(answer)) {
        connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start(10);
    }
    bool answered = false;

private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (modal == nullptr && top->isVisible() && qobject_cast<QDialog*>(top) != nullptr) modal = top;
        }
        if (modal != nullptr) {
            timer_.stop();
            answered = true;
            answer_(modal);
            return;
        }
        if (++ticks_ > 1000) timer_.stop();
    }

    std::function<void(QWidget*)> answer_;
    QTimer timer_;
    int ticks_ = 0;
};

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void startUp();
    void controls_data();
    void controls();
    void workingAreaInView();
    void groupStatesThroughOpenCloseOpen();
    void failedOpenShowsBothBoxes();
    void successfulOpenWritesTrafficLog();
    void closeResetsReadOuts_data();
    void closeResetsReadOuts();
    void groupBoundaries_data();
    void groupBoundaries();
    void operatorWritesReachControls();
    void operatorReadsHiddenInputs_data();
    void operatorReadsHiddenInputs();
    void operatorQuestionsGoThroughDialogs();
    void qtMessageBoxes_data();
    void qtMessageBoxes();
    void qtRetryCancel_data();
    void qtRetryCancel();
};

void WindowTest::startUp() {
    Fixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));

    QCOMPARE(f.window.windowTitle(), QStringLiteral("Boot Loader Veltra"));
    QCOMPARE(f.window.size(), QSize(237, 254));
    QCOMPARE(f.window.minimumSize(), QSize(237, 254));
    QCOMPARE(f.window.maximumSize(), QSize(237, 254));
    const Qt::WindowFlags flags = f.window.windowFlags();
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    const QList<QSize> iconSizes = f.window.windowIcon().availableSizes();
    QVERIFY(iconSizes.contains(QSize(32, 32)));
    QVERIFY(iconSizes.contains(QSize(16, 16)));

    auto* ports = f.Get<QComboBox>("CmbPort");
    QCOMPARE(ItemsOf(ports), (QStringList{"COM1:", "COM2:", "COM3:", "COM4:", "COM5:", "COM6:", "COM7:", "COM8:",
                                          "COM9:"}));
    QCOMPARE(ports->currentIndex(), 0);
    QCOMPARE(ports->currentText(), QStringLiteral("COM1:"));
    QVERIFY(!ports->isEditable());
    auto* net = f.Get<QComboBox>("CmbNet");
    QCOMPARE(ItemsOf(net), QStringList{"0"});
    QCOMPARE(net->currentIndex(), 0);

    auto* bar = f.Get<QProgressBar>("ProgressBar1");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(f.Get<CircleShape>("Pic")->FillColor(), QColor(Qt::yellow));
    QCOMPARE(f.Get<QCheckBox>("EEPROM")->checkState(), Qt::Unchecked);
    QVERIFY(f.Get<QRadioButton>("R485")->isChecked());
    QVERIFY(!f.Get<QRadioButton>("R_a")->isChecked());
    QCOMPARE(f.Get<QPlainTextEdit>("txtRec")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    // The file dialog stands in the window with its group but is no widget.
    QObject* dialog = f.window.findChild<QObject*>(QStringLiteral("CommonDialog"));
    QVERIFY(dialog != nullptr);
    QVERIFY(!dialog->isWidgetType());
    QCOMPARE(dialog->property("Tag").toString(), QStringLiteral("3"));

    QVERIFY(f.dialogs.messages.empty());
}

void WindowTest::controls_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<bool>("bold");

    struct Row {
        const char* name;
        const char* kind;
        const char* container;  // "" for the window
        const char* text;
        bool enabled;
        bool visible;
        const char* tag;
        bool bold;
    };
    const Row rows[] = {
        // The working area.
        {"Frame2", "QGroupBox", "", "Comm's", true, true, "2", false},
        {"BTNOpenCom", "QPushButton", "Frame2", "Open COM port", true, true, "2", false},
        {"BTNCloseCom", "QPushButton", "Frame2", "Close COM port", false, true, "9", false},
        {"CmbPort", "QComboBox", "", "COM1:", true, true, "7", false},
        {"Command1", "QPushButton", "", "Open File", false, true, "9", false},
        {"go", "QPushButton", "", "RUN", false, true, "9", false},
        {"filename", "QLabel", "", "No Fille for downloading", false, true, "9", true},
        {"l221", "QLabel", "", "", false, true, "9", true},
        {"ProgressBar1", "QProgressBar", "", "", true, true, "9", false},
        // Service controls the code uses.
        {"Frame1", "QGroupBox", "", "Состояние", true, true, "9", false},
        {"txtRec", "QPlainTextEdit", "Frame1", "", true, false, "9", false},
        {"T22", "QLineEdit", "", "", true, false, "", false},
        {"ob1", "QLineEdit", "", "0", true, false, "", false},
        {"ob2", "QLineEdit", "", " 0", true, false, "", false},
        {"ob3", "QLineEdit", "", "0", true, false, "", false},
        {"ob4", "QLineEdit", "", "0", true, false, "", false},
        {"Label7", "QLabel", "", "Alt Func", true, false, "", false},
        {"Label8", "QLabel", "", "Clock Option", true, false, "", false},
        {"Label9", "QLabel", "", "HSE Option", true, false, "", false},
        {"Label10", "QLabel", "", "WD+LSI", true, false, "", false},
        {"EEPROM", "QCheckBox", "", "Check1", true, false, "", false},
        {"Label6", "QLabel", "", "Program EEPROM", true, false, "", false},
        {"Start", "QPushButton", "", "Start", false, false, "9", false},
        {"pos1", "QPushButton", "", "посылка", true, false, "", false},
        {"crypt", "QPushButton", "", "Crypt", true, false, "", false},
        {"CmbNet", "QComboBox", "", "0", false, false, "9", false},
        {"sn", "QLabel", "", "0", false, false, "9", false},
        {"vv", "QLabel", "", "--------------------", false, false, "9", false},
        {"MsgCom", "QLabel", "", "", false, false, "9", false},
        {"netdev", "QLabel", "", "Устройства не определены", false, false, "9", false},
        {"Pic", "CircleShape", "", "", true, false, "2", false},
        {"Frame4", "QGroupBox", "", "Установки", false, false, "9", false},
        {"lo", "QLabel", "Frame4", "нет данных", false, true, "9", false},
        {"hi", "QLabel", "Frame4", "нет данных", false, true, "9", false},
        {"ne", "QLabel", "Frame4", "нет данных", false, true, "9", false},
        {"Frame5", "QGroupBox", "", "Текущие параметры", false, false, "9", false},
        {"uroven", "QLabel", "Frame5", "нет данных", false, true, "9", true},
        {"temp", "QLabel", "Frame5", "нет данных", false, true, "9", true},
        {"tek", "QLabel", "Frame5", "нет данных", false, true, "9", true},
        // Service controls without a function.
        {"l", "QLabel", "Frame4", "Пустой", false, true, "9", false},
        {"h", "QLabel", "Frame4", "Полный", false, true, "9", false},
        {"n", "QLabel", "Frame4", "Сетевой адрес", false, true, "9", false},
        {"k", "QLabel", "Frame4", "K", true, true, "", false},
        {"ko", "QLabel", "Frame4", "0", false, true, "9", false},
        {"ur", "QLabel", "Frame5", "Уровень", false, true, "9", false},
        {"te", "QLabel", "Frame5", "Темп-ра", false, true, "9", false},
        {"tek_l", "QLabel", "Frame5", "Текущий", false, true, "9", false},
        {"modes", "QGroupBox", "", "Режимы", false, true, "9", false},
        {"R485", "QRadioButton", "modes", "Option1", false, true, "9", false},
        {"R_a", "QRadioButton", "modes", "Option2", false, true, "130", false},
        {"R_f", "QRadioButton", "modes", "Option3", false, true, "130", false},
        {"R_p", "QRadioButton", "modes", "Option1", false, true, "131", false},
        {"R_p485", "QRadioButton", "modes", "Option1", false, true, "134", false},
        {"R_485", "QLabel", "modes", "Режим RS-485", false, true, "9", false},
        {"R_analog", "QLabel", "modes", "Аналоговый Режим", false, true, "130", false},
        {"R_fr", "QLabel", "modes", "Частотный режим", false, true, "130", false},
        {"Label1", "QLabel", "modes", "Периодический", false, true, "131", false},
        {"Label2", "QLabel", "modes", "Периодический RS485", false, true, "", false},
        {"iinv", "QCheckBox", "modes", "Check1", false, true, "9", false},
        {"usredn", "QCheckBox", "modes", "Check1", false, true, "9", false},
        {"invers", "QLabel", "modes", "Инверсия индикатора", false, true, "9", false},
        {"usred", "QLabel", "modes", "Сглаживание", false, true, "9", false},
        {"Set_mode", "QPushButton", "modes", "&Установить", false, true, "9", false},
        {"Frame3", "QGroupBox", "", "Команды", false, true, "9", false},
        {"low", "QPushButton", "Frame3", "Уст&ановить  Пустой", false, true, "9", false},
        {"hig", "QPushButton", "Frame3", "Установить Полны&й", false, true, "9", false},
        {"net", "QPushButton", "Frame3", "Изменить &сетевой адрес", false, true, "9", false},
        {"Opros", "QPushButton", "", "&Опрос датчиков", false, true, "9", false},
        {"InstSN", "QPushButton", "", "Уст_Сер_Но&м", false, true, "9", false},
        {"Label3", "QLabel", "", "Устройства в сети:", false, true, "9", false},
        {"Label4", "QLabel", "", "Сетевой Адрес", false, true, "9", false},
        {"Label5", "QLabel", "", "Сер. Номер", false, true, "9", false},
        {"ver2", "QLabel", "", "Версия ПО", false, true, "9", false},
    };
    for (const Row& row : rows) {
        QTest::newRow(row.name) << QString::fromLatin1(row.kind) << QString::fromLatin1(row.container)
                                << QString::fromUtf8(row.text) << row.enabled << row.visible
                                << QString::fromLatin1(row.tag) << row.bold;
    }
}

void WindowTest::controls() {
    QFETCH(QString, kind);
    QFETCH(QString, container);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(bool, visible);
    QFETCH(QString, tag);
    QFETCH(bool, bold);

    Fixture f;
    QWidget* control = f.window.findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control != nullptr);
    QVERIFY2(control->inherits(kind.toLatin1().constData()), control->metaObject()->className());
    QCOMPARE(control->parentWidget()->objectName(), container.isEmpty() ? QStringLiteral("frmSerial") : container);
    QCOMPARE(TextOf(control), text);
    QCOMPARE(OwnEnabled(control), enabled);
    QCOMPARE(OwnVisible(control), visible);
    QCOMPARE(control->property("Tag").toString(), tag);
    QCOMPARE(control->font().bold(), bold);
}

void WindowTest::workingAreaInView() {
    Fixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));
    const QRect client(QPoint(0, 0), f.window.size());

    QStringList working;
    for (const char* name : kWorkingArea) working << QString::fromLatin1(name);
    for (const QString& name : working) {
        QWidget* control = f.window.findChild<QWidget*>(name);
        QVERIFY2(control->isVisible(), qPrintable(name));
        QVERIFY2(client.contains(InWindow(control, &f.window)), qPrintable(name));
    }
    // Nothing else may come into view: every other control is hidden or clipped away.
    for (QWidget* control : f.window.findChildren<QWidget*>()) {
        if (!control->property("Tag").isValid() || working.contains(control->objectName())) continue;
        const bool seen = control->isVisible() && client.intersects(InWindow(control, &f.window));
        QVERIFY2(!seen, qPrintable(control->objectName()));
    }

    // The controls inside the port frame do not cover each other, nor do the rest.
    const char* const apart[] = {"BTNOpenCom", "BTNCloseCom", "CmbPort", "Command1", "go", "filename", "l221",
                                 "ProgressBar1"};
    for (const char* a : apart) {
        for (const char* b : apart) {
            if (a == b) continue;
            const QRect ra = InWindow(f.Get(a), &f.window);
            const QRect rb = InWindow(f.Get(b), &f.window);
            QVERIFY2(!ra.intersects(rb), qPrintable(QStringLiteral("%1 / %2").arg(a, b)));
        }
    }
    QVERIFY(InWindow(f.Get("Frame2"), &f.window).contains(InWindow(f.Get("CmbPort"), &f.window)));

    // Every caption fits its control at start.
    for (const char* name : {"BTNOpenCom", "BTNCloseCom", "Command1", "go"}) {
        auto* button = f.Get<QPushButton>(name);
        QVERIFY2(button->sizeHint().width() <= button->width(), name);
        QVERIFY2(button->sizeHint().height() <= button->height(), name);
    }
    auto* file = f.Get<QLabel>("filename");
    QVERIFY(file->fontMetrics().horizontalAdvance(file->text()) <= file->contentsRect().width());
    auto* frame = f.Get<QGroupBox>("Frame2");
    QVERIFY(frame->fontMetrics().horizontalAdvance(frame->title()) < frame->width());
}

// The states of the port, file and download controls as the port opens,
// closes and opens again.
void WindowTest::groupStatesThroughOpenCloseOpen() {
    TestLine line;
    Fixture f(&line);
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));

    struct Expected {
        const char* name;
        bool atStart, afterOpen, afterClose, afterLaterOpen;
    };
    const Expected table[] = {
        {"BTNOpenCom", true, false, true, false},
        {"CmbPort", true, true, true, true},
        {"BTNCloseCom", false, true, false, true},
        {"Command1", false, true, false, true},
        {"go", false, true, false, true},
        {"filename", false, true, false, true},
        {"l221", false, true, false, true},
        {"ProgressBar1", true, false, false, true},
        // Hidden ones: the three group-9 controls that start enabled, a frame
        // with its contents, the groups that only ever get disabled, and
        // controls in no group.
        {"Frame1", true, false, false, true},
        {"txtRec", true, false, false, true},
        {"Frame4", false, true, false, true},
        {"lo", false, true, false, true},
        {"Start", false, true, false, true},
        {"R_a", false, false, false, false},
        {"R_p", false, false, false, false},
        {"R_p485", false, false, false, false},
        {"k", true, true, true, true},
        {"T22", true, true, true, true},
        {"Pic", true, true, true, true},
    };

    // Every grouped control's own flag at each stage.
    using Flags = QHash<QString, bool>;
    auto snapshot = [&f] {
        Flags flags;
        for (QWidget* control : f.window.findChildren<QWidget*>()) {
            if (control->property("Tag").isValid()) flags.insert(control->objectName(), OwnEnabled(control));
        }
        return flags;
    };
    std::vector<Flags> stages;
    stages.push_back(snapshot());
    QTest::mouseClick(f.Get("BTNOpenCom"), Qt::LeftButton);
    QVERIFY(f.window.Port().IsOpen());
    stages.push_back(snapshot());
    QTest::mouseClick(f.Get("BTNCloseCom"), Qt::LeftButton);
    QVERIFY(!f.window.Port().IsOpen());
    stages.push_back(snapshot());
    QTest::mouseClick(f.Get("BTNOpenCom"), Qt::LeftButton);
    QVERIFY(f.window.Port().IsOpen());
    stages.push_back(snapshot());
    QVERIFY(f.dialogs.messages.empty());

    const char* const stageNames[] = {"at start", "after the first open", "after a close", "after a later open"};
    for (const Expected& row : table) {
        const bool expected[] = {row.atStart, row.afterOpen, row.afterClose, row.afterLaterOpen};
        for (std::size_t s = 0; s < stages.size(); ++s) {
            QVERIFY2(stages[s].value(QString::fromLatin1(row.name)) == expected[s],
                     qPrintable(QStringLiteral("%1 %2").arg(row.name, stageNames[s])));
        }
    }

    // Every control of group 9 follows the same rule: the first open inverts
    // its design flag, a close disables it, a later open enables it.
    for (QWidget* control : f.window.findChildren<QWidget*>()) {
        if (control->property("Tag").toString() != QStringLiteral("9")) continue;
        const QString name = control->objectName();
        QVERIFY2(stages[1].value(name) == !stages[0].value(name), qPrintable(name));
        QVERIFY2(!stages[2].value(name), qPrintable(name));
        QVERIFY2(stages[3].value(name), qPrintable(name));
    }
}

void WindowTest::failedOpenShowsBothBoxes() {
    Fixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));
    f.Get<QComboBox>("CmbPort")->setCurrentIndex(8);

    QTest::mouseClick(f.Get("BTNOpenCom"), Qt::LeftButton);

    QCOMPARE(f.dialogs.messages.size(), std::size_t{2});
    // The fixed line, then what is wrong in plain words.
    QCOMPARE(QString::fromStdString(f.dialogs.messages[0].text),
             QStringLiteral("Com Port COM9: недоступен. Установите нужный порт.\n") +
                 QString::fromStdString(TestLine::MissingDeviceProblem(TestLine::MissingDevicePath("COM9:"))));
    QCOMPARE(f.dialogs.messages[0].icon, veltra::MessageIcon::Warning);
    QCOMPARE(f.dialogs.messages[0].caption, std::string());
    QCOMPARE(f.dialogs.messages[1].text, std::string("COM9: Not available!"));
    QCOMPARE(f.dialogs.messages[1].icon, veltra::MessageIcon::None);
    QCOMPARE(f.dialogs.messages[1].caption, std::string());

    // Nothing else changed: still closed, open button usable, working controls locked.
    QVERIFY(!f.window.Port().IsOpen());
    QVERIFY(f.Get("BTNOpenCom")->isEnabled());
    QVERIFY(!f.Get("BTNCloseCom")->isEnabled());
    QVERIFY(!f.Get("Command1")->isEnabled());
    QVERIFY(f.Get("ProgressBar1")->isEnabled());
    QCOMPARE(f.Get<QPlainTextEdit>("txtRec")->toPlainText(), QString());
}

void WindowTest::successfulOpenWritesTrafficLog() {
    TestLine line;
    Fixture f(&line);
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));
    auto* log = f.Get<QPlainTextEdit>("txtRec");
    log->setPlainText(QStringLiteral("left from before"));
    QStringList writes;
    connect(log, &QPlainTextEdit::textChanged, this, [&] { writes << log->toPlainText(); });

    QTest::mouseClick(f.Get("BTNOpenCom"), Qt::LeftButton);

    QVERIFY(f.dialogs.messages.empty());
    QVERIFY(f.window.Port().IsOpen());
    QCOMPARE(writes, (QStringList{"", "Start!  ", "Start!  Ok!     "}));
    QCOMPARE(log->toPlainText(), QStringLiteral("Start!  Ok!     "));
    QCOMPARE(log->toPlainText().size(), 16);
    QVERIFY(!f.Get("BTNOpenCom")->isEnabled());
    QVERIFY(f.Get("BTNCloseCom")->isEnabled());
}

void WindowTest::closeResetsReadOuts_data() {
    QTest::addColumn<bool>("openFirst");
    QTest::newRow("after an open") << true;
    QTest::newRow("with no port open") << false;
}

void WindowTest::closeResetsReadOuts() {
    QFETCH(bool, openFirst);
    TestLine line;
    Fixture f(&line);
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));
    if (openFirst) {
        QTest::mouseClick(f.Get("BTNOpenCom"), Qt::LeftButton);
        QVERIFY(f.window.Port().IsOpen());
    }

    // Give every read-out something else to show first.
    for (const char* name : {"sn", "vv", "tek", "temp", "uroven", "lo", "hi", "ne", "MsgCom", "netdev"}) {
        f.Get<QLabel>(name)->setText(QStringLiteral("stale"));
    }
    static_cast<veltra::Operator&>(f.window).SetProgressValue(50);
    QCOMPARE(f.Get<QProgressBar>("ProgressBar1")->value(), 50);
    f.Get<CircleShape>("Pic")->SetFillColor(Qt::red);
    auto* net = f.Get<QComboBox>("CmbNet");
    net->addItems({"5", "17"});
    net->setCurrentIndex(2);

    if (openFirst) {
        QTest::mouseClick(f.Get("BTNCloseCom"), Qt::LeftButton);
    } else {
        f.window.BTNCloseCom_Click();  // the button is disabled while closed
    }

    QVERIFY(f.dialogs.messages.empty());
    QVERIFY(!f.window.Port().IsOpen());
    QVERIFY(f.Get("BTNOpenCom")->isEnabled());
    const struct {
        const char* name;
        const char* text;
    } expected[] = {
        {"sn", "0"},
        {"vv", "--------"},
        {"tek", "Нет данных"},
        {"temp", "Нет данных"},
        {"uroven", "Нет данных"},
        {"lo", "Нет данных"},
        {"hi", "Нет данных"},
        {"ne", "Нет данных"},
        {"MsgCom", ""},
        {"netdev", "Устройства не определены"},
    };
    for (const auto& row : expected) {
        QVERIFY2(f.Get<QLabel>(row.name)->text() == QString::fromUtf8(row.text), row.name);
    }
    QCOMPARE(f.Get<QProgressBar>("ProgressBar1")->value(), 0);
    QCOMPARE(f.Get<CircleShape>("Pic")->FillColor(), QColor(Qt::yellow));
    QCOMPARE(ItemsOf(net), QStringList{"0"});
    QCOMPARE(net->currentIndex(), 0);
}

void WindowTest::groupBoundaries_data() {
    QTest::addColumn<QString>("tag");
    QTest::addColumn<bool>("enabledAtStart");
    QTest::addColumn<bool>("inDisabledFrame");
    QTest::addColumn<bool>("afterSwitch");
    QTest::addColumn<bool>("afterSecondSwitch");
    QTest::addColumn<bool>("afterCloseAll");

    QTest::newRow("8: never touched") << "8" << true << false << true << true << true;
    QTest::newRow("9: toggled, then disabled") << "9" << true << false << false << true << false;
    QTest::newRow("129: toggled, then disabled") << "129" << true << false << false << true << false;
    QTest::newRow("130: only disabled") << "130" << true << false << true << true << false;
    QTest::newRow("131 disabled: never enabled") << "131" << false << false << false << false << false;
    QTest::newRow("abc: no group") << "abc" << true << false << true << true << true;
    QTest::newRow("empty: no group") << "" << true << false << true << true << true;
    // Its own flag counts, not the frame's: a disabled container must not
    // make the switch read the control as disabled.
    QTest::newRow("9 in a disabled frame of group 8") << "9" << true << true << false << true << false;
}

void WindowTest::groupBoundaries() {
    QFETCH(QString, tag);
    QFETCH(bool, enabledAtStart);
    QFETCH(bool, inDisabledFrame);
    QFETCH(bool, afterSwitch);
    QFETCH(bool, afterSecondSwitch);
    QFETCH(bool, afterCloseAll);

    Fixture f;
    QWidget* container = &f.window;
    if (inDisabledFrame) {
        container = new QGroupBox(QStringLiteral("extra"), &f.window);
        container->setProperty("Tag", QStringLiteral("8"));
        container->setEnabled(false);
    }
    auto* control = new QPushButton(QStringLiteral("extra"), container);
    control->setProperty("Tag", tag);
    control->setEnabled(enabledAtStart);

    f.window.SwitchTags();
    QCOMPARE(OwnEnabled(control), afterSwitch);
    f.window.SwitchTags();
    QCOMPARE(OwnEnabled(control), afterSecondSwitch);
    f.window.CloseAllTags();
    QCOMPARE(OwnEnabled(control), afterCloseAll);
    if (inDisabledFrame) QVERIFY(!OwnEnabled(container));
}

void WindowTest::operatorWritesReachControls() {
    Fixture f;
    veltra::Operator& op = f.window;

    // Each write replaces the whole text, non-Latin text included.
    struct Write {
        std::function<void(const std::string&)> write;
        const char* control;
    };
    const Write writes[] = {
        {[&](const std::string& t) { op.SetStatusLine(t); }, "l221"},
        {[&](const std::string& t) { op.SetFileNameCaption(t); }, "filename"},
        {[&](const std::string& t) { op.SetTrafficLog(t); }, "txtRec"},
        {[&](const std::string& t) { op.SetReplyBox(t); }, "T22"},
    };
    const std::string traffic = "A5 70 3F \xc3\xbf\xc2\x80y";  // bytes 0xFF and 0x80 shown as U+00FF and U+0080
    for (const Write& w : writes) {
        w.write("Wait connecting and much more than will ever fit");
        w.write(traffic);
        QVERIFY2(TextOf(f.Get(w.control)) == QString::fromStdString(traffic), w.control);
        QVERIFY2(TextOf(f.Get(w.control)).contains(QChar(0xFF)), w.control);
        // A write of the text written last still wins over any change made
        // to the control since.
        if (auto* line = qobject_cast<QLineEdit*>(f.Get(w.control))) line->setText(QStringLiteral("changed"));
        if (auto* box = qobject_cast<QPlainTextEdit*>(f.Get(w.control))) box->setPlainText(QStringLiteral("changed"));
        w.write(traffic);
        QVERIFY2(TextOf(f.Get(w.control)) == QString::fromStdString(traffic), w.control);
    }

    // A long path stays whole in the label while the label keeps its place.
    auto* file = f.Get<QLabel>("filename");
    const QRect place = file->geometry();
    const std::string path = "/home/operator/firmware/" + std::string(200, 'x') + "/прошивка.bin";
    op.SetFileNameCaption(path);
    QCOMPARE(file->text(), QString::fromStdString(path));
    QCOMPARE(file->geometry(), place);

    auto* bar = f.Get<QProgressBar>("ProgressBar1");
    op.SetProgressMaximum(100000);
    QCOMPARE(op.ProgressMaximum(), 100000);
    QCOMPARE(bar->maximum(), 100000);
    op.SetProgressValue(64000);
    QCOMPARE(bar->value(), 64000);
}

void WindowTest::operatorReadsHiddenInputs_data() {
    QTest::addColumn<int>("eepromState");
    QTest::addColumn<bool>("checked");
    QTest::newRow("unchecked") << int(Qt::Unchecked) << false;
    QTest::newRow("checked") << int(Qt::Checked) << true;
    QTest::newRow("partially checked") << int(Qt::PartiallyChecked) << true;
}

void WindowTest::operatorReadsHiddenInputs() {
    QFETCH(int, eepromState);
    QFETCH(bool, checked);
    Fixture f;
    const veltra::Operator& op = f.window;

    auto* eeprom = f.Get<QCheckBox>("EEPROM");
    eeprom->setTristate(true);
    eeprom->setCheckState(static_cast<Qt::CheckState>(eepromState));
    QCOMPARE(op.EepromChecked(), checked);

    QCOMPARE(op.OptionText(1), std::string("0"));
    QCOMPARE(op.OptionText(2), std::string(" 0"));
    f.Get<QLineEdit>("ob3")->setText(QStringLiteral("12"));
    f.Get<QLineEdit>("ob4")->setText(QStringLiteral("255"));
    QCOMPARE(op.OptionText(3), std::string("12"));
    QCOMPARE(op.OptionText(4), std::string("255"));
}

void WindowTest::operatorQuestionsGoThroughDialogs() {
    Fixture f;
    veltra::Operator& op = f.window;

    op.ShowMessage({"Unable to set Comm DCB 19200,n,8,1 Error: 22", veltra::MessageIcon::None, ""});
    QCOMPARE(f.dialogs.messages.size(), std::size_t{1});
    QCOMPARE(f.dialogs.messages[0].text, std::string("Unable to set Comm DCB 19200,n,8,1 Error: 22"));

    f.dialogs.retryAnswer = true;
    QVERIFY(op.AskRetry("Ошибка записи"));
    f.dialogs.retryAnswer = false;
    QVERIFY(!op.AskRetry("again"));
    QCOMPARE(f.dialogs.retryQuestions, (std::vector<QString>{QStringLiteral("Ошибка записи"), "again"}));

    f.dialogs.fileAnswer = QStringLiteral("/tmp/прошивка.bin");
    QCOMPARE(op.AskOpenFileName("Open", "All Files (*)"), std::string("/tmp/прошивка.bin"));
    QCOMPARE(f.dialogs.fileDialogs, std::vector<QString>{"Open|All Files (*)"});
}

void WindowTest::qtMessageBoxes_data() {
    QTest::addColumn<veltra::MessageIcon>("icon");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("boxIcon");
    QTest::newRow("no icon, no caption") << veltra::MessageIcon::None << "" << int(QMessageBox::NoIcon);
    QTest::newRow("warning") << veltra::MessageIcon::Warning << "" << int(QMessageBox::Warning);
    QTest::newRow("critical with caption") << veltra::MessageIcon::Critical << "Error#5" << int(QMessageBox::Critical);
}

void WindowTest::qtMessageBoxes() {
    QFETCH(veltra::MessageIcon, icon);
    QFETCH(QString, caption);
    QFETCH(int, boxIcon);

    QWidget parent;
    QtDialogs dialogs;
    QString seenTitle, seenText;
    int seenIcon = -1;
    QMessageBox::StandardButtons seenButtons;
    BoxAnswerer answerer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box != nullptr);
        seenTitle = box->windowTitle();
        seenText = box->textFormat() == Qt::PlainText ? box->text() : QStringLiteral("not plain text");
        seenIcon = int(box->icon());
        seenButtons = box->standardButtons();
        box->button(QMessageBox::Ok)->click();
    });
    dialogs.Message(&parent, {"Com Port COM9: недоступен. <b>Установите</b> нужный порт.", icon,
                              caption.toStdString()});

    QVERIFY(answerer.answered);
    QCOMPARE(seenText, QStringLiteral("Com Port COM9: недоступен. <b>Установите</b> нужный порт."));
    QCOMPARE(seenTitle, caption);
    QCOMPARE(seenIcon, boxIcon);
    QCOMPARE(seenButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

void WindowTest::qtRetryCancel_data() {
    QTest::addColumn<int>("press");
    QTest::addColumn<bool>("retry");
    QTest::newRow("retry") << int(QMessageBox::Retry) << true;
    QTest::newRow("cancel") << int(QMessageBox::Cancel) << false;
}

void WindowTest::qtRetryCancel() {
    QFETCH(int, press);
    QFETCH(bool, retry);

    QWidget parent;
    QtDialogs dialogs;
    int seenIcon = -1;
    QMessageBox::StandardButtons seenButtons;
    BoxAnswerer answerer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box != nullptr);
        seenIcon = int(box->icon());
        seenButtons = box->standardButtons();
        box->button(static_cast<QMessageBox::StandardButton>(press))->click();
    });
    QCOMPARE(dialogs.RetryCancel(&parent, QStringLiteral("Retry?")), retry);

    QVERIFY(answerer.answered);
    QCOMPARE(seenIcon, int(QMessageBox::Warning));
    QCOMPARE(seenButtons, QMessageBox::Retry | QMessageBox::Cancel);
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
