#include "window/support/SimWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

std::string SimWindow::Text(const char* name) {
    QObject* control = window.findChild<QObject*>(QString::fromLatin1(name));
    if (auto* label = qobject_cast<QLabel*>(control)) return label->text().toStdString();
    if (auto* line = qobject_cast<QLineEdit*>(control)) return line->text().toStdString();
    if (auto* box = qobject_cast<QPlainTextEdit*>(control)) return box->toPlainText().toStdString();
    throw std::logic_error(std::string("no text control ") + name);
}

FirmwareFolder::FirmwareFolder() {
    std::string templ = (std::filesystem::temp_directory_path() / "veltra-fw-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = templ;
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
