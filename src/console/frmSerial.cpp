#include "console/frmSerial.h"

#include <algorithm>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QProgressBar>

#include "console/ProgramIcon.h"
#include "console/TrafficBox.h"

namespace {

// Every status line, also in Qt's message log when the rules ask for it
// (QT_LOGGING_RULES="veltra.status.info=true"): what a support call or a
// script that drives the window reads without looking at the screen.
Q_LOGGING_CATEGORY(lcStatus, "veltra.status", QtWarningMsg)

}  // namespace

frmSerial::frmSerial(QWidget* parent) : QWidget(parent) {
    // A fixed single border: no maximise or minimise button, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setObjectName(QStringLiteral("frmSerial"));
    setWindowTitle(QStringLiteral("Boot Loader Veltra"));
    setWindowIcon(ProgramIcon());
    setFixedSize(kClientWidth, kClientHeight);

    BuildControls();
    FindControls();
    LayOutWorkingArea();
    Form_Load();
}

frmSerial::~frmSerial() = default;

void frmSerial::SetDialogs(DialogSeam* dialogs) {
    dialogs_ = dialogs == nullptr ? &qtDialogs_ : dialogs;
}

void frmSerial::ShowMessage(const veltra::Message& message) {
    dialogs_->Message(this, message);
}

bool frmSerial::AskRetry(const std::string& text) {
    return dialogs_->RetryCancel(this, QString::fromStdString(text));
}

std::string frmSerial::AskOpenFileName(const std::string& title, const std::string& filter) {
    return dialogs_->OpenFileName(this, QString::fromStdString(title), QString::fromStdString(filter))
        .toStdString();
}

// The long operations hold the window's thread, so each write is painted at
// once rather than when the event loop next runs.
void frmSerial::SetStatusLine(const std::string& text) {
    ui_.l221->setText(QString::fromStdString(text));
    ui_.l221->repaint();
    qCInfo(lcStatus, "%s", text.c_str());
}

void frmSerial::SetFileNameCaption(const std::string& text) {
    ui_.filename->setText(QString::fromStdString(text));
    ui_.filename->repaint();
}

void frmSerial::SetTrafficLog(const std::string& text) {
    ui_.txtRec->ReplaceText(QString::fromStdString(text));
}

void frmSerial::SetReplyBox(const std::string& text) {
    // Every block of a download brings the same reply: writing the text the
    // box already holds would change nothing anyone can see.
    const QString value = QString::fromStdString(text);
    if (value == ui_.T22->text()) return;
    ui_.T22->setText(value);
    ui_.T22->repaint();
}

int frmSerial::ProgressMaximum() const {
    return ui_.ProgressBar1->maximum();
}

void frmSerial::SetProgressMaximum(int maximum) {
    // The bar drops a value that falls outside its new range and shows
    // nothing at all; a shorter file keeps the bar full instead.
    QProgressBar& bar = *ui_.ProgressBar1;
    const int kept = std::clamp(bar.value(), bar.minimum(), std::max(bar.minimum(), maximum));
    bar.setMaximum(maximum);
    bar.setValue(kept);
}

void frmSerial::SetProgressValue(int value) {
    ui_.ProgressBar1->setValue(value);
}

bool frmSerial::EepromChecked() const {
    return ui_.EEPROM->checkState() != Qt::Unchecked;
}

std::string frmSerial::OptionText(int box) const {
    if (box < 1 || box > static_cast<int>(ui_.ob.size())) return {};
    return ui_.ob[static_cast<std::size_t>(box - 1)]->text().toStdString();
}
