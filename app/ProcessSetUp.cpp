#include "app/ProcessSetUp.h"

#include "toolkit/runtime/TAtomicFileStream.h"

#include <csignal>

void SetUpProcess(const std::string& pictureDirectory) {
    std::signal(SIGXFSZ, SIG_IGN);
    // Only where the file system could not make them unnamed.
    TAtomicFileStream::RemoveStaleTemporaries(pictureDirectory);
    TAtomicFileStream::RemoveStaleTemporaries(std::string());
}
