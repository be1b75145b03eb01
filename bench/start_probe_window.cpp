// The tool's start, for window_start_bench: the program's own steps (the
// application, the end signals, the window and its wiring, show), then the
// probe returns as soon as the window has been painted once.
#include <QApplication>

#include "StartProbe.h"
#include "app/ProgramStart.h"
#include "console/frmSerial.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    frmSerial window;
    StartProgram(app, window);
    return veltra::bench::RunUntilFirstPaint(app, window);
}
