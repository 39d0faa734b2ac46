// Times as the tool shows them: ISO 8601, in UTC ("2016-01-02T03:04:05Z", as the log's own stamps
// are) or, when asked, in the machine's time zone with its offset ("2016-01-02T04:04:05+01:00").
#ifndef TEV_TOOL_TIMES_H
#define TEV_TOOL_TIMES_H

#include <cstdint>
#include <string>

namespace tevtool {

// Seconds since 1970-01-01 00:00 of a date and time of the proleptic Gregorian calendar.
std::int64_t SecondsSinceEpoch(int year, int month, int day, int hour, int minute, int second);

// Whether times are shown in the machine's time zone (false, UTC, until told otherwise).
void ShowTimesInLocalZone(bool local);

// Appends the moment `seconds` after 1970-01-01 00:00 UTC.
void AppendTime(std::int64_t seconds, std::string& out);

}  // namespace tevtool

#endif
