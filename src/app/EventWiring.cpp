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
    // The file choice, the download and the service operations join here as
    // their handlers arrive: Command1, go, Start, pos1 and crypt.
}
