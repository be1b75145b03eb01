#include "window/support/PortWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

std::string PortWindow::Text(const char* name) {
    QObject* control = window.findChild<QObject*>(QString::fromLatin1(name));
    if (auto* label = qobject_cast<QLabel*>(control)) return label->text().toStdString();
    if (auto* line = qobject_cast<QLineEdit*>(control)) return line->text().toStdString();
    if (auto* box = qobject_cast<QPlainTextEdit*>(control)) return box->toPlainText().toStdString();
    throw std::logic_error(std::string("no text control ") + name);
}

// A name of its own under the temporary folder: create_directory says
// whether this call made it, so two tests never share one.
FirmwareFolder::FirmwareFolder() {
    std::random_device seed;
    std::mt19937_64 pick(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate = std::filesystem::temp_directory_path() / ("veltra-fw-" + std::to_string(pick() % 1000000007));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate.generic_string();
            return;
        }
    }
    throw std::runtime_error("no temporary folder for the firmware files");
}

FirmwareFolder::~FirmwareFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string FirmwareFolder::Write(const std::string& name, const std::string& content) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    return file;
}

std::string Pattern(std::size_t length, unsigned seed) {
    std::string s(length, '\0');
    for (std::size_t i = 0; i < length; ++i) s[i] = static_cast<char>((i + seed) % 251);
    return s;
}
