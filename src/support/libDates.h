#pragma once
// Date-times are doubles counting days since 1899-12-30 00:00 in local wall-clock
// time; the fraction is the time of day. This module is the only place that
// converts, formats, parses and reads the clock.

#include <cstdint>
#include <ctime>
#include <string>

namespace libDates {

constexpr double NotComputed = 2.0;    // 1900-01-01 00:00
constexpr double FarFuture = 401769.0; // 3000-01-01 00:00

// Calendar to serial. Months and days out of range roll over as the classic DateSerial does
// (month 13 is January of the next year, day 0 the last day of the previous month).
double DateSerial(int iYear, int iMonth, int iDay);
// Fraction of a day; hours/minutes/seconds out of range roll over (may leave [0,1)).
double TimeSerial(int iHour, int iMinute, int iSecond);

// Calendar fields of a serial (seconds rounded to the nearest second).
int Year(double d);
int Month(double d);
int Day(double d);
int Hour(double d);
int Minute(double d);
int Second(double d);
int Weekday(double d); // Sunday = 1 .. Saturday = 7

struct Fields {
    int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0;
};
Fields ToFields(double d);
double FromFields(const Fields& f);

// The date part (whole days, toward minus infinity for the classic positive range) and the time part.
double DateValue(double d);
double TimeValue(double d);

// Adds months, keeping the time; a day beyond the new month's end becomes its last day.
double AddMonths(double d, int iMonths);
// Adds seconds exactly (serial arithmetic, rounded to whole seconds).
double AddSeconds(double d, double dSeconds);

// The one clock. Tests may fix it.
double Now();
void SetClock(double dFixed);
void ResetClock();

// Local wall-clock conversions. A nonexistent local time (spring-forward gap) maps to the
// instant just after the gap; an ambiguous one (fall-back) to its first occurrence.
double FromTimeT(std::time_t t);
std::time_t ToTimeT(double d);
// A modification time in nanoseconds since 1970-01-01 UTC, as a local serial.
double FromFileTimeNs(int64_t ns);
int64_t ToFileTimeNs(double d);

// Exactly these formats: "mmm-dd-yyyy hh:mm", "hh:mm", "mmm-dd-yyyy HH:mm", "mm/dd/yyyy hh:mm:ss",
// "yyyymmdd", "mmddyyyy" (months Jan..Dec, 24-hour). Any other format text returns "".
std::string Format(double d, const std::string& sFormat);
// The short date and time of error reports: "mm/dd/yyyy hh:mm:ss".
std::string ShortDateTime(double d);
// Month abbreviation Jan..Dec (1..12), "" otherwise.
std::string MonthAbbrev(int iMonth);

// "A recognisable date or time". Accepts the program's own formats ("Jan-05-2027 08:30",
// "01/05/2027 08:30:00"), ISO "2027-01-05 08:30[:ss]", "05 Jan 2027", "Jan 5, 2027",
// a date alone (serial whole part) or a time alone ("7:5", "08:30", "8:30 PM"; fraction only).
// Rejects garbage and out-of-range fields. Years 100..9999.
bool ParseDateTime(const std::string& sText, double& dSerial);
bool IsDate(const std::string& sText);

// "YYYY-MM-DD_HHMMSS" of the moment d: the dated names of snapshots and off-site backups. And
// back: false for any other text, or for a date or time that does not exist.
std::string Stamp(double d);
bool ParseStamp(const std::string& sText, double& dWhen);

} // namespace libDates
