#include "app/ExtractImageUrl.h"

#include "toolkit/runtime/TStringList.h"

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

bool HasImageMarker(const std::string& line) {
    return line.find(ImageMarker) != std::string::npos;
}

void SplitPageLines(const std::string& body, TStringList& lines) {
    lines.SetText(body.substr(0, body.find('\0')));
}
