#include "app/HttpDate.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

constexpr std::array<std::string_view, 12> MonthNames { "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
constexpr std::array<std::string_view, 7> DayNames {
    "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"
};
constexpr std::array<std::string_view, 7> LongDayNames { "Monday",   "Tuesday", "Wednesday",
                                                         "Thursday", "Friday",  "Saturday",
                                                         "Sunday" };

// Reads an HTTP date from the front of a text, piece by piece; any piece
// that does not fit makes it fail, and a failed reader stays failed.
class TDateReader {
public:
    explicit TDateReader(std::string_view text) : m_text(text) {}

    bool AtEnd() const { return m_ok && m_text.empty(); }

    void Literal(std::string_view literal) { Take(m_text.starts_with(literal), literal.size()); }
    // The index of the name found.
    template <size_t N> int Name(const std::array<std::string_view, N>& names) {
        for (size_t i = 0; i < N; ++i)
            if (m_text.starts_with(names[i])) {
                Take(true, names[i].size());
                return static_cast<int>(i);
            }
        Take(false, 0);
        return 0;
    }
    // Exactly `digits` decimal digits.
    int Number(size_t digits) {
        int value = 0;
        for (size_t i = 0; i < digits && m_ok; ++i) {
            const char c = m_text.empty() ? '\0' : m_text.front();
            Take(c >= '0' && c <= '9', 1);
            value = value * 10 + (c - '0');
        }
        return value;
    }
    // Two digits, or a space and one digit.
    int PaddedNumber() {
        if (!m_text.starts_with(' '))
            return Number(2);
        Take(true, 1);
        return Number(1);
    }
    // hh:mm:ss as seconds into the day; 60 seconds is a leap second.
    int64_t TimeOfDay() {
        const int hour = Number(2);
        Literal(":");
        const int minute = Number(2);
        Literal(":");
        const int second = Number(2);
        Take(hour <= 23 && minute <= 59 && second <= 60, 0);
        return int64_t { hour } * 3600 + minute * 60 + second;
    }

private:
    void Take(bool fits, size_t length) {
        m_ok = m_ok && fits;
        if (m_ok)
            m_text.remove_prefix(length);
    }

    std::string_view m_text;
    bool m_ok { true };
};

using SysSeconds = std::chrono::sys_seconds;

std::optional<SysSeconds> DateTime(int year, int month, int day, int64_t timeOfDay) {
    const std::chrono::year_month_day date { std::chrono::year(year),
                                             std::chrono::month(static_cast<unsigned>(month)),
                                             std::chrono::day(static_cast<unsigned>(day)) };
    if (!date.ok())
        return std::nullopt;
    return SysSeconds(std::chrono::sys_days(date)) + std::chrono::seconds(timeOfDay);
}

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::optional<SysSeconds> FixDate(std::string_view text) {
    TDateReader read(text);
    read.Name(DayNames);
    read.Literal(", ");
    const int day = read.Number(2);
    read.Literal(" ");
    const int month = read.Name(MonthNames) + 1;
    read.Literal(" ");
    const int year = read.Number(4);
    read.Literal(" ");
    const int64_t time = read.TimeOfDay();
    read.Literal(" GMT");
    return read.AtEnd() ? DateTime(year, month, day, time) : std::nullopt;
}

// "Sunday, 06-Nov-94 08:49:37 GMT". A two-digit year more than 50 years
// ahead of now is the latest past year with those digits; the year is
// never more than 50 years behind now either.
std::optional<SysSeconds> Rfc850Date(std::string_view text, SysSeconds now) {
    TDateReader read(text);
    read.Name(LongDayNames);
    read.Literal(", ");
    const int day = read.Number(2);
    read.Literal("-");
    const int month = read.Name(MonthNames) + 1;
    read.Literal("-");
    const int shortYear = read.Number(2);
    read.Literal(" ");
    const int64_t time = read.TimeOfDay();
    read.Literal(" GMT");
    if (!read.AtEnd())
        return std::nullopt;
    const int thisYear = static_cast<int>(
        std::chrono::year_month_day(std::chrono::floor<std::chrono::days>(now)).year());
    int year = thisYear - thisYear % 100 + shortYear;
    if (year > thisYear + 50)
        year -= 100;
    else if (year <= thisYear - 50)
        year += 100;
    return DateTime(year, month, day, time);
}

// "Sun Nov  6 08:49:37 1994": the day is padded with a space.
std::optional<SysSeconds> AsctimeDate(std::string_view text) {
    TDateReader read(text);
    read.Name(DayNames);
    read.Literal(" ");
    const int month = read.Name(MonthNames) + 1;
    read.Literal(" ");
    const int day = read.PaddedNumber();
    read.Literal(" ");
    const int64_t time = read.TimeOfDay();
    read.Literal(" ");
    const int year = read.Number(4);
    return read.AtEnd() ? DateTime(year, month, day, time) : std::nullopt;
}

} // namespace

std::optional<std::chrono::sys_seconds> ParseHttpDate(std::string_view text,
                                                      std::chrono::sys_seconds now) {
    std::optional<SysSeconds> date = FixDate(text);
    if (!date)
        date = Rfc850Date(text, now);
    if (!date)
        date = AsctimeDate(text);
    return date;
}
