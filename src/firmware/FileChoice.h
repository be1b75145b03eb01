#pragma once
// The operator's choice of a firmware file through the file-open dialog.
#include <string>

#include "firmware/FirmwareChoice.h"
#include "serial/Operator.h"

namespace veltra {

inline constexpr char kOpenDialogTitle[] = "Open";
// One entry that shows every file. "*" rather than "*.*": on this platform
// "*.*" would hide the names that have no dot.
inline constexpr char kAllFilesFilter[] = "All Files (*)";

// The folder of a path: its leading part up to and including the last
// separator ('/', and on Windows '\' too); empty when it has none.
std::string FolderOf(const std::string& path);

// Shows the dialog and, for a chosen file, replaces the whole choice (path,
// folder, length) and updates the file-name caption, the status line and the
// progress bar's maximum. A cancelled dialog, or a name that does not give a
// file's length, changes nothing.
void ChooseFirmwareFile(Operator& op, FirmwareChoice& choice);

}  // namespace veltra
