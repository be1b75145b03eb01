#include "Com1.h"

#include <windows.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace veltra::wine {

namespace fs = std::filesystem;

bool RunningUnderWine() {
    // Wine's ntdll exports its version; Windows' own has no such function.
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

ByteString ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteString(std::istreambuf_iterator<char>(in), {});
}

namespace {

std::u8string Digits(unsigned long value) {
    const std::string text = std::to_string(value);
    return std::u8string(text.begin(), text.end());
}

}  // namespace

TempFolder::TempFolder(const std::u8string& name) {
    const fs::path base = fs::temp_directory_path();
    for (unsigned long n = 0; n < 1000; ++n) {
        const fs::path candidate = base / (name + u8"-" + Digits(::GetCurrentProcessId()) + u8"-" + Digits(n));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("no temporary folder of its own under " + Utf8(base));
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string WriteAll(const fs::path& file, const ByteString& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + Utf8(file));
    return Utf8(file);
}

std::string TempFolder::Write(const fs::path& name, const ByteString& bytes) const { return WriteAll(path_ / name, bytes); }

}  // namespace veltra::wine
