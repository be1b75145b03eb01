#include "app/EventWiring.h"

#include <QPushButton>

#include <stdexcept>
#include <string>

#include "console/frmSerial.h"

namespace {

// A button's clicks run one handler of the window, found by the button's name.
void OnClick(frmSerial& window, const char* button, void (frmSerial::*handler)()) {
    auto* control = window.findChild<QPushButton*>(QString::fromLatin1(button));
    if (control == nullptr) throw std::logic_error(std::string("the window has no button ") + button);
    QObject::connect(control, &QPushButton::clicked, &window, [&window, handler] { (window.*handler)(); });
}

}  // namespace

void WireEvents(frmSerial& window) {
    OnClick(window, "BTNOpenCom", &frmSerial::BTNOpenCom_Click);
    OnClick(window, "BTNCloseCom", &frmSerial::BTNCloseCom_Click);
    OnClick(window, "Command1", &frmSerial::Command1_Click);
    OnClick(window, "go", &frmSerial::go_Click);
    OnClick(window, "Start", &frmSerial::Start_Click);
    OnClick(window, "pos1", &frmSerial::pos1_Click);
    OnClick(window, "crypt", &frmSerial::crypt_Click);
}
