#include "toolkit/runtime/Exception.h"

#include "toolkit/runtime/SysUtils.h"

#include <cerrno>

EFOpenError::EFOpenError(const std::string& fileName, int systemError)
    : EStreamError("Cannot open file \"" + ExpandFileName(fileName) + "\". " +
                   SysErrorMessage(systemError)) {}

EFCreateError::EFCreateError(const std::string& fileName, int systemError)
    : EStreamError("Cannot create file \"" + ExpandFileName(fileName) + "\". " +
                   SysErrorMessage(systemError)),
      SystemError(systemError) {}

namespace {

std::string ReasonText(TNotRegularReason reason) {
    switch (reason) {
    case TNotRegularReason::NotRegular:
        break;
    case TNotRegularReason::DanglingLink:
        return "Symbolic link to a missing file";
    }
    return "Not a regular file";
}

} // namespace

EFOpenError::EFOpenError(const std::string& fileName, const std::string& reason)
    : EStreamError("Cannot open file \"" + ExpandFileName(fileName) + "\". " + reason) {}

EFCreateError::EFCreateError(const std::string& fileName, int systemError,
                             const std::string& reason)
    : EStreamError("Cannot create file \"" + ExpandFileName(fileName) + "\". " + reason),
      SystemError(systemError) {}

// EPERM keeps a caller that reports by errno from calling it a missing file.
ENotRegularFile::ENotRegularFile(const std::string& fileName, TNotRegularReason reason)
    : EFCreateError(fileName, EPERM, ReasonText(reason)), Reason(reason) {}

EFOpenNotRegular::EFOpenNotRegular(const std::string& fileName)
    : EFOpenError(fileName, ReasonText(TNotRegularReason::NotRegular)) {}
