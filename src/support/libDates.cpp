#include "support/libDates.h"

#include "support/libStrings.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

namespace libDates {

namespace {
constexpr int64_t kEpochOffsetDays = 25569; // 1899-12-30 -> 1970-01-01
const std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = FloorDiv(y, 400);
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = FloorDiv(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Whole seconds since 1899-12-30 00:00 of a serial. Negative serials keep the classic meaning:
// the whole part counts days back, the fraction is the time of that day.
int64_t SerialSeconds(double d) {
    if (!std::isfinite(d)) return 0;
    // The classic range, year 100 to 9999: a damaged value never overflows the arithmetic.
    d = std::clamp(d, -657434.0, 2958465.99998);
    double dDays = std::trunc(d);
    double dFrac = std::fabs(d - dDays);
    int64_t iSecs = std::llround(dFrac * 86400.0);
    return static_cast<int64_t>(dDays) * 86400 + iSecs;
}

double SecondsToSerial(int64_t iSecs) {
    int64_t iDays = FloorDiv(iSecs, 86400);
    int64_t iRest = iSecs - iDays * 86400;
    if (iDays >= 0) return static_cast<double>(iDays) + iRest / 86400.0;
    // Negative days: classic layout (day count, then positive time fraction).
    return static_cast<double>(iDays) - iRest / 86400.0;
}

// Clock state.
std::mutex g_clockMutex;
enum class ClockMode { Real, Fixed } g_mode = ClockMode::Real;
double g_clockBase = 0;

Fields FieldsFromTm(const std::tm& tm) {
    return Fields{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// Local wall-clock seconds (as if UTC) of an instant.
std::optional<int64_t> NaiveLocal(std::time_t t) {
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return std::nullopt;
    return DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * 86400 + tm.tm_hour * 3600 + tm.tm_min * 60 +
           tm.tm_sec;
}
} // namespace

double DateSerial(int iYear, int iMonth, int iDay) {
    int64_t y = iYear + FloorDiv(iMonth - 1, 12);
    int m = static_cast<int>(iMonth - 1 - FloorDiv(iMonth - 1, 12) * 12) + 1;
    int64_t days = DaysFromCivil(y, m, 1) + (iDay - 1) + kEpochOffsetDays;
    return static_cast<double>(days);
}

double TimeSerial(int iHour, int iMinute, int iSecond) {
    return (static_cast<double>(iHour) * 3600 + iMinute * 60.0 + iSecond) / 86400.0;
}

Fields ToFields(double d) {
    int64_t s = SerialSeconds(d);
    int64_t iDays = FloorDiv(s, 86400);
    int64_t iRest = s - iDays * 86400;
    Fields f;
    CivilFromDays(iDays - kEpochOffsetDays, f.Year, f.Month, f.Day);
    f.Hour = static_cast<int>(iRest / 3600);
    f.Minute = static_cast<int>(iRest / 60 % 60);
    f.Second = static_cast<int>(iRest % 60);
    return f;
}

double FromFields(const Fields& f) {
    int64_t iDays = DaysFromCivil(f.Year, f.Month, f.Day) + kEpochOffsetDays;
    return SecondsToSerial(iDays * 86400 + f.Hour * 3600 + f.Minute * 60 + f.Second);
}

int Year(double d) { return ToFields(d).Year; }
int Month(double d) { return ToFields(d).Month; }
int Day(double d) { return ToFields(d).Day; }
int Hour(double d) { return ToFields(d).Hour; }
int Minute(double d) { return ToFields(d).Minute; }
int Second(double d) { return ToFields(d).Second; }
int Weekday(double d) {
    int64_t iDays = FloorDiv(SerialSeconds(d), 86400);
    return static_cast<int>(((iDays + 6) % 7 + 7) % 7) + 1;
}

double DateValue(double d) {
    Fields f = ToFields(d);
    return static_cast<double>(DaysFromCivil(f.Year, f.Month, f.Day) + kEpochOffsetDays);
}

double TimeValue(double d) {
    Fields f = ToFields(d);
    return TimeSerial(f.Hour, f.Minute, f.Second);
}

double AddMonths(double d, int iMonths) {
    Fields f = ToFields(d);
    int64_t iTotal = std::clamp<int64_t>(int64_t(f.Year) * 12 + (f.Month - 1) + iMonths, 0, 10000 * 12);
    f.Year = static_cast<int>(FloorDiv(iTotal, 12));
    f.Month = static_cast<int>(iTotal - int64_t(f.Year) * 12) + 1;
    f.Day = std::min(f.Day, DaysInMonth(f.Year, f.Month));
    return FromFields(f);
}

double AddSeconds(double d, double dSeconds) {
    if (!std::isfinite(dSeconds)) return d;
    dSeconds = std::clamp(dSeconds, -1e12, 1e12);
    return SecondsToSerial(SerialSeconds(d) + std::llround(dSeconds));
}

double Now() {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    switch (g_mode) {
    case ClockMode::Fixed:
        return g_clockBase;
    case ClockMode::Real:
        break;
    }
    return FromTimeT(std::time(nullptr));
}

void SetClock(double dFixed) {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    g_mode = ClockMode::Fixed;
    g_clockBase = dFixed;
}

void ResetClock() {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    g_mode = ClockMode::Real;
}

double FromTimeT(std::time_t t) {
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return 0;
    return FromFields(FieldsFromTm(tm));
}

std::time_t ToTimeT(double d) {
    Fields f = ToFields(d);
    int64_t iWanted = DaysFromCivil(f.Year, f.Month, f.Day) * 86400 + f.Hour * 3600 + f.Minute * 60 + f.Second;
    // The instant is wanted minus the zone's offset, which lies within +-26 hours. Try both DST
    // readings and keep the earliest instant whose local reading is exactly the wanted one.
    std::optional<std::time_t> best;
    for (int iDst : {0, 1, -1}) {
        std::tm tm{};
        tm.tm_year = f.Year - 1900;
        tm.tm_mon = f.Month - 1;
        tm.tm_mday = f.Day;
        tm.tm_hour = f.Hour;
        tm.tm_min = f.Minute;
        tm.tm_sec = f.Second;
        tm.tm_isdst = iDst;
        std::time_t t = mktime(&tm);
        if (t == static_cast<std::time_t>(-1) && NaiveLocal(-1) != iWanted) continue;
        if (NaiveLocal(t) == iWanted && (!best || t < *best)) best = t;
    }
    if (best) return *best;
    // A local time inside a spring-forward gap: the first instant at or after it, found by a
    // bounded bisection over the window where the offset can lie.
    int64_t lo = iWanted - 30 * 3600, hi = iWanted + 30 * 3600;
    for (int i = 0; i < 64 && lo < hi; ++i) {
        int64_t mid = lo + (hi - lo) / 2;
        auto local = NaiveLocal(static_cast<std::time_t>(mid));
        if (local && *local >= iWanted)
            hi = mid;
        else
            lo = mid + 1;
    }
    return static_cast<std::time_t>(hi);
}

double FromFileTimeNs(int64_t ns) {
    int64_t iSecs = FloorDiv(ns, 1000000000);
    int64_t iNanos = ns - iSecs * 1000000000;
    double d = FromTimeT(static_cast<std::time_t>(iSecs));
    return d + (d >= 0 ? 1 : -1) * (iNanos / 1e9) / 86400.0;
}

int64_t ToFileTimeNs(double d) { return static_cast<int64_t>(ToTimeT(d)) * 1000000000; }

std::string MonthAbbrev(int iMonth) { return iMonth >= 1 && iMonth <= 12 ? kMonths[iMonth - 1] : ""; }

std::string Format(double d, const std::string& sFormat) {
    Fields f = ToFields(d);
    char buf[64];
    const char* sMon = kMonths[(f.Month - 1) % 12];
    if (sFormat == "mmm-dd-yyyy hh:mm" || sFormat == "mmm-dd-yyyy HH:mm")
        std::snprintf(buf, sizeof buf, "%s-%02d-%04d %02d:%02d", sMon, f.Day, f.Year, f.Hour, f.Minute);
    else if (sFormat == "hh:mm" || sFormat == "HH:mm")
        std::snprintf(buf, sizeof buf, "%02d:%02d", f.Hour, f.Minute);
    else if (sFormat == "mm/dd/yyyy hh:mm:ss")
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", f.Month, f.Day, f.Year, f.Hour, f.Minute,
                      f.Second);
    else if (sFormat == "yyyymmdd")
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", f.Year, f.Month, f.Day);
    else if (sFormat == "mmddyyyy")
        std::snprintf(buf, sizeof buf, "%02d%02d%04d", f.Month, f.Day, f.Year);
    else
        return "";
    return buf;
}

std::string ShortDateTime(double d) { return Format(d, "mm/dd/yyyy hh:mm:ss"); }

namespace {
struct Token {
    enum Kind { Num, Word, Sep } kind;
    std::string text;
    char sep = 0;
};

std::vector<Token> Tokenize(const std::string& s, bool& bOk) {
    std::vector<Token> out;
    bOk = true;
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isdigit(c)) {
            size_t j = i;
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
                ++j;
            out.push_back({Token::Num, s.substr(i, j - i)});
            i = j;
        } else if (std::isalpha(c)) {
            size_t j = i;
            while (j < s.size() && std::isalpha(static_cast<unsigned char>(s[j])))
                ++j;
            out.push_back({Token::Word, s.substr(i, j - i)});
            i = j;
        } else if (c == ' ' || c == '\t' || c == '-' || c == '/' || c == ':' || c == ',' || c == '.') {
            char sep = static_cast<char>(c == '\t' ? ' ' : c);
            // Runs of blanks collapse; a blank next to another separator is dropped.
            if (sep == ' ') {
                if (!out.empty() && out.back().kind == Token::Sep) {
                    ++i;
                    continue;
                }
            } else if (!out.empty() && out.back().kind == Token::Sep && out.back().sep == ' ') {
                out.back().sep = sep;
                ++i;
                continue;
            } else if (!out.empty() && out.back().kind == Token::Sep) {
                bOk = false;
                return out;
            }
            out.push_back({Token::Sep, "", sep});
            ++i;
        } else {
            bOk = false;
            return out;
        }
    }
    return out;
}

int MonthFromWord(const std::string& w) {
    static const std::array<const char*, 12> kFull = {"january",   "february", "march",    "april",
                                                      "may",       "june",     "july",     "august",
                                                      "september", "october",  "november", "december"};
    std::string l = libStrings::LCase(w);
    for (int i = 0; i < 12; ++i) {
        if (l == libStrings::LCase(kMonths[i]) || l == kFull[i]) return i + 1;
        if (i == 8 && l == "sept") return 9;
    }
    return 0;
}

bool ToInt(const std::string& s, int& v) {
    if (s.empty() || s.size() > 6) return false;
    v = std::stoi(s);
    return true;
}

// A time: H:M[:S] [AM|PM] or H AM|PM, in tokens [b, e).
bool ParseTime(const std::vector<Token>& t, size_t b, size_t e, double& dTime) {
    std::vector<const Token*> tk;
    for (size_t i = b; i < e; ++i)
        tk.push_back(&t[i]);
    int iAmPm = 0;
    if (!tk.empty() && tk.back()->kind == Token::Word) {
        std::string w = libStrings::LCase(tk.back()->text);
        if (w == "am" || w == "a")
            iAmPm = 1;
        else if (w == "pm" || w == "p")
            iAmPm = 2;
        else
            return false;
        tk.pop_back();
        if (!tk.empty() && tk.back()->kind == Token::Sep && tk.back()->sep == ' ') tk.pop_back();
    }
    std::vector<int> parts;
    for (size_t i = 0; i < tk.size(); ++i) {
        if (i % 2 == 0) {
            int v;
            if (tk[i]->kind != Token::Num || tk[i]->text.size() > 2 || !ToInt(tk[i]->text, v)) return false;
            parts.push_back(v);
        } else if (tk[i]->kind != Token::Sep || tk[i]->sep != ':') {
            return false;
        }
    }
    if (tk.size() % 2 == 0) return false;
    if (parts.empty() || parts.size() > 3) return false;
    if (parts.size() == 1 && !iAmPm) return false;
    int h = parts[0], m = parts.size() > 1 ? parts[1] : 0, s = parts.size() > 2 ? parts[2] : 0;
    if (iAmPm) {
        if (h < 1 || h > 12) return false;
        if (h == 12) h = 0;
        if (iAmPm == 2) h += 12;
    }
    if (h > 23 || m > 59 || s > 59) return false;
    dTime = TimeSerial(h, m, s);
    return true;
}

int ExpandYear(const std::string& s) {
    int y;
    if (!ToInt(s, y)) return -1;
    if (s.size() <= 2) return y < 30 ? 2000 + y : 1900 + y;
    if (s.size() == 3 || s.size() == 4) return y;
    return -1;
}

bool MakeDate(int y, int m, int d, double& dDate) {
    if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
    dDate = DateSerial(y, m, d);
    return true;
}

// A date in tokens [b, e): numbers and month words separated by "-", "/", ".", "," or blanks.
bool ParseDate(const std::vector<Token>& t, size_t b, size_t e, double& dDate) {
    std::vector<const Token*> items;
    std::vector<char> seps;
    for (size_t i = b; i < e; ++i) {
        if (t[i].kind == Token::Sep) {
            if (items.empty() || seps.size() == items.size()) return false;
            seps.push_back(t[i].sep);
        } else {
            if (seps.size() != items.size()) return false;
            items.push_back(&t[i]);
        }
    }
    if (items.empty() || seps.size() != items.size() - 1) return false;
    for (char c : seps)
        if (c == ':') return false;
    // Leading weekday names ("Tue, Jan 5 2027") are allowed and ignored.
    if (items[0]->kind == Token::Word && !MonthFromWord(items[0]->text)) {
        static const char* kDays[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
        std::string w = libStrings::LCase(items[0]->text).substr(0, 3);
        bool bDay = false;
        for (auto* k : kDays)
            bDay = bDay || w == k;
        if (!bDay) return false;
        items.erase(items.begin());
        seps.erase(seps.begin());
        if (items.empty()) return false;
    }
    int iWords = 0;
    for (auto* it : items)
        iWords += it->kind == Token::Word;
    int iCurrentYear = Year(Now());
    if (iWords == 1) {
        int m = 0;
        std::vector<std::string> nums;
        size_t iWordPos = 0;
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i]->kind == Token::Word) {
                m = MonthFromWord(items[i]->text);
                iWordPos = i;
            } else {
                nums.push_back(items[i]->text);
            }
        }
        if (!m || nums.empty() || nums.size() > 2 || iWordPos > 1) return false;
        int d;
        int y = iCurrentYear;
        if (iWordPos == 0) { // Jan-05-2027, Jan 5, 2027, Jan 5
            if (nums[0].size() > 2 || !ToInt(nums[0], d)) return false;
            if (nums.size() == 2 && (y = ExpandYear(nums[1])) < 0) return false;
        } else { // 05-Jan-2027, 5 Jan 2027
            if (items.size() != 3 && items.size() != 2) return false;
            if (nums[0].size() > 2 || !ToInt(nums[0], d)) return false;
            if (nums.size() == 2 && (y = ExpandYear(nums[1])) < 0) return false;
        }
        return MakeDate(y, m, d, dDate);
    }
    if (iWords != 0) return false;
    if (items.size() == 3) {
        for (char c : seps)
            if (c != seps[0]) return false;
        if (seps[0] == ',') return false;
        const std::string& a = items[0]->text;
        const std::string& bb = items[1]->text;
        const std::string& c = items[2]->text;
        int v1, v2;
        if (a.size() == 4) { // yyyy-mm-dd
            if (bb.size() > 2 || c.size() > 2 || !ToInt(bb, v1) || !ToInt(c, v2)) return false;
            int y;
            ToInt(a, y);
            return MakeDate(y, v1, v2, dDate);
        }
        if (a.size() > 2 || bb.size() > 2 || !ToInt(a, v1) || !ToInt(bb, v2)) return false;
        int y = ExpandYear(c);
        if (y < 0) return false;
        return MakeDate(y, v1, v2, dDate); // month first, as the program writes dates
    }
    if (items.size() == 2 && (seps[0] == '/' || seps[0] == '-')) {
        int v1, v2;
        if (items[0]->text.size() > 2 || items[1]->text.size() > 2) return false;
        if (!ToInt(items[0]->text, v1) || !ToInt(items[1]->text, v2)) return false;
        return MakeDate(iCurrentYear, v1, v2, dDate);
    }
    return false;
}
} // namespace

bool ParseDateTime(const std::string& sText, double& dSerial) {
    try {
        std::string s = libStrings::Trim(sText);
        if (s.empty()) return false;
        bool bOk = true;
        std::vector<Token> t = Tokenize(s, bOk);
        if (!bOk || t.empty()) return false;
        // ISO "2027-01-05T08:30": the T between a digit and a digit separates date and time.
        for (size_t i = 1; i + 1 < t.size(); ++i)
            if (t[i].kind == Token::Word && (t[i].text == "T" || t[i].text == "t") && t[i - 1].kind == Token::Num &&
                t[i + 1].kind == Token::Num)
                t[i] = Token{Token::Sep, "", ' '};
        if (t.front().kind == Token::Sep || t.back().kind == Token::Sep) return false;
        // Find the time: the run of tokens containing ':' (or a trailing AM/PM).
        size_t iColon = t.size();
        for (size_t i = 0; i < t.size(); ++i)
            if (t[i].kind == Token::Sep && t[i].sep == ':') {
                iColon = i;
                break;
            }
        size_t tb = t.size(), te = t.size();
        if (iColon < t.size()) {
            if (iColon == 0) return false;
            tb = iColon - 1;
            te = iColon;
            while (te < t.size() && !(t[te].kind == Token::Sep && t[te].sep != ':'))
                ++te;
            // Optional " AM"/" PM" after the time.
            if (te + 1 < t.size() && t[te].sep == ' ' && t[te + 1].kind == Token::Word) {
                std::string w = libStrings::LCase(t[te + 1].text);
                if (w == "am" || w == "pm" || w == "a" || w == "p") te += 2;
            }
        } else if (t.back().kind == Token::Word) {
            std::string w = libStrings::LCase(t.back().text);
            if (w == "am" || w == "pm") {
                tb = t.size() - 1;
                if (tb > 0 && t[tb - 1].kind == Token::Sep && t[tb - 1].sep == ' ') --tb;
                if (tb == 0 || t[tb - 1].kind != Token::Num) return false;
                --tb;
                te = t.size();
            }
        }
        double dTime = 0, dDate = 0;
        bool bHasTime = tb < t.size();
        if (bHasTime && !ParseTime(t, tb, te, dTime)) return false;
        // The date is what lies before or after the time, with the joining blank removed.
        size_t db = 0, de = t.size();
        if (bHasTime) {
            if (tb > 0 && te < t.size()) return false;
            if (tb > 0) {
                de = tb;
                if (de > 0 && t[de - 1].kind == Token::Sep) {
                    if (t[de - 1].sep != ' ') return false;
                    --de;
                }
            } else {
                db = te;
                if (db < t.size() && t[db].kind == Token::Sep) {
                    if (t[db].sep != ' ') return false;
                    ++db;
                }
            }
        }
        bool bHasDate = db < de;
        if (bHasDate && !ParseDate(t, db, de, dDate)) return false;
        if (!bHasDate && !bHasTime) return false;
        dSerial = dDate + dTime;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool IsDate(const std::string& sText) {
    double d;
    return ParseDateTime(sText, d);
}

std::string Stamp(double d) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d_%02d%02d%02d", Year(d), Month(d), Day(d), Hour(d), Minute(d),
                  Second(d));
    return buf;
}

bool ParseStamp(const std::string& sText, double& dWhen) {
    if (sText.size() != 17 || sText[4] != '-' || sText[7] != '-' || sText[10] != '_') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 13, 14, 15, 16})
        if (sText[i] < '0' || sText[i] > '9') return false;
    const std::string sIso =
        sText.substr(0, 10) + " " + sText.substr(11, 2) + ":" + sText.substr(13, 2) + ":" + sText.substr(15, 2);
    return ParseDateTime(sIso, dWhen);
}

} // namespace libDates
