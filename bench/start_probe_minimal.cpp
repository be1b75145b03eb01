// The yardstick for window_start_bench: the same start as the tool's probe
// with an empty widget in place of the tool's window.
#include <QApplication>
#include <QWidget>

#include "StartProbe.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.show();
    return veltra::bench::RunUntilFirstPaint(app, window);
}
