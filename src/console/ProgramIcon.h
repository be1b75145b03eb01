#pragma once
// The program's own window icon: a microchip with a download arrow entering it.
#include <QIcon>
#include <QImage>
#include <QPixmap>

// The icon drawn at one square size in pixels (drawn for 32 and 16 in the
// window, and for the desktop's icon theme when the package is built).
QImage ProgramIconImage(int side);
QPixmap ProgramIconPixmap(int side);
QIcon ProgramIcon();
