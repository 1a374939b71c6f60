#include "app/ExtractImageUrl.h"

std::string ExtractImageUrl(std::string line) {
    const auto marker = line.find(ImageMarker);
    if (marker == std::string::npos)
        return {};
    line.erase(0, marker + ImageMarker.size());
    const auto quote = line.find('"');
    if (quote != std::string::npos)
        line.erase(quote);
    return line;
}
