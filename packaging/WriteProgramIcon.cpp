// Draws the program's icon into a file, for the desktop's icon theme (PNG) or
// for Windows (ICO, with the sizes Windows picks from):
//   write-program-icon FILE.png SIDE
//   write-program-icon FILE.ico LARGEST
// The same drawing as the window's own icon, so the two never differ.
#include <QBuffer>
#include <QByteArray>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "console/ProgramIcon.h"

namespace {

void AppendLittleEndian(QByteArray& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFFu));
}

// An ICO file whose images are PNG streams (read by every Windows since
// Vista), each drawn at its own size rather than scaled from one.
bool WriteIco(const QString& file, int largest) {
    std::vector<QByteArray> images;
    std::vector<int> sides;
    for (int side : {16, 24, 32, 48, 64, 128, 256}) {
        if (side > largest) break;
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!ProgramIconImage(side).save(&buffer, "PNG")) return false;
        images.push_back(png);
        sides.push_back(side);
    }
    QByteArray out;
    AppendLittleEndian(out, 0, 2);  // reserved
    AppendLittleEndian(out, 1, 2);  // an icon, not a cursor
    AppendLittleEndian(out, static_cast<std::uint32_t>(images.size()), 2);
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const auto side = static_cast<std::uint32_t>(sides[i] >= 256 ? 0 : sides[i]);  // 0 means 256
        AppendLittleEndian(out, side, 1);
        AppendLittleEndian(out, side, 1);
        AppendLittleEndian(out, 0, 1);   // no palette
        AppendLittleEndian(out, 0, 1);   // reserved
        AppendLittleEndian(out, 1, 2);   // colour planes
        AppendLittleEndian(out, 32, 2);  // bits per pixel
        AppendLittleEndian(out, static_cast<std::uint32_t>(images[i].size()), 4);
        AppendLittleEndian(out, offset, 4);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const QByteArray& png : images) out.append(png);
    QFile target(file);
    return target.open(QIODevice::WriteOnly | QIODevice::Truncate) && target.write(out) == out.size() && target.flush();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: write-program-icon FILE.png SIDE | FILE.ico LARGEST\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const int side = std::stoi(argv[2]);
    const bool written = file.endsWith(QLatin1String(".ico"), Qt::CaseInsensitive)
                             ? WriteIco(file, side)
                             : ProgramIconImage(side).save(file, "PNG");
    if (!written) {
        std::fprintf(stderr, "write-program-icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
