// The window's operations: each hands over to the core with the window's
// state and the window itself as the operator.
#include <QPushButton>

#include "console/frmSerial.h"
#include "firmware/FileChoice.h"
#include "firmware/ScrambledFile.h"
#include "loader/Download.h"
#include "rombootloader/FlashingRun.h"

void frmSerial::Command1_Click() { veltra::ChooseFirmwareFile(*this, firmware_); }

void frmSerial::go_Click() {
    veltra::RunDownload(port_, *this, wrs, firmware_, wakePatience_);
    CloseIfPortLost();
}

void frmSerial::pos1_Click() {
    veltra::SendTestBlock(port_, *this, wrs);
    CloseIfPortLost();
}

void frmSerial::Start_Click() {
    veltra::rom::RunFlashing(port_, *this, wrs, firmware_, {.wakePatience = wakePatience_, .readBack = false, .progress = {}});
    CloseIfPortLost();
}

void frmSerial::CloseIfPortLost() {
    if (port_.Lost() && ui_.BTNCloseCom->isEnabled()) BTNCloseCom_Click();
}

void frmSerial::crypt_Click() { veltra::ConvertToScrambledFile(*this, firmware_, filler_); }
