#pragma once

#include <chrono>
#include <optional>
#include <string_view>

// An HTTP date, the whole text and nothing else: the IMF-fixdate
// "Sun, 06 Nov 1994 08:49:37 GMT", or one of the obsolete forms that
// recipients must still read, RFC 850's "Sunday, 06-Nov-94 08:49:37 GMT" and
// asctime's "Sun Nov  6 08:49:37 1994". Names are matched with their letter
// case, as the forms write them; the day of the week is not checked against
// the date. A two-digit year is the one within 50 years of now.
std::optional<std::chrono::sys_seconds> ParseHttpDate(std::string_view text,
                                                      std::chrono::sys_seconds now);
