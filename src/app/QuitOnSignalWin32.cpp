#include "app/QuitOnSignal.h"

#include <windows.h>

#include <QCoreApplication>
#include <QMetaObject>

namespace {

QCoreApplication* quitting = nullptr;

// Runs on a thread of its own that the system starts for the console event;
// the quit is queued to the window's thread.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            if (quitting != nullptr) QMetaObject::invokeMethod(quitting, "quit", Qt::QueuedConnection);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void QuitOnEndSignals(QCoreApplication& app) {
    quitting = &app;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
