#pragma once

#include <string>

// Where pictures go when no folder was chosen, with a trailing '/': the
// program's own folder, as always, when it can be written; otherwise the
// "wallpapers" folder in the user's pictures folder (an installed program's
// folder is not the user's to fill). That folder may not exist yet.
std::string DefaultPictureDirectory(const std::string& programDirectory);

// Makes the folder and any missing parent. A folder that cannot be made
// raises EInOutError with the code of InOutError.h for its errno.
void ForcePictureDirectory(const std::string& directory);

// 0 when files can be made in the folder, else the errno that tells why.
// Asks with the effective credentials, which are the ones a file creation
// is checked against (plain access() would ask with the real ones).
int DirectoryWriteError(const std::string& directory);
