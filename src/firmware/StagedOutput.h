#pragma once
// A file written under a temporary name in the folder of its final name and put
// in place by one rename once it is complete: a failed write never leaves a
// partial file, and an older file of the final name is replaced whole or kept
// as it was.
#include <cstddef>
#include <string>

#include "firmware/FileSystem.h"

namespace veltra {

class StagedOutput {
public:
    explicit StagedOutput(std::string finalPath);
    ~StagedOutput();  // removes the temporary file unless committed
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;

    // Each returns false on failure and keeps the reason in ErrorText();
    // after a failure the object is only good for destruction.
    bool Create();
    // Writes the bytes at once, with no gathering: write large pieces, since
    // each call is a system call.
    bool Write(const void* data, std::size_t size);
    bool Commit();  // flush to the disk, close, rename over the final name

    // Like Commit, but never over another file, and under `finalPath`, a name
    // in the folder of the one given at construction. NameTaken when a file
    // has that name: the staged file stays, for another name to be tried.
    // Placed once the file has the name and the folder's entry is on the disk
    // too: the file then survives a power cut under its name.
    platform::Placing CommitNew(const std::string& finalPath);

    // Why the first failing step failed, in words ("Permission denied").
    const std::string& ErrorText() const { return error_; }

private:
    bool Fail(const std::string& reason);
    bool FlushAndClose();

    std::string finalPath_;
    std::string tempPath_;
    platform::NewFile file_;
    bool committed_ = false;
    bool closed_ = false;  // on the disk and closed: only its name is still to be given
    std::string error_;
};

}  // namespace veltra
