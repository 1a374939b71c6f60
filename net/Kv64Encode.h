#pragma once

class TStream;

// Both encoders read the whole input stream from its start and append their
// text after whatever the output stream already holds. Lines carry 45 input
// bytes each and end with CR LF. Both return true; stream errors pass through.

// Base64 (RFC 2045 alphabet, "=" padding): 60 characters per full line with
// CR LF after each full line only; the last, shorter line has no line end.
// Empty input gives no output.
bool EncodeBase64(TStream& input, TStream& output);

// uuencode: each line starts with its byte count (a 6-bit value coded as
// the character v + 32, "`" for 0), groups are always four characters with
// missing bytes taken as 0, and every line ends with CR LF. The last line
// carries the bytes that do not fill a whole line, so it is the "`" line
// alone when there are none: for empty input, and also after the last full
// line of an input whose length is a multiple of 45, which gives decoders
// their usual zero-length end line.
bool EncodeUU(TStream& input, TStream& output);
