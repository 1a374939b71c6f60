#pragma once

#include <string>

// The system's text for an errno value, without trailing blanks and periods,
// as the file error messages embed it.
std::string SysErrorMessage(int systemError);

// Absolute form of a file name, resolved against the current directory.
std::string ExpandFileName(const std::string& fileName);

// Everything up to and including the last '/', or "" when there is none.
std::string ExtractFilePath(const std::string& fileName);

// The part after the last '/'.
std::string ExtractFileName(const std::string& fileName);

// The extension of the name part including its dot (".jpg"), or "".
std::string ExtractFileExt(const std::string& fileName);

bool FileExists(const std::string& fileName);
