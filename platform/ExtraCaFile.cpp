#include "platform/ExtraCaFile.h"

#include <cstdlib>

std::string ExtraCaFile() {
    const char* file = std::getenv("WALLPAPERS_EXTRA_CA_FILE");
    return file != nullptr ? file : "";
}
