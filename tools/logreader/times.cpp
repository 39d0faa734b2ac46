#include "logreader/times.h"

#include <ctime>

namespace tevtool {
namespace {

bool localZone = false;

// Days since 1970-01-01 of a date.
std::int64_t DaysSinceEpoch(std::int64_t year, std::int64_t month, std::int64_t day) {
    year -= month <= 2;
    std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    std::int64_t yearOfEra = year - era * 400;
    std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct Date {
    std::int64_t year, month, day;
};

// The date `days` after 1970-01-01.
Date DateOf(std::int64_t days) {
    days += 719468;
    std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    std::int64_t dayOfEra = days - era * 146097;
    std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    std::int64_t shifted = (5 * dayOfYear + 2) / 153;
    std::int64_t month = shifted < 10 ? shifted + 3 : shifted - 9;
    return {yearOfEra + era * 400 + (month <= 2), month, dayOfYear - (153 * shifted + 2) / 5 + 1};
}

// How far the machine's clock is ahead of UTC at that moment, in seconds; 0 when the system cannot
// tell (a moment past what its time type holds).
std::int64_t LocalOffset(std::int64_t seconds) {
    auto time = static_cast<std::time_t>(seconds);
    if (static_cast<std::int64_t>(time) != seconds) return 0;
    const std::tm* local = std::localtime(&time);  // the tool has one thread
    if (!local) return 0;
    return SecondsSinceEpoch(local->tm_year + 1900, local->tm_mon + 1, local->tm_mday,
                             local->tm_hour, local->tm_min, local->tm_sec) -
           seconds;
}

void Put(std::string& text, std::int64_t value, int digits, const char* after) {
    if (value < 0 || value >= 10000) {
        text += std::to_string(value);
    } else {
        for (std::int64_t divisor = digits == 4 ? 1000 : 10; divisor; divisor /= 10)
            text += static_cast<char>('0' + value / divisor % 10);
    }
    text += after;
}

}  // namespace

std::int64_t SecondsSinceEpoch(int year, int month, int day, int hour, int minute, int second) {
    // A log's records share their date for hours: the last date's days are kept.
    thread_local int lastYear = 1970, lastMonth = 1, lastDay = 1;
    thread_local std::int64_t lastDays = 0;
    if (year != lastYear || month != lastMonth || day != lastDay) {
        lastDays = DaysSinceEpoch(year, month, day);
        lastYear = year;
        lastMonth = month;
        lastDay = day;
    }
    return lastDays * 86400 + hour * 3600 + minute * 60 + second;
}

void ShowTimesInLocalZone(bool local) { localZone = local; }

void AppendTime(std::int64_t seconds, std::string& out) {
    // Records come many to a second: the last text made is kept.
    thread_local std::int64_t lastSeconds = 0;
    thread_local bool lastLocal = false;
    thread_local std::string last;
    if (!last.empty() && seconds == lastSeconds && localZone == lastLocal) {
        out += last;
        return;
    }
    std::int64_t offset = localZone ? LocalOffset(seconds) : 0;
    std::int64_t shown = seconds + offset;
    std::int64_t days = shown / 86400, second = shown % 86400;
    if (second < 0) {
        second += 86400;
        --days;
    }
    Date date = DateOf(days);
    std::string text;
    text.reserve(25);
    Put(text, date.year, 4, "-");
    Put(text, date.month, 2, "-");
    Put(text, date.day, 2, "T");
    Put(text, second / 3600, 2, ":");
    Put(text, second / 60 % 60, 2, ":");
    if (!localZone) {
        Put(text, second % 60, 2, "Z");
    } else {
        Put(text, second % 60, 2, offset < 0 ? "-" : "+");
        std::int64_t minutes = (offset < 0 ? -offset : offset) / 60;
        Put(text, minutes / 60, 2, ":");
        Put(text, minutes % 60, 2, "");
    }
    lastSeconds = seconds;
    lastLocal = localZone;
    last = text;
    out += text;
}

}  // namespace tevtool
