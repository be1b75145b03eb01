#pragma once
// Connects the window's buttons to their click handlers.
class frmSerial;

void WireEvents(frmSerial& window);
