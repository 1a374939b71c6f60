#pragma once

#include <string>
#include <string_view>

// The image tag of a wallpaper page, up to and including the quote that opens
// the picture's address. Matched byte for byte: no other spacing, attribute
// order, quotes or letter case.
inline constexpr std::string_view ImageMarker = "<img class=\"wallpaper\" src=\"";

// The picture address on a page line: the text after the first image marker,
// up to the next double quote or the end of the line. Nothing is decoded or
// resolved. A line without the marker (which callers test for first) gives
// "".
std::string ExtractImageUrl(std::string line);

class TStringList;

// Whether a page line holds the image marker anywhere.
bool HasImageMarker(const std::string& line);

// A page's lines: CR LF, a lone CR and a lone LF each end one line; a last
// line without a line end still counts; the text ends at its first NUL.
void SplitPageLines(const std::string& body, TStringList& lines);
