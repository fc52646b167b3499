// The next run of a job: daily, weekly, monthly, one-shot dates, the cache, and local time
// across daylight-saving changes.

#include "common/TempAppFolder.h"
#include "jobs/CBackupJob.h"

#include <chrono>

namespace {

class Schedule : public TempAppFolder {};

using libDates::DateSerial;
using libDates::TimeSerial;

double At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return DateSerial(y, mo, d) + TimeSerial(h, mi, s);
}

std::string Show(double d) { return libDates::Format(d, "mm/dd/yyyy hh:mm:ss"); }

// Next run of a job at the given moment (the clock is fixed there).
double NextRunAt(CBackupJob& job, double dNow) {
    libDates::SetClock(dNow);
    return job.DateTimeNextRun();
}

CBackupJob Job(int32_t lFrequency, int16_t iDays, double dStart) {
    CBackupJob job;
    job.SetFrequency(lFrequency);
    job.SetDayOfWeek(iDays);
    job.SetStartTime(dStart);
    return job;
}
CBackupJob Daily(double dStart) { return Job(CBackupJob::Daily, CBackupJob::AllDays, dStart); }

// Most recent scheduled moment at the given moment.
double PrevRunAt(const CBackupJob& job, double dNow) {
    libDates::SetClock(dNow);
    return job.DateTimePreviousRun();
}

#define EXPECT_RUN(actual, expected) EXPECT_EQ(Show(actual), Show(expected))

// The previous moment mirrors the next run: a start equal to now has passed, so it is the
// previous moment and not the next one.
TEST_F(Schedule, DailyAroundTheStartTimeAndMidnight) {
    CBackupJob job = Daily(TimeSerial(10, 0, 0));
    EXPECT_RUN(NextRunAt(job, At(2027, 3, 10, 9, 59, 30)), At(2027, 3, 10, 10));
    EXPECT_RUN(NextRunAt(job, At(2027, 3, 10, 10, 0, 0)), At(2027, 3, 11, 10)) << "a start equal to now has passed";
    EXPECT_RUN(NextRunAt(job, At(2027, 3, 31, 23, 59, 59)), At(2027, 4, 1, 10)) << "across a month end";
    EXPECT_RUN(NextRunAt(job, At(2027, 12, 31, 12)), At(2028, 1, 1, 10)) << "across a year end";
    EXPECT_RUN(PrevRunAt(job, At(2027, 3, 10, 9, 59, 30)), At(2027, 3, 9, 10));
    EXPECT_RUN(PrevRunAt(job, At(2027, 3, 10, 10, 0, 0)), At(2027, 3, 10, 10));
    EXPECT_RUN(PrevRunAt(job, At(2027, 4, 1, 0, 0, 1)), At(2027, 3, 31, 10)) << "across a month start";
    EXPECT_RUN(PrevRunAt(job, At(2028, 1, 1, 9)), At(2027, 12, 31, 10)) << "across a year start";
    EXPECT_RUN(PrevRunAt(job, At(2028, 3, 1, 9)), At(2028, 2, 29, 10)) << "29 February 2028";

    CBackupJob midnight = Daily(0.0);
    EXPECT_RUN(NextRunAt(midnight, At(2027, 3, 10, 23, 59, 59)), At(2027, 3, 11));
    CBackupJob late = Daily(TimeSerial(23, 59, 0));
    EXPECT_RUN(NextRunAt(late, At(2027, 3, 10, 23, 58, 59)), At(2027, 3, 10, 23, 59));
    EXPECT_RUN(NextRunAt(late, At(2027, 3, 10, 23, 59, 30)), At(2027, 3, 11, 23, 59));
    // A start time read from a job file ("10:00") compares the same as one built from fields.
    double dRead;
    ASSERT_TRUE(libDates::ParseDateTime("10:00", dRead));
    CBackupJob fromText = Daily(libDates::TimeValue(dRead));
    EXPECT_RUN(NextRunAt(fromText, At(2027, 3, 10, 10, 0, 0)), At(2027, 3, 11, 10));
    // The clock's fraction of a second belongs to its second.
    EXPECT_RUN(NextRunAt(fromText, At(2027, 3, 10, 9, 59, 59) + 0.4 / 86400), At(2027, 3, 10, 10));
}

TEST_F(Schedule, WeeklyMasks) {
    CBackupJob monday = Job(CBackupJob::Weekly, 4, TimeSerial(8, 0, 0));
    ASSERT_EQ(libDates::Weekday(At(2027, 3, 8)), 2); // a Monday
    EXPECT_RUN(NextRunAt(monday, At(2027, 3, 8, 7)), At(2027, 3, 8, 8));
    EXPECT_RUN(NextRunAt(monday, At(2027, 3, 8, 9)), At(2027, 3, 15, 8));
    EXPECT_RUN(NextRunAt(monday, At(2027, 3, 9, 7)), At(2027, 3, 15, 8));
    EXPECT_RUN(PrevRunAt(monday, At(2027, 3, 8, 7)), At(2027, 3, 1, 8));
    EXPECT_RUN(PrevRunAt(monday, At(2027, 3, 8, 9)), At(2027, 3, 8, 8));
    EXPECT_RUN(PrevRunAt(monday, At(2027, 3, 14, 23)), At(2027, 3, 8, 8)) << "Sunday looks back to Monday";

    CBackupJob workdays = Job(CBackupJob::Weekly, 0, TimeSerial(22, 0, 0));
    workdays.SetDayOfWeek(true, true, true, true, true, false, false);
    EXPECT_RUN(NextRunAt(workdays, At(2027, 3, 12, 23)), At(2027, 3, 15, 22)) << "Friday night to Monday";
    EXPECT_RUN(PrevRunAt(workdays, At(2027, 3, 15, 21)), At(2027, 3, 12, 22)) << "Monday evening to Friday";
    // Mask 62 holds the bits of Sunday to Thursday.
    workdays.SetDayOfWeek(static_cast<int16_t>(62));
    EXPECT_RUN(NextRunAt(workdays, At(2027, 3, 12, 23)), At(2027, 3, 14, 22)) << "Friday night to Sunday";
    EXPECT_RUN(NextRunAt(workdays, At(2027, 3, 11, 21)), At(2027, 3, 11, 22)) << "Thursday";

    CBackupJob sunday = Job(CBackupJob::Weekly, 2, TimeSerial(1, 0, 0));
    EXPECT_RUN(NextRunAt(sunday, At(2027, 3, 28, 1, 0, 0)), At(2027, 4, 4, 1)) << "a full week ahead";
}

TEST_F(Schedule, AMaskWithoutAnyWeekdayNeverRunsAndDoesNotHang) {
    for (int16_t iMask : {0, 1, 256, -32768}) {
        for (int32_t lFrequency : {CBackupJob::Daily, CBackupJob::Weekly}) {
            CBackupJob job = Job(lFrequency, iMask, 0.0);
            EXPECT_EQ(NextRunAt(job, At(2027, 3, 10, 9)), CBackupJob::FarFuture) << iMask;
            EXPECT_EQ(PrevRunAt(job, At(2027, 3, 10, 9)), CBackupJob::NotComputed) << iMask;
        }
    }
    CBackupJob job;
    job.SetDayOfWeek(false, false, false, false, false, false, false);
    job.SetOneShotDates("Mar-11-2027 08:00\r\n");
    EXPECT_RUN(NextRunAt(job, At(2027, 3, 10, 9)), At(2027, 3, 11, 8)) << "one-shot dates still count";
}

TEST_F(Schedule, MonthlyDayOfMonth) {
    CBackupJob job;
    job.SetFrequency(CBackupJob::Monthly);
    job.SetDayOfMonth(15);
    job.SetStartTime(0.5);
    EXPECT_RUN(NextRunAt(job, At(2027, 3, 14, 18)), At(2027, 3, 15, 12));
    EXPECT_RUN(NextRunAt(job, At(2027, 3, 15, 11, 59, 59)), At(2027, 3, 15, 12));
    EXPECT_RUN(NextRunAt(job, At(2027, 3, 15, 12, 0, 0)), At(2027, 4, 15, 12));
    EXPECT_RUN(NextRunAt(job, At(2027, 12, 20)), At(2028, 1, 15, 12)) << "December to January";
    EXPECT_RUN(PrevRunAt(job, At(2027, 3, 15, 11, 59, 59)), At(2027, 2, 15, 12));
    EXPECT_RUN(PrevRunAt(job, At(2027, 3, 15, 12, 0, 30)), At(2027, 3, 15, 12));
    EXPECT_RUN(PrevRunAt(job, At(2027, 1, 10)), At(2026, 12, 15, 12)) << "January to December";

    job.SetDayOfMonth(28);
    EXPECT_RUN(NextRunAt(job, At(2027, 1, 31, 13)), At(2027, 2, 28, 12));
    EXPECT_RUN(NextRunAt(job, At(2028, 2, 28, 13)), At(2028, 3, 28, 12));
    // Days past a month's end (only by a direct write; files hold 1..28) roll into the next
    // month as the calendar functions do.
    job.SetDayOfMonth(31);
    EXPECT_RUN(NextRunAt(job, At(2027, 1, 31, 13)), At(2027, 3, 3, 12)) << "31 February 2027";
    EXPECT_RUN(NextRunAt(job, At(2028, 1, 31, 13)), At(2028, 3, 2, 12)) << "31 February of a leap year";
    EXPECT_RUN(NextRunAt(job, At(2027, 3, 1, 9)), At(2027, 3, 31, 12));
    EXPECT_RUN(PrevRunAt(job, At(2027, 3, 2)), At(2027, 1, 31, 12)) << "31 February 2027 is 3 March";
    EXPECT_RUN(PrevRunAt(job, At(2027, 3, 4)), At(2027, 3, 3, 12));
    EXPECT_RUN(PrevRunAt(job, At(2028, 3, 2, 13)), At(2028, 3, 2, 12)) << "and 2 March in a leap year";
    job.SetDayOfMonth(29);
    EXPECT_RUN(NextRunAt(job, At(2028, 2, 10)), At(2028, 2, 29, 12)) << "29 February exists in 2028";
    EXPECT_RUN(NextRunAt(job, At(2027, 2, 10)), At(2027, 3, 1, 12)) << "and not in 2027";
    EXPECT_RUN(NextRunAt(job, At(2100, 2, 10)), At(2100, 3, 1, 12)) << "2100 is no leap year";
    EXPECT_RUN(PrevRunAt(job, At(2028, 3, 10)), At(2028, 2, 29, 12));
    EXPECT_RUN(PrevRunAt(job, At(2100, 3, 10)), At(2100, 3, 1, 12)) << "2100 is no leap year";
}

// One-shot dates against the regular moment: the earliest ahead, the latest not after now.
TEST_F(Schedule, OneShotDatesAndTheRegularSchedule) {
    const double dNow = At(2027, 3, 10, 12);
    CBackupJob oneShot;
    oneShot.SetFrequency(CBackupJob::OneShot);
    oneShot.SetOneShotDates("Mar-09-2027 09:00\r\nMar-17-2027 09:00\r\nMar-11-2027 09:00\r\n");
    EXPECT_RUN(NextRunAt(oneShot, dNow), At(2027, 3, 11, 9)) << "the earliest date still ahead";
    oneShot.SetOneShotDates("Mar-09-2027 09:00\r\nMar-10-2027 12:00\r\n");
    EXPECT_EQ(NextRunAt(oneShot, dNow), CBackupJob::FarFuture) << "only past dates (and now itself)";
    oneShot.SetOneShotDates("");
    EXPECT_EQ(NextRunAt(oneShot, dNow), CBackupJob::FarFuture);
    oneShot.SetOneShotDates("not a date\r\nMar-12-2027 07:15\r\n");
    EXPECT_RUN(NextRunAt(oneShot, dNow), At(2027, 3, 12, 7, 15)) << "a line that is not a date is ignored";
    oneShot.SetOneShotDates("Mar-12-2027 07:15"); // no CR LF after it: no entry
    EXPECT_EQ(NextRunAt(oneShot, dNow), CBackupJob::FarFuture);

    CBackupJob daily = Daily(TimeSerial(22, 0, 0));
    daily.SetOneShotDates("Mar-10-2027 14:00\r\n");
    EXPECT_RUN(NextRunAt(daily, dNow), At(2027, 3, 10, 14));
    daily.SetOneShotDates("Mar-11-2027 23:00\r\n");
    EXPECT_RUN(NextRunAt(daily, dNow), At(2027, 3, 10, 22));
    EXPECT_RUN(daily.CurrentStartTime(), TimeSerial(22, 0, 0));

    oneShot.SetOneShotDates("Mar-09-2027 09:00\r\nMar-17-2027 09:00\r\nMar-08-2027 09:00\r\nrubbish\r\n");
    EXPECT_RUN(PrevRunAt(oneShot, dNow), At(2027, 3, 9, 9));
    oneShot.SetOneShotDates("Mar-10-2027 12:00\r\n");
    EXPECT_RUN(PrevRunAt(oneShot, dNow), dNow) << "a date equal to now has passed";
    oneShot.SetOneShotDates("Mar-17-2027 09:00\r\n");
    EXPECT_EQ(PrevRunAt(oneShot, dNow), CBackupJob::NotComputed);
    daily.SetOneShotDates("Mar-10-2027 11:00\r\n");
    EXPECT_RUN(PrevRunAt(daily, dNow), At(2027, 3, 10, 11));
    daily.SetOneShotDates("Mar-09-2027 09:00\r\n");
    EXPECT_RUN(PrevRunAt(daily, dNow), At(2027, 3, 9, 22));
}

TEST_F(Schedule, PurgeOneShotDates) {
    CBackupJob job;
    job.SetDateLastRun(At(2001, 6, 1, 10));
    job.SetOneShotDates("Jun-01-2001 10:00\r\nJun-01-2001 10:01\r\nMay-31-2001 23:59\r\nrubbish\r\n\r\n");
    job.PurgeOneShotJobs();
    EXPECT_EQ(job.OneShotDates(), "Jun-01-2001 10:01\r\n");
    EXPECT_TRUE(job.Changed());
    job.SetDateLastRun(At(2001, 6, 2));
    job.PurgeOneShotJobs();
    EXPECT_EQ(job.OneShotDates(), "");
}

TEST_F(Schedule, CacheHoldsUntilAScheduleWrite) {
    std::string sPath = WriteFile(App + "BackupJobs/j.slj", "J\r\nJan-01-2020 10:00\r\n10:00\r\n1\r\n254\r\n1\r\n"
                                                            "True\r\n3\r\n\r\nFalse\r\n\r\n/src\r\n");
    CBackupJob job;
    ASSERT_FALSE(job.OpenBackupJob(sPath));
    ASSERT_FALSE(job.Changed());
    EXPECT_RUN(NextRunAt(job, At(2027, 3, 10, 9)), At(2027, 3, 10, 10));
    EXPECT_RUN(NextRunAt(job, At(2027, 3, 12, 9)), At(2027, 3, 10, 10)) << "cached while unchanged";
    EXPECT_RUN(job.CurrentStartTime(), TimeSerial(10, 0, 0));
    job.SetStartTime(TimeSerial(11, 0, 0));
    EXPECT_RUN(NextRunAt(job, At(2027, 3, 12, 9)), At(2027, 3, 12, 11));

    // CurrentStartTime of a job that will not run is 00:00.
    CBackupJob never;
    never.SetFrequency(CBackupJob::OneShot);
    libDates::SetClock(At(2027, 3, 10));
    EXPECT_EQ(never.CurrentStartTime(), 0.0);
}

// Local time with daylight saving: the schedule is wall-clock time.
class BerlinTime : public TempAppFolder {
protected:
    void SetUp() override {
        TempAppFolder::SetUp();
        UseTimeZone("Europe/Berlin");
    }
    // A UTC instant as the local serial the clock would report.
    static double Utc(int y, int mo, int d, int h, int mi, int s = 0) {
        using namespace std::chrono;
        const auto t = sys_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s};
        return libDates::FromTimeT(system_clock::to_time_t(t));
    }
};

TEST_F(BerlinTime, SpringForwardRunsAJobInTheSkippedHourOnce) {
    // 2027-03-28 02:00 CET becomes 03:00 CEST; 02:30 does not exist that night.
    CBackupJob job = Daily(TimeSerial(2, 30, 0));
    double dBefore = Utc(2027, 3, 28, 0, 59, 59); // 01:59:59 CET
    double dNext = NextRunAt(job, dBefore);
    EXPECT_RUN(dNext, At(2027, 3, 28, 2, 30));
    double dAfter = Utc(2027, 3, 28, 1, 0, 0); // 03:00 CEST, one second later
    EXPECT_LT(dNext, dAfter) << "due at the first tick after the gap";
    EXPECT_RUN(NextRunAt(job, dAfter), At(2027, 3, 29, 2, 30)) << "and not again that day";
    EXPECT_RUN(job.CurrentStartTime(), TimeSerial(2, 30, 0));
}

TEST_F(BerlinTime, FallBackDoesNotRunAJobTwice) {
    // 2027-10-31 03:00 CEST becomes 02:00 CET; 02:30 happens twice.
    CBackupJob job = Daily(TimeSerial(2, 30, 0));
    EXPECT_RUN(NextRunAt(job, Utc(2027, 10, 31, 0, 29, 0)), At(2027, 10, 31, 2, 30)); // 02:29 CEST
    double dFirst = Utc(2027, 10, 31, 0, 30, 0);                                      // 02:30 CEST
    double dAfterRun = NextRunAt(job, dFirst);
    EXPECT_RUN(dAfterRun, At(2027, 11, 1, 2, 30));
    double dSecond = Utc(2027, 10, 31, 1, 30, 0); // 02:30 CET, the hour again
    EXPECT_GT(dAfterRun, dSecond) << "the repeated hour does not make the job due again";
    EXPECT_RUN(NextRunAt(job, Utc(2027, 10, 31, 2, 0, 0)), At(2027, 11, 1, 2, 30));
}

TEST_F(BerlinTime, PreviousAndMonthlyMomentsAcrossTheChanges) {
    CBackupJob job = Daily(TimeSerial(2, 30, 0));
    EXPECT_RUN(PrevRunAt(job, Utc(2027, 3, 28, 0, 59, 59)), At(2027, 3, 27, 2, 30)) << "01:59:59 CET";
    EXPECT_RUN(PrevRunAt(job, Utc(2027, 3, 28, 1, 0, 0)), At(2027, 3, 28, 2, 30)) << "the skipped 02:30 has passed";
    EXPECT_RUN(PrevRunAt(job, Utc(2027, 10, 31, 0, 29, 0)), At(2027, 10, 30, 2, 30)) << "02:29 CEST";
    EXPECT_RUN(PrevRunAt(job, Utc(2027, 10, 31, 1, 30, 0)), At(2027, 10, 31, 2, 30)) << "the repeated hour";
    CBackupJob monthly;
    monthly.SetFrequency(CBackupJob::Monthly);
    monthly.SetDayOfMonth(28);
    monthly.SetStartTime(TimeSerial(2, 30, 0));
    EXPECT_RUN(PrevRunAt(monthly, Utc(2027, 3, 28, 1, 0)), At(2027, 3, 28, 2, 30)) << "03:00 CEST is past 02:30";
    EXPECT_RUN(NextRunAt(monthly, Utc(2027, 3, 28, 1, 0)), At(2027, 4, 28, 2, 30));
}

} // namespace
