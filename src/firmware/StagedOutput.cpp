#include "firmware/StagedOutput.h"

#include <algorithm>
#include <random>
#include <utility>

namespace veltra {
namespace {

// Temporary names are at most this long, and never longer than the final
// name, so that any folder that can hold the final name can hold them too.
constexpr std::size_t kTempNameMax = 16;
constexpr int kTempNameAttempts = 100;

// A hidden name of `length` characters: a dot, then letters and digits.
std::string TempName(std::size_t length, std::mt19937& random) {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    std::string name(length, '.');
    for (std::size_t i = length > 1 ? 1 : 0; i < length; ++i) name[i] = kChars[pick(random)];
    return name;
}

}  // namespace

StagedOutput::StagedOutput(std::string finalPath) : finalPath_(std::move(finalPath)) {}

StagedOutput::~StagedOutput() {
    std::string ignored;
    file_.Close(ignored);
    if (!tempPath_.empty() && !committed_) platform::RemoveQuietly(tempPath_);
}

bool StagedOutput::Fail(const std::string& reason) {
    if (error_.empty()) error_ = reason;
    return false;
}

bool StagedOutput::Create() {
    const std::size_t nameStart = platform::FileNameStart(finalPath_);
    const std::string folder = finalPath_.substr(0, nameStart);
    const std::size_t nameLength = std::clamp<std::size_t>(finalPath_.size() - nameStart, 1, kTempNameMax);
    std::random_device seed;
    std::mt19937 random(seed());
    std::string reason;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        std::string path = folder + TempName(nameLength, random);
        switch (file_.Create(path, reason)) {
            case platform::NewFile::Creation::Created:
                tempPath_ = std::move(path);
                return true;
            case platform::NewFile::Creation::NameTaken: continue;
            case platform::NewFile::Creation::Failed: return Fail(reason);
        }
    }
    return Fail(reason);  // every name tried was taken
}

bool StagedOutput::Write(const void* data, std::size_t size) {
    std::string reason;
    return file_.WriteAll(static_cast<const char*>(data), size, reason) || Fail(reason);
}

bool StagedOutput::FlushAndClose() {
    if (closed_) return true;
    std::string reason;
    // On the disk before it takes the output's name: after a power cut the
    // name holds the old file or the whole new one, never a short one.
    if (!file_.FlushToDisk(reason)) return Fail(reason);
    if (!file_.Close(reason)) return Fail(reason);
    closed_ = true;
    return true;
}

bool StagedOutput::Commit() {
    if (!FlushAndClose()) return false;
    std::string reason;
    if (!platform::MoveOver(tempPath_, finalPath_, reason)) return Fail(reason);
    committed_ = true;
    return true;
}

platform::Placing StagedOutput::CommitNew(const std::string& finalPath) {
    if (!FlushAndClose()) return platform::Placing::Failed;
    std::string reason;
    const platform::Placing placing = platform::MoveToFreeName(tempPath_, finalPath, reason);
    if (placing == platform::Placing::NameTaken) return placing;
    if (placing == platform::Placing::Failed) {
        Fail(reason);
        return placing;
    }
    committed_ = true;
    finalPath_ = finalPath;
    if (!platform::SyncFolder(finalPath.substr(0, platform::FileNameStart(finalPath)), reason)) {
        Fail(reason);
        return platform::Placing::Failed;
    }
    return platform::Placing::Placed;
}

}  // namespace veltra
