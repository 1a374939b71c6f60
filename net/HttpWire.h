#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The bytes of HTTP/1.0 as the HTTP component writes and reads them: the
// text that goes into a request head, and the parsers of the response
// head's lines. Pure functions of their arguments; those that every line of
// a head goes through are inline.
namespace HttpWire {

// Appends text for a request head. Spaces become "+" when spacesToPlus.
// Control bytes other than tab go: a CR or LF would end the line early and
// let the rest of a URL or a server's cookie pose as header lines, and the
// others have no place in a request head.
void AppendWireText(std::string& out, const std::string& text, bool spacesToPlus);
// The same into a string of its own.
std::string WireText(const std::string& text, bool spacesToPlus);

// A header line's text up to its first blank: its name with the colon,
// when the line has one.
inline std::string_view FirstField(const std::string& line) {
    return std::string_view(line).substr(0, line.find(' '));
}
// The line without its own line end: CR LF or a lone LF, nothing else.
inline std::string_view WithoutLineEnd(std::string_view line) {
    size_t end = line.size();
    if (end > 0 && line[end - 1] == '\n') {
        --end;
        if (end > 0 && line[end - 1] == '\r')
            --end;
    }
    return line.substr(0, end);
}
// The text from index on; empty when the text is shorter. A header line
// cut short by the close ("Location:" and nothing more) has no value.
std::string From(std::string_view text, size_t index);
// Only a line end ends a line; a header line without one was cut by the
// close.
inline bool EndsLine(const std::string& line) {
    return !line.empty() && line.back() == '\n';
}
// The empty line that ends a head: "\r\n" or a lone "\n".
inline bool IsEmptyLine(const std::string& line) {
    return (line.size() == 1 && line[0] == '\n') ||
           (line.size() == 2 && line[0] == '\r' && line[1] == '\n');
}
// The status code of a status line: its second blank-separated field, line
// end excluded, when that is a plain number that fits the reply code; else 0.
int16_t StatusCodeOf(const std::string& statusLine);
// "Content-Length:" followed by blanks and a number that fits 32 bits,
// blanks after it allowed; -1 for anything else (missing, negative,
// garbage, too big), which counts as no announced length.
int64_t ContentLengthOf(const std::string& line);
// The port written in a URL's port part (":8080"), or 0 when there is none
// or it is no port number.
int PortOfPortPart(const std::string& portPart);
// The redirects that name the next URL in their Location.
bool IsFollowedRedirect(int code);
// The text with ASCII capitals made small, for names compared without
// regard to case.
std::string LowerAscii(std::string text);

} // namespace HttpWire
