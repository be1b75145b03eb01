// The window's controls with their design-time state: kind, name, container,
// caption, own enabled and visible flags, group ("Tag") and place. Most of
// them are service controls the operator never sees; they lie right of the
// client area, where the fixed-size window clips them, or are hidden.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <stdexcept>

#include "console/CircleShape.h"
#include "console/ElidedLabel.h"
#include "console/PortComboBox.h"
#include "console/TrafficBox.h"
#include "console/frmSerial.h"

namespace {

enum class Kind {
    Frame,      // QGroupBox
    Button,     // QPushButton
    Label,      // QLabel
    LongLabel,  // one-line label for long values: shortened on screen, whole in text()
    TextBox,    // one-line text box
    LogBox,     // text box of several lines with a vertical scroll bar
    Combo,      // drop-down list; its entries come from Form_Load
    PortList,   // the port list: a drop-down read again each time it opens
    Check,      // check box, unchecked
    Option,     // option button
    Progress,   // progress bar, 0..100 at value 0
    Shape,      // filled circle
};

enum Extra { kPlain = 0, kBold = 1, kSelected = 2 };

struct ControlRow {
    Kind kind;
    const char* name;
    const char* container;  // nullptr: the window itself
    const char* caption;
    bool enabled;
    bool visible;
    const char* tag;  // group number as text; "" for none
    QRect place;      // empty for the working area, which LayOutWorkingArea places
    int extra = kPlain;
};

constexpr bool on = true;
constexpr bool off = false;

// Containers come before their contents.
const ControlRow kControls[] = {
    // The working area the operator sees.
    {Kind::Frame, "Frame2", nullptr, "Comm's", on, on, "2", {}},
    {Kind::Button, "BTNOpenCom", "Frame2", "Open COM port", on, on, "2", {}},
    {Kind::Button, "BTNCloseCom", "Frame2", "Close COM port", off, on, "9", {}},
    {Kind::PortList, "CmbPort", nullptr, "", on, on, "7", {}},
    {Kind::Button, "Command1", nullptr, "Open File", off, on, "9", {}},
    {Kind::Button, "go", nullptr, "RUN", off, on, "9", {}},
    {Kind::LongLabel, "filename", nullptr, "No Fille for downloading", off, on, "9", {}, kBold},
    {Kind::LongLabel, "l221", nullptr, "", off, on, "9", {}, kBold},
    {Kind::Progress, "ProgressBar1", nullptr, "", on, on, "9", {}},

    // Service controls the code reads or writes.
    {Kind::Frame, "Frame1", nullptr, "Состояние", on, on, "9", {260, 4, 220, 120}},
    {Kind::LogBox, "txtRec", "Frame1", "", on, off, "9", {8, 20, 204, 92}},
    {Kind::TextBox, "T22", nullptr, "", on, off, "", {260, 130, 220, 22}},
    {Kind::TextBox, "ob1", nullptr, "0", on, off, "", {260, 160, 60, 22}},
    {Kind::TextBox, "ob2", nullptr, " 0", on, off, "", {260, 186, 60, 22}},
    {Kind::TextBox, "ob3", nullptr, "0", on, off, "", {260, 212, 60, 22}},
    {Kind::TextBox, "ob4", nullptr, "0", on, off, "", {260, 238, 60, 22}},
    {Kind::Label, "Label7", nullptr, "Alt Func", on, off, "", {326, 162, 100, 18}},
    {Kind::Label, "Label8", nullptr, "Clock Option", on, off, "", {326, 188, 100, 18}},
    {Kind::Label, "Label9", nullptr, "HSE Option", on, off, "", {326, 214, 100, 18}},
    {Kind::Label, "Label10", nullptr, "WD+LSI", on, off, "", {326, 240, 100, 18}},
    {Kind::Check, "EEPROM", nullptr, "Check1", on, off, "", {260, 268, 20, 20}},
    {Kind::Label, "Label6", nullptr, "Program EEPROM", on, off, "", {282, 270, 120, 18}},
    {Kind::Button, "Start", nullptr, "Start", off, off, "9", {260, 296, 70, 26}},
    {Kind::Button, "pos1", nullptr, "посылка", on, off, "", {336, 296, 70, 26}},
    {Kind::Button, "crypt", nullptr, "Crypt", on, off, "", {412, 296, 70, 26}},
    {Kind::Combo, "CmbNet", nullptr, "", off, off, "9", {260, 330, 80, 22}},
    {Kind::Label, "sn", nullptr, "0", off, off, "9", {350, 332, 60, 18}},
    {Kind::Label, "vv", nullptr, "--------------------", off, off, "9", {260, 358, 160, 18}},
    {Kind::Label, "MsgCom", nullptr, "", off, off, "9", {260, 380, 220, 18}},
    {Kind::Label, "netdev", nullptr, "Устройства не определены", off, off, "9", {260, 402, 220, 18}},
    {Kind::Shape, "Pic", nullptr, "", on, off, "2", {430, 330, 20, 20}},

    {Kind::Frame, "Frame4", nullptr, "Установки", off, off, "9", {500, 4, 220, 124}},
    {Kind::Label, "l", "Frame4", "Пустой", off, on, "9", {8, 22, 100, 18}},
    {Kind::Label, "lo", "Frame4", "нет данных", off, on, "9", {112, 22, 100, 18}},
    {Kind::Label, "h", "Frame4", "Полный", off, on, "9", {8, 46, 100, 18}},
    {Kind::Label, "hi", "Frame4", "нет данных", off, on, "9", {112, 46, 100, 18}},
    {Kind::Label, "n", "Frame4", "Сетевой адрес", off, on, "9", {8, 70, 100, 18}},
    {Kind::Label, "ne", "Frame4", "нет данных", off, on, "9", {112, 70, 100, 18}},
    {Kind::Label, "k", "Frame4", "K", on, on, "", {8, 94, 100, 18}},
    {Kind::Label, "ko", "Frame4", "0", off, on, "9", {112, 94, 100, 18}},

    {Kind::Frame, "Frame5", nullptr, "Текущие параметры", off, off, "9", {500, 134, 220, 100}},
    {Kind::Label, "ur", "Frame5", "Уровень", off, on, "9", {8, 22, 100, 18}},
    {Kind::Label, "uroven", "Frame5", "нет данных", off, on, "9", {112, 22, 100, 18}, kBold},
    {Kind::Label, "te", "Frame5", "Темп-ра", off, on, "9", {8, 46, 100, 18}},
    {Kind::Label, "temp", "Frame5", "нет данных", off, on, "9", {112, 46, 100, 18}, kBold},
    {Kind::Label, "tek_l", "Frame5", "Текущий", off, on, "9", {8, 70, 100, 18}},
    {Kind::Label, "tek", "Frame5", "нет данных", off, on, "9", {112, 70, 100, 18}, kBold},

    // Service controls without a function: captions only, still switched by group.
    {Kind::Frame, "modes", nullptr, "Режимы", off, on, "9", {740, 4, 260, 230}},
    {Kind::Option, "R485", "modes", "Option1", off, on, "9", {8, 22, 80, 20}, kSelected},
    {Kind::Label, "R_485", "modes", "Режим RS-485", off, on, "9", {92, 24, 160, 18}},
    {Kind::Option, "R_a", "modes", "Option2", off, on, "130", {8, 46, 80, 20}},
    {Kind::Label, "R_analog", "modes", "Аналоговый Режим", off, on, "130", {92, 48, 160, 18}},
    {Kind::Option, "R_f", "modes", "Option3", off, on, "130", {8, 70, 80, 20}},
    {Kind::Label, "R_fr", "modes", "Частотный режим", off, on, "130", {92, 72, 160, 18}},
    {Kind::Option, "R_p", "modes", "Option1", off, on, "131", {8, 94, 80, 20}},
    {Kind::Label, "Label1", "modes", "Периодический", off, on, "131", {92, 96, 160, 18}},
    {Kind::Option, "R_p485", "modes", "Option1", off, on, "134", {8, 118, 80, 20}},
    {Kind::Label, "Label2", "modes", "Периодический RS485", off, on, "", {92, 120, 160, 18}},
    {Kind::Check, "iinv", "modes", "Check1", off, on, "9", {8, 142, 80, 20}},
    {Kind::Label, "invers", "modes", "Инверсия индикатора", off, on, "9", {92, 144, 160, 18}},
    {Kind::Check, "usredn", "modes", "Check1", off, on, "9", {8, 166, 80, 20}},
    {Kind::Label, "usred", "modes", "Сглаживание", off, on, "9", {92, 168, 160, 18}},
    {Kind::Button, "Set_mode", "modes", "&Установить", off, on, "9", {8, 194, 120, 26}},

    {Kind::Frame, "Frame3", nullptr, "Команды", off, on, "9", {500, 240, 220, 116}},
    {Kind::Button, "low", "Frame3", "Уст&ановить  Пустой", off, on, "9", {8, 20, 204, 26}},
    {Kind::Button, "hig", "Frame3", "Установить Полны&й", off, on, "9", {8, 50, 204, 26}},
    {Kind::Button, "net", "Frame3", "Изменить &сетевой адрес", off, on, "9", {8, 80, 204, 26}},

    {Kind::Button, "Opros", nullptr, "&Опрос датчиков", off, on, "9", {740, 240, 160, 26}},
    {Kind::Button, "InstSN", nullptr, "Уст_Сер_Но&м", off, on, "9", {740, 270, 160, 26}},
    {Kind::Label, "Label3", nullptr, "Устройства в сети:", off, on, "9", {740, 300, 160, 18}},
    {Kind::Label, "Label4", nullptr, "Сетевой Адрес", off, on, "9", {740, 320, 160, 18}},
    {Kind::Label, "Label5", nullptr, "Сер. Номер", off, on, "9", {740, 340, 160, 18}},
    {Kind::Label, "ver2", nullptr, "Версия ПО", off, on, "9", {740, 360, 160, 18}},
};

QWidget* Make(const ControlRow& row, QWidget* container) {
    const QString caption = QString::fromUtf8(row.caption);
    switch (row.kind) {
        case Kind::Frame: return new QGroupBox(caption, container);
        case Kind::Button: return new QPushButton(caption, container);
        case Kind::Label: {
            auto* label = new QLabel(caption, container);
            label->setTextFormat(Qt::PlainText);
            return label;
        }
        case Kind::LongLabel: return new ElidedLabel(caption, Qt::ElideMiddle, container);
        case Kind::TextBox: return new QLineEdit(caption, container);
        case Kind::LogBox: {
            auto* box = new TrafficBox(container);
            box->setPlainText(caption);
            box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            return box;
        }
        case Kind::Combo: {
            // A pure drop-down list: typed text can never become a port name.
            auto* combo = new QComboBox(container);
            combo->setEditable(false);
            return combo;
        }
        case Kind::PortList: return new PortComboBox(container);
        case Kind::Check: return new QCheckBox(caption, container);
        case Kind::Option: {
            auto* option = new QRadioButton(caption, container);
            option->setChecked((row.extra & kSelected) != 0);
            return option;
        }
        case Kind::Progress: {
            auto* bar = new QProgressBar(container);
            bar->setRange(0, 100);
            bar->setValue(0);
            return bar;
        }
        case Kind::Shape: return new CircleShape(container);
    }
    throw std::logic_error("unknown control kind");
}

template <typename T>
T* Child(const QWidget& window, const char* name) {
    T* child = window.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) throw std::logic_error(std::string("the window has no control ") + name);
    return child;
}

}  // namespace

void frmSerial::BuildControls() {
    QHash<QString, QWidget*> byName;
    for (const ControlRow& row : kControls) {
        QWidget* container = row.container == nullptr ? this : byName.value(QString::fromLatin1(row.container));
        if (container == nullptr) throw std::logic_error("a container must come before its contents");
        QWidget* control = Make(row, container);
        control->setObjectName(QString::fromLatin1(row.name));
        control->setProperty("Tag", QString::fromLatin1(row.tag));
        control->setEnabled(row.enabled);
        if (!row.visible) control->setVisible(false);
        if ((row.extra & kBold) != 0) {
            QFont font = control->font();
            font.setBold(true);
            control->setFont(font);
        }
        if (!row.place.isEmpty()) control->setGeometry(row.place);
        byName.insert(control->objectName(), control);
    }

    // The file-open dialog of "Open File" is no widget; it stands in the
    // window as a plain object so that it carries its group like the others.
    auto* dialog = new QObject(this);
    dialog->setObjectName(QStringLiteral("CommonDialog"));
    dialog->setProperty("Tag", QStringLiteral("3"));
}

void frmSerial::FindControls() {
    ui_.BTNOpenCom = Child<QPushButton>(*this, "BTNOpenCom");
    ui_.BTNCloseCom = Child<QPushButton>(*this, "BTNCloseCom");
    ui_.CmbPort = Child<QComboBox>(*this, "CmbPort");
    ui_.CmbNet = Child<QComboBox>(*this, "CmbNet");
    ui_.filename = Child<QLabel>(*this, "filename");
    ui_.l221 = Child<QLabel>(*this, "l221");
    ui_.ProgressBar1 = Child<QProgressBar>(*this, "ProgressBar1");
    ui_.txtRec = Child<TrafficBox>(*this, "txtRec");
    ui_.T22 = Child<QLineEdit>(*this, "T22");
    ui_.ob = {Child<QLineEdit>(*this, "ob1"), Child<QLineEdit>(*this, "ob2"),
              Child<QLineEdit>(*this, "ob3"), Child<QLineEdit>(*this, "ob4")};
    ui_.EEPROM = Child<QCheckBox>(*this, "EEPROM");
    ui_.sn = Child<QLabel>(*this, "sn");
    ui_.vv = Child<QLabel>(*this, "vv");
    ui_.MsgCom = Child<QLabel>(*this, "MsgCom");
    ui_.netdev = Child<QLabel>(*this, "netdev");
    ui_.tek = Child<QLabel>(*this, "tek");
    ui_.temp = Child<QLabel>(*this, "temp");
    ui_.uroven = Child<QLabel>(*this, "uroven");
    ui_.lo = Child<QLabel>(*this, "lo");
    ui_.hi = Child<QLabel>(*this, "hi");
    ui_.ne = Child<QLabel>(*this, "ne");
    ui_.Pic = Child<CircleShape>(*this, "Pic");
}

void frmSerial::LayOutWorkingArea() {
    constexpr int kMargin = 8;
    constexpr int kInset = 10;  // from a frame's edge to its contents
    constexpr int kWidth = kClientWidth - 2 * kMargin;

    auto* frame = Child<QGroupBox>(*this, "Frame2");
    auto* command1 = Child<QPushButton>(*this, "Command1");
    auto* go = Child<QPushButton>(*this, "go");

    // Heights follow the font, so that no caption is clipped.
    const int buttonHeight = ui_.BTNOpenCom->sizeHint().height() + 8;
    const int labelHeight = ui_.filename->fontMetrics().height() + 6;
    const int barHeight = ui_.ProgressBar1->sizeHint().height();
    const int titleHeight = frame->fontMetrics().height() + 8;

    const int frameHeight = titleHeight + 2 * buttonHeight + 6 + kInset;
    const int content = frameHeight + buttonHeight + 2 * labelHeight + 4 + barHeight;
    const int gap = std::max(6, (kClientHeight - 2 * kMargin - content) / 3);

    // The port frame: the list at its left, open and close above each other at its right.
    int y = kMargin;
    frame->setGeometry(kMargin, y, kWidth, frameHeight);
    const int buttonWidth = 112;
    const int buttonLeft = kWidth - kInset - buttonWidth;
    ui_.BTNOpenCom->setGeometry(buttonLeft, titleHeight, buttonWidth, buttonHeight);
    ui_.BTNCloseCom->setGeometry(buttonLeft, titleHeight + buttonHeight + 6, buttonWidth, buttonHeight);
    // The list belongs to the window, not to the frame; it sits over the frame,
    // level with the middle of the two buttons.
    const int listHeight = ui_.CmbPort->sizeHint().height();
    ui_.CmbPort->setGeometry(kMargin + kInset, y + titleHeight + buttonHeight + 3 - listHeight / 2,
                             buttonLeft - 2 * kInset, listHeight);
    ui_.CmbPort->raise();
    y += frameHeight + gap;

    const int halfWidth = (kWidth - kMargin) / 2;
    command1->setGeometry(kMargin, y, halfWidth, buttonHeight);
    go->setGeometry(kClientWidth - kMargin - halfWidth, y, halfWidth, buttonHeight);
    y += buttonHeight + gap;

    ui_.filename->setGeometry(kMargin, y, kWidth, labelHeight);
    y += labelHeight + 4;
    ui_.l221->setGeometry(kMargin, y, kWidth, labelHeight);

    ui_.ProgressBar1->setGeometry(kMargin, kClientHeight - kMargin - barHeight, kWidth, barHeight);
}
