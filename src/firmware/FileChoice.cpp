#include "firmware/FileChoice.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace veltra {

std::string FolderOf(const std::string& path) {
    const auto last = path.rfind(kPathSeparator);
    return last == std::string::npos ? std::string{} : path.substr(0, last + 1);
}

void ChooseFirmwareFile(Operator& op, FirmwareChoice& choice) {
    const std::string name = op.AskOpenFileName(kOpenDialogTitle, kAllFilesFilter);
    if (name.empty()) return;

    // The length is taken before anything is replaced, so that a name that
    // names no file leaves the previous choice whole.
    struct stat st {};
    if (stat(name.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        op.ShowMessage({"Cannot open file " + name + ": " + std::strerror(err), MessageIcon::Warning, {}});
        return;
    }

    choice.path = name;
    choice.folder = FolderOf(name);
    choice.length = static_cast<std::int64_t>(st.st_size);
    op.SetFileNameCaption(choice.path);
    if (choice.length > 0) {
        op.SetProgressMaximum(choice.length > INT_MAX ? INT_MAX : static_cast<int>(choice.length));
    }
    op.SetStatusLine("Wait RUN button");
}

}  // namespace veltra
