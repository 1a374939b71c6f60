#include "toolkit/runtime/Exception.h"

#include "toolkit/runtime/SysUtils.h"

EFOpenError::EFOpenError(const std::string& fileName, int systemError)
    : EStreamError("Cannot open file \"" + ExpandFileName(fileName) + "\". " +
                   SysErrorMessage(systemError)) {}

EFCreateError::EFCreateError(const std::string& fileName, int systemError)
    : EStreamError("Cannot create file \"" + ExpandFileName(fileName) + "\". " +
                   SysErrorMessage(systemError)),
      SystemError(systemError) {}
