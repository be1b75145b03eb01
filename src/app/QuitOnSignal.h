#pragma once
// Ctrl-C in the terminal that started the window, or a polite kill, ends the
// program the way closing the window does: the event loop returns and the
// window is destroyed, so an open port is closed and its lock file removed.
class QCoreApplication;

void QuitOnEndSignals(QCoreApplication& app);
