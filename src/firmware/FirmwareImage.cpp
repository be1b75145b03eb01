#include "firmware/FirmwareImage.h"

#include <algorithm>

#include "firmware/FileSystem.h"

namespace veltra {
namespace {

void ShowProblem(Operator& op, const std::string& path, const platform::FileProblem& problem) {
    const std::string reason = problem.tooLarge == 0
                                   ? problem.reason
                                   : "it holds " + std::to_string(problem.tooLarge) + " bytes, more than the " +
                                         std::to_string(kMaxFirmwareBytes) + " bytes a firmware file may have";
    op.ShowMessage({"Cannot open firmware file " + path + ": " + reason, MessageIcon::Warning, {}});
}

}  // namespace

std::size_t FirmwareImage::CopyRecord(std::size_t offset, std::span<std::uint8_t> record) const {
    const std::size_t available = offset < bytes.size() ? bytes.size() - offset : 0;
    const std::size_t got = std::min(available, record.size());
    const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(offset < bytes.size() ? offset : bytes.size());
    std::copy_n(from, got, record.begin());
    std::fill(record.begin() + static_cast<std::ptrdiff_t>(got), record.end(), std::uint8_t{0xFF});
    return got;
}

std::optional<std::int64_t> CheckFirmwareFile(Operator& op, const std::string& path) {
    std::int64_t length = 0;
    const platform::FileProblem problem = platform::RegularFileLength(path, length);
    if (!problem.ok) {
        ShowProblem(op, path, problem);
        return std::nullopt;
    }
    if (length > kMaxFirmwareBytes) {
        ShowProblem(op, path, {false, {}, length});
        return std::nullopt;
    }
    return length;
}

std::optional<FirmwareImage> LoadFirmwareImage(Operator& op, const std::string& path) {
    FirmwareImage image;
    const platform::FileProblem problem = platform::ReadRegularFile(path, kMaxFirmwareBytes, image.bytes);
    if (!problem.ok) {
        ShowProblem(op, path, problem);
        return std::nullopt;
    }
    return image;
}

}  // namespace veltra
