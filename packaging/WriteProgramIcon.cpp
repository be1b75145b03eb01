// Draws the program's icon into a PNG file for the desktop's icon theme:
//   write-program-icon FILE.png SIDE
// The same drawing as the window's own icon, so the two never differ.
#include <cstdio>
#include <string>

#include "console/ProgramIcon.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: write-program-icon FILE.png SIDE\n");
        return 2;
    }
    const int side = std::stoi(argv[2]);
    if (!ProgramIconImage(side).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "write-program-icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
