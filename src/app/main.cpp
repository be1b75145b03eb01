#include <QApplication>

#include "app/EventWiring.h"
#include "app/QuitOnSignal.h"
#include "console/frmSerial.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QuitOnEndSignals(app);
    frmSerial window;
    WireEvents(window);
    window.show();
    return app.exec();
}
