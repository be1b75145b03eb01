#pragma once
// The program's own window icon: a microchip with a download arrow entering it.
#include <QIcon>
#include <QPixmap>

// The icon drawn at one square size in pixels (drawn for 32 and 16).
QPixmap ProgramIconPixmap(int side);
QIcon ProgramIcon();
