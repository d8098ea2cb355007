#include "base/Dates.h"

#include <cstdio>
#include <ctime>

namespace zarn {

std::string formatIso8601(SystemTime time) {
    auto seconds = std::chrono::floor<std::chrono::seconds>(time);
    std::time_t t = std::chrono::system_clock::to_time_t(seconds);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buffer;
}

namespace {

bool digits(std::string_view s, std::size_t pos, std::size_t count, int& value) {
    if (pos + count > s.size()) return false;
    value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

}  // namespace

std::optional<SystemTime> parseIso8601(std::string_view s) {
    int year, month, day, hour, minute, second;
    if (!digits(s, 0, 4, year) || s.size() < 20 || s[4] != '-' || !digits(s, 5, 2, month) || s[7] != '-' ||
        !digits(s, 8, 2, day) || s[10] != 'T' || !digits(s, 11, 2, hour) || s[13] != ':' ||
        !digits(s, 14, 2, minute) || s[16] != ':' || !digits(s, 17, 2, second)) {
        return std::nullopt;
    }
    int offsetMinutes = 0;
    std::string_view zone = s.substr(19);
    if (zone == "Z") {
    } else if ((zone.size() == 6 && zone[3] == ':') || zone.size() == 5) {
        int oh, om;
        if ((zone[0] != '+' && zone[0] != '-') || !digits(zone, 1, 2, oh) ||
            !digits(zone, zone.size() == 6 ? 4 : 3, 2, om) || oh > 23 || om > 59) {
            return std::nullopt;
        }
        offsetMinutes = (oh * 60 + om) * (zone[0] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    using namespace std::chrono;
    year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                       std::chrono::day(static_cast<unsigned>(day))};
    if (!ymd.ok() || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    // Counted in seconds first: the clock counts nanoseconds and holds only the years 1678 to 2261.
    sys_seconds when = sys_days(ymd) + hours(hour) + minutes(minute) + seconds(second) - minutes(offsetMinutes);
    if (when < floor<seconds>(SystemTime::min()) + seconds(1) || when > floor<seconds>(SystemTime::max())) {
        return std::nullopt;
    }
    return time_point_cast<SystemTime::duration>(when);
}

}  // namespace zarn
