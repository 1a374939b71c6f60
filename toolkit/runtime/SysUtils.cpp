#include "toolkit/runtime/SysUtils.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

std::string SysErrorMessage(int systemError) {
    std::string text = std::strerror(systemError);
    while (!text.empty() && (text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

std::string ExpandFileName(const std::string& fileName) {
    if (fileName.empty() || fileName.front() == '/')
        return fileName;
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof buffer))
        return fileName;
    std::string dir = buffer;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir + fileName;
}

std::string ExtractFilePath(const std::string& fileName) {
    const auto slash = fileName.rfind('/');
    return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& fileName) {
    const auto slash = fileName.rfind('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

std::string ExtractFileExt(const std::string& fileName) {
    const std::string name = ExtractFileName(fileName);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return ::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
