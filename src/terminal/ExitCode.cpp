#include "terminal/ExitCode.h"

#include "loader/Download.h"

namespace veltra::terminal {

ExitCode ExitCodeOfStatus(const std::string& status) {
    const auto startsWith = [&](const char* prefix) { return status.rfind(prefix, 0) == 0; };
    if (startsWith(kStatusSuccessful)) return kExitSuccess;
    if (status == kStatusNoConnection) return kExitNoConnection;
    if (status == kStatusFileError || status == kStatusNoFile) return kExitFileProblem;
    return kExitFailed;
}

}  // namespace veltra::terminal
