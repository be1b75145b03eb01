#include "firmware/FileChoice.h"

#include <climits>

#include "firmware/FileSystem.h"
#include "firmware/FirmwareImage.h"

namespace veltra {

std::string FolderOf(const std::string& path) { return path.substr(0, platform::FileNameStart(path)); }

void ChooseFirmwareFile(Operator& op, FirmwareChoice& choice) {
    const std::string name = op.AskOpenFileName(kOpenDialogTitle, kAllFilesFilter);
    if (name.empty()) return;

    // The file is checked before anything is replaced, so that a name the
    // operations would refuse (no file, a folder, a pipe, a device) leaves the
    // previous choice whole.
    const auto length = CheckFirmwareFile(op, name);
    if (!length) return;

    choice.path = name;
    choice.folder = FolderOf(name);
    choice.length = *length;
    op.SetFileNameCaption(choice.path);
    if (choice.length > 0) {
        op.SetProgressMaximum(choice.length > INT_MAX ? INT_MAX : static_cast<int>(choice.length));
    }
    op.SetStatusLine("Wait RUN button");
}

}  // namespace veltra
