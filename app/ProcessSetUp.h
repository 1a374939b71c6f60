#pragma once

#include <string>

// What the program does to its process before it creates a window:
// - SIGXFSZ is ignored, so that a write past a file size limit (ulimit -f)
//   fails with EFBIG, reported as "Disk full", instead of killing the
//   program with its log unsaved;
// - named temporary files that a killed earlier run left beside the
//   pictures (pictureDirectory, with a trailing "/") and beside the log (the
//   current directory) are removed.
void SetUpProcess(const std::string& pictureDirectory);
