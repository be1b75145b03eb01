#include <QApplication>

#include "app/ProgramStart.h"
#include "console/frmSerial.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    frmSerial window;
    StartProgram(app, window);
    return app.exec();
}
