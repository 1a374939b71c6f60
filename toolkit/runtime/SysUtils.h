#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// Converts text as a signed 32-bit integer: leading blanks, then at most one
// "+" or "-", then decimal digits, or hexadecimal digits (either case) after
// exactly one of the prefixes "$", "x" and "0x"; nothing may follow the
// digits. The value with its sign applied must lie in the signed 32-bit
// range, whatever the base ("-$80000000" is the least, "$FFFFFFFF" is out of
// range). Returns false, leaving value alone, for anything else.
bool TryStrToInt(std::string_view text, int32_t& value);

// TryStrToInt's value, or fallback when the text is not such a number.
int32_t StrToIntDef(std::string_view text, int32_t fallback);

// Turns every lone CR and every lone LF into CR LF; a CR LF pair stays one
// line end (so LF CR becomes two line ends).
std::string AdjustLineBreaks(std::string_view text);
