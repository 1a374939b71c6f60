#include "app/PictureDirectory.h"

#include "app/InOutError.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

std::string DefaultPictureDirectory(const std::string& programDirectory) {
    if (DirectoryWriteError(programDirectory) == 0)
        return programDirectory;
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return QFile::encodeName(pictures + QStringLiteral("/wallpapers/")).toStdString();
}

void ForcePictureDirectory(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error)
        throw InOutErrorFromErrno(error.value());
}

int DirectoryWriteError(const std::string& directory) {
    return ::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}
