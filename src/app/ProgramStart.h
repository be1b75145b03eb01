#pragma once
// The program's start once its application object and window exist: the end
// signals, the window's events, the window shown. The program and the
// benchmark of its start both go through here, so they start alike.
class QApplication;
class frmSerial;

void StartProgram(QApplication& app, frmSerial& window);
