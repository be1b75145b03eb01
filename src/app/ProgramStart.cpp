#include "app/ProgramStart.h"

#include <QApplication>

#include "app/EventWiring.h"
#include "app/QuitOnSignal.h"
#include "console/frmSerial.h"

void StartProgram(QApplication& app, frmSerial& window) {
    QuitOnEndSignals(app);
    WireEvents(window);
    window.show();
}
