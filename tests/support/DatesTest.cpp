#include "common/TempAppFolder.h"

#include <cmath>

using namespace libDates;

class Dates : public TempAppFolder {};

TEST_F(Dates, SerialsAndCalendarAgree) {
    EXPECT_DOUBLE_EQ(DateSerial(1899, 12, 30), 0);
    EXPECT_DOUBLE_EQ(DateSerial(1900, 1, 1), NotComputed);
    EXPECT_DOUBLE_EQ(DateSerial(3000, 1, 1), FarFuture);
    EXPECT_DOUBLE_EQ(DateSerial(2027, 13, 1), DateSerial(2028, 1, 1));
    EXPECT_DOUBLE_EQ(DateSerial(2027, 3, 0), DateSerial(2027, 2, 28));
    EXPECT_DOUBLE_EQ(DateSerial(2028, 2, 30), DateSerial(2028, 3, 1));
    EXPECT_DOUBLE_EQ(DateSerial(2027, 0, 1), DateSerial(2026, 12, 1));
    double d = DateSerial(2024, 2, 29) + TimeSerial(23, 59, 59);
    EXPECT_EQ((std::vector<int>{Year(d), Month(d), Day(d), Hour(d), Minute(d), Second(d)}),
              (std::vector<int>{2024, 2, 29, 23, 59, 59}));
    EXPECT_EQ(Weekday(DateSerial(2027, 1, 3)), 1); // a Sunday
    EXPECT_EQ(Weekday(DateSerial(2027, 1, 9)), 7); // a Saturday
    EXPECT_DOUBLE_EQ(DateValue(d), DateSerial(2024, 2, 29));
    EXPECT_NEAR(TimeValue(d), TimeSerial(23, 59, 59), 1e-9);
    // 23:59:59.6 rounds into the next day, not to second 60.
    Fields f = ToFields(DateSerial(2027, 12, 31) + 86399.6 / 86400);
    EXPECT_EQ(f.Year, 2028);
    EXPECT_EQ(f.Hour, 0);
    EXPECT_DOUBLE_EQ(AddMonths(DateSerial(2027, 1, 31), 1), DateSerial(2027, 2, 28));
    EXPECT_DOUBLE_EQ(AddMonths(DateSerial(2027, 12, 15), 2), DateSerial(2028, 2, 15));
    // Damaged values from a file stay within the calendar instead of overflowing.
    EXPECT_EQ(Year(1e300), 9999);
    EXPECT_EQ(Year(-1e300), 100);
    EXPECT_EQ(Format(std::nan(""), "yyyymmdd"), "18991230");
    EXPECT_EQ(Year(AddMonths(1e300, 2147483647)), 9999);
    EXPECT_EQ(Year(AddSeconds(1, 1e300)), 9999);
}

// The formats job files, logs and archive names hold are checked exactly where they are written.
TEST_F(Dates, FixedFormats) {
    double d = DateSerial(2027, 1, 5) + TimeSerial(8, 3, 9);
    EXPECT_EQ(Format(d + 0.5, "mmm-dd-yyyy HH:mm"), "Jan-05-2027 20:03");
    EXPECT_EQ(Format(d, "mmddyyyy"), "01052027");
    EXPECT_EQ(Format(d, "dd.mm.yyyy"), "");
}

TEST_F(Dates, ParserAcceptsRecognisableDatesAndTimes) {
    double d = 0;
    const double expected = DateSerial(2027, 1, 5) + TimeSerial(8, 30, 0);
    for (const char* s : {"Jan-05-2027 08:30", "01/05/2027 08:30:00", "2027-01-05 08:30", "2027-01-05T08:30",
                          "jan 5, 2027 8:30", "05-Jan-2027 08:30", "5 January 2027 8:30 AM", "08:30 Jan-05-2027",
                          "  Jan-05-2027   08:30  ", "Tue, Jan 5 2027 08:30"}) {
        ASSERT_TRUE(ParseDateTime(s, d)) << s;
        EXPECT_NEAR(d, expected, 1e-9) << s;
    }
    const std::pair<const char*, double> more[] = {{"7:5", TimeSerial(7, 5, 0)},
                                                   {"23:59:59", TimeSerial(23, 59, 59)},
                                                   {"12:15 PM", TimeSerial(12, 15, 0)},
                                                   {"12:15 am", TimeSerial(0, 15, 0)},
                                                   {"Feb-29-2028", DateSerial(2028, 2, 29)},
                                                   {"12/31/99", DateSerial(1999, 12, 31)}}; // 30..99 are 19xx
    for (const auto& [s, dExpected] : more) {
        ASSERT_TRUE(ParseDateTime(s, d)) << s;
        EXPECT_NEAR(d, dExpected, 1e-9) << s;
    }
    // Every format the program writes parses back to the same minute.
    double t = DateSerial(2031, 10, 26) + TimeSerial(2, 45, 0);
    for (const char* f : {"mmm-dd-yyyy hh:mm", "mmm-dd-yyyy HH:mm", "mm/dd/yyyy hh:mm:ss"}) {
        ASSERT_TRUE(ParseDateTime(Format(t, f), d)) << f;
        EXPECT_NEAR(d, t, 1e-9) << f;
    }
}

TEST_F(Dates, ParserRejectsGarbageAndOutOfRangeFields) {
    double d = 42;
    const auto rejects = [&](std::initializer_list<const char*> texts) {
        for (const char* s : texts) {
            EXPECT_FALSE(ParseDateTime(s, d)) << s;
            EXPECT_FALSE(IsDate(s)) << s;
        }
    };
    rejects({"7", "24:00", "12:60", "10:00:60", "13:00 PM", "1:2:3:4", "08:30:", "08:30 08:30"});
    rejects({"", "   ", "abc", "Feb-29-2027", "13/01/2027", "01/32/2027", "2027-02-30", "Jan-05-2027 08:30 extra",
             "Foo-05-2027", "2027--01-05", "1/5/2027 8:30 XM", "\x01\x02", "Jan-05-20271", "0000-01-01", "12345678"});
    EXPECT_DOUBLE_EQ(d, 42); // untouched on failure
}

TEST_F(Dates, TheClockIsLocalTime) {
    ResetClock();
    EXPECT_NEAR(Now(), FromTimeT(std::time(nullptr)), 2.0 / 86400);
}

TEST_F(Dates, LocalTimeConversionsAcrossDaylightSavingChanges) {
    UseTimeZone("Europe/Berlin");
    // Spring forward: 2027-03-28 02:00 CET -> 03:00 CEST. 02:30 does not exist.
    double gap = DateSerial(2027, 3, 28) + TimeSerial(2, 30, 0);
    std::time_t tGap = ToTimeT(gap);
    EXPECT_EQ(Format(FromTimeT(tGap), "mm/dd/yyyy hh:mm:ss"), "03/28/2027 03:00:00");
    double before = DateSerial(2027, 3, 28) + TimeSerial(1, 59, 0);
    double after = DateSerial(2027, 3, 28) + TimeSerial(3, 0, 0);
    EXPECT_EQ(ToTimeT(after) - ToTimeT(before), 60); // one real minute
    // Fall back: 2027-10-31 03:00 CEST -> 02:00 CET. 02:30 happens twice; the first is taken.
    double amb = DateSerial(2027, 10, 31) + TimeSerial(2, 30, 0);
    std::time_t tAmb = ToTimeT(amb);
    EXPECT_EQ(ToTimeT(DateSerial(2027, 10, 31) + TimeSerial(3, 0, 0)) - tAmb, 2 * 3600 - 1800);
    EXPECT_DOUBLE_EQ(FromTimeT(tAmb), amb);
    EXPECT_DOUBLE_EQ(FromTimeT(tAmb + 3600), amb); // the second occurrence reads the same
    // Every minute of both change days round-trips or moves forward, never loops or crashes.
    for (double day : {DateSerial(2027, 3, 28), DateSerial(2027, 10, 31)})
        for (int m = 0; m < 24 * 60; m += 7) {
            double s = day + TimeSerial(0, m, 0);
            double back = FromTimeT(ToTimeT(s));
            EXPECT_GE(back + 1e-9, s);
            EXPECT_LE(back, s + TimeSerial(1, 0, 0) + 1e-9);
        }
    // A file time is read in local time.
    EXPECT_EQ(Format(FromFileTimeNs(int64_t(tGap) * 1000000000 + 600000000), "mm/dd/yyyy hh:mm:ss"),
              "03/28/2027 03:00:01"); // a fraction of a second rounds to the nearest second
    EXPECT_EQ(ToFileTimeNs(after), int64_t(ToTimeT(after)) * 1000000000);
}
