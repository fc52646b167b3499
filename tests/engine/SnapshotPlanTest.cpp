// The calendar that keeps snapshots: runs simulated over a year and more (daily, with gaps of
// days and weeks, two a day, across the changes of daylight saving time and across year ends),
// each checked against the verdicts worked out by hand from a calendar.

#include "engine/Snapshots.h"
#include "support/libDates.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Keep = CBackupJob::SnapshotKeep;

Snapshots::Snapshot Named(const std::string& sName) {
    Snapshots::Snapshot s;
    s.Name = sName;
    EXPECT_TRUE(libDates::ParseStamp(sName, s.When)) << sName;
    return s;
}

// Daily runs at hh:mm from the first day to the last (inclusive), the days in skip left out,
// newest first as List gives them.
std::vector<Snapshots::Snapshot> DailyRuns(double dFirst, double dLast, int iHour, int iMinute,
                                           const std::set<std::string>& skip = {}) {
    std::vector<Snapshots::Snapshot> runs;
    for (double d = dLast; d >= dFirst; d -= 1) {
        const std::string sName = libDates::Stamp(d + libDates::TimeSerial(iHour, iMinute, 0));
        if (!skip.contains(sName.substr(0, 10))) runs.push_back(Named(sName));
    }
    return runs;
}

void SkipDays(std::set<std::string>& skip, double dFirst, double dLast) {
    for (double d = dFirst; d <= dLast; d += 1)
        skip.insert(libDates::Stamp(d).substr(0, 10));
}

// The plan as "name  verdict" lines, against the kept snapshots named by hand (every other one
// removed). The newest is always kept.
void ExpectPlan(const std::vector<Snapshots::Snapshot>& snapshots, const Keep& keep,
                const std::map<std::string, std::string>& kept) {
    const std::vector<Snapshots::Verdict> plan = Snapshots::Plan(snapshots, keep);
    ASSERT_EQ(plan.size(), snapshots.size());
    ASSERT_FALSE(plan.empty());
    EXPECT_NE(plan.front().Why, Snapshots::Reason::Remove);
    std::vector<std::string> got, want;
    for (size_t i = 0; i < plan.size(); ++i) {
        EXPECT_EQ(plan[i].Of.Name, snapshots[i].Name);
        got.push_back(plan[i].Of.Name + "  " + Snapshots::VerdictText(plan[i].Why));
        const auto it = kept.find(snapshots[i].Name);
        want.push_back(snapshots[i].Name + "  " + (it == kept.end() ? "remove" : it->second));
    }
    EXPECT_EQ(got, want);
}

double Day(int y, int m, int d) { return libDates::DateSerial(y, m, d); }

} // namespace

TEST(SnapshotPlan, IsoWeeksAcrossYearEnds) {
    // Week 1 is the week of the year's first Thursday; 2020 and 2026 have a week 53.
    const std::vector<std::pair<double, int>> cases = {
        {Day(2025, 12, 28), 202552}, {Day(2025, 12, 29), 202601},     {Day(2026, 1, 1), 202601},
        {Day(2026, 1, 4), 202601},   {Day(2026, 1, 5), 202602},       {Day(2026, 12, 31), 202653},
        {Day(2027, 1, 3), 202653},   {Day(2027, 1, 4), 202701},       {Day(2021, 1, 3), 202053},
        {Day(2024, 12, 30), 202501}, {Day(2008, 12, 29), 200901},     {Day(2010, 1, 3), 200953},
        {Day(2024, 2, 29), 202409},  {Day(2026, 3, 1) + 0.99, 202609}};
    for (const auto& [d, iWeek] : cases)
        EXPECT_EQ(Snapshots::IsoWeek(d), iWeek) << libDates::Stamp(d);
}

TEST(SnapshotPlan, AYearOfDailyRunsWithGapsAndTwoRunsADay) {
    // 02:30 each day from 2025-11-15 to 2027-01-06 (both changes of daylight saving time in
    // between), nothing from 1 to 20 August, in ISO weeks 50 and 51 of 2026 (7 to 20 December)
    // and on 4 January 2027, and a second run at 18:00 on the last day.
    std::set<std::string> skip;
    SkipDays(skip, Day(2026, 8, 1), Day(2026, 8, 20));
    SkipDays(skip, Day(2026, 12, 7), Day(2026, 12, 20));
    SkipDays(skip, Day(2027, 1, 4), Day(2027, 1, 4));
    std::vector<Snapshots::Snapshot> runs = DailyRuns(Day(2025, 11, 15), Day(2027, 1, 6), 2, 30, skip);
    runs.insert(runs.begin(), Named("2027-01-06_180000"));
    ASSERT_EQ(runs.size(), 418u - 20 - 14 - 1 + 1);

    // 2027-01-04..10 is week 1 of 2027; 2026-12-28..2027-01-03 week 53 of 2026; the Sundays
    // 27 Dec, 6 Dec and 29 Nov end weeks 52, 49 and 48.
    ExpectPlan(runs, Keep{1, 4, 5, 3, 3},
               {{"2027-01-06_180000", "keep (last)"},    // also the newest day, week, month and year
                {"2027-01-05_023000", "keep (daily)"},   // the day before 4 January, which has none
                {"2027-01-03_023000", "keep (daily)"},   // also the newest of week 53
                {"2027-01-02_023000", "keep (daily)"},   // the fourth day that has a snapshot
                {"2026-12-31_023000", "keep (monthly)"}, // also the newest of 2026
                {"2026-12-27_023000", "keep (weekly)"},  // week 52
                {"2026-12-06_023000", "keep (weekly)"},  // week 49: weeks 50 and 51 have none
                {"2026-11-30_023000", "keep (monthly)"}, // November's newest, in week 49 too
                {"2026-11-29_023000", "keep (weekly)"},  // week 48
                {"2025-12-31_023000", "keep (yearly)"}});

    // The same runs by the default rules (3 last, 7 days, 4 weeks, 12 months, no years).
    ExpectPlan(runs, Keep{}, {{"2027-01-06_180000", "keep (last)"},    {"2027-01-06_023000", "keep (last)"},
                              {"2027-01-05_023000", "keep (last)"},    {"2027-01-03_023000", "keep (daily)"},
                              {"2027-01-02_023000", "keep (daily)"},   {"2027-01-01_023000", "keep (daily)"},
                              {"2026-12-31_023000", "keep (daily)"},   {"2026-12-30_023000", "keep (daily)"},
                              {"2026-12-27_023000", "keep (weekly)"},  {"2026-12-06_023000", "keep (weekly)"},
                              {"2026-11-30_023000", "keep (monthly)"}, {"2026-10-31_023000", "keep (monthly)"},
                              {"2026-09-30_023000", "keep (monthly)"}, {"2026-08-31_023000", "keep (monthly)"},
                              {"2026-07-31_023000", "keep (monthly)"}, {"2026-06-30_023000", "keep (monthly)"},
                              {"2026-05-31_023000", "keep (monthly)"}, {"2026-04-30_023000", "keep (monthly)"},
                              {"2026-03-31_023000", "keep (monthly)"}, {"2026-02-28_023000", "keep (monthly)"}});
}

TEST(SnapshotPlan, AWeekAcrossTheYearEndIsOneWeek) {
    // 2025-12-29..2026-01-04 is week 1 of 2026: its newest run (Friday 2 January) stands for it,
    // while the yearly rule still keeps 2025's last day.
    const std::vector<Snapshots::Snapshot> runs = DailyRuns(Day(2025, 12, 20), Day(2026, 1, 2), 12, 0);
    ExpectPlan(runs, Keep{0, 0, 2, 0, 2},
               {{"2026-01-02_120000", "keep (weekly)"},
                {"2025-12-31_120000", "keep (yearly)"},
                {"2025-12-28_120000", "keep (weekly)"}});
}

TEST(SnapshotPlan, DaysAreLocalCalendarDaysAcrossDaylightSavingChanges) {
    // A run every 24 hours, named by Berlin's local time: from 23:30 in winter time it moves to
    // 00:30 in summer time, so 29 March (the 23-hour day) has none; from 23:30 in summer time it
    // moves back to 22:30 in October, each run still on a day of its own.
    const char* sOldTz = std::getenv("TZ");
    const std::string sSaved = sOldTz ? sOldTz : "";
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    std::vector<Snapshots::Snapshot> spring, autumn;
    const std::time_t tSpring = 1774564200; // 2026-03-26 23:30 CET
    for (int i = 4; i >= 0; --i)
        spring.push_back(Named(libDates::Stamp(libDates::FromTimeT(tSpring + i * 86400))));
    const std::time_t tAutumn = 1792704600; // 2026-10-22 23:30 CEST
    for (int i = 4; i >= 0; --i)
        autumn.push_back(Named(libDates::Stamp(libDates::FromTimeT(tAutumn + i * 86400))));
    if (sOldTz)
        ::setenv("TZ", sSaved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();

    ASSERT_EQ(spring.front().Name, "2026-03-31_003000");
    ExpectPlan(spring, Keep{0, 3, 0, 0, 0},
               {{"2026-03-31_003000", "keep (daily)"},
                {"2026-03-30_003000", "keep (daily)"},
                {"2026-03-28_233000", "keep (daily)"}});
    ASSERT_EQ(autumn.back().Name, "2026-10-22_233000");
    ExpectPlan(autumn, Keep{0, 3, 0, 0, 0},
               {{"2026-10-26_223000", "keep (daily)"},
                {"2026-10-25_223000", "keep (daily)"},
                {"2026-10-24_233000", "keep (daily)"}});
}

TEST(SnapshotPlan, NoRulesKeepOnlyTheNewestAndLastAloneKeepsTheNewestN) {
    const std::vector<Snapshots::Snapshot> runs = DailyRuns(Day(2026, 5, 1), Day(2026, 5, 6), 9, 0);
    ExpectPlan(runs, Keep{0, 0, 0, 0, 0}, {{"2026-05-06_090000", "keep (newest)"}});
    ExpectPlan(runs, Keep{2, 0, 0, 0, 0}, {{"2026-05-06_090000", "keep (last)"}, {"2026-05-05_090000", "keep (last)"}});
    std::map<std::string, std::string> all;
    for (const auto& s : runs)
        all[s.Name] = "keep (last)";
    ExpectPlan(runs, Keep{9999, 0, 0, 0, 0}, all);
    EXPECT_TRUE(Snapshots::Plan({}, Keep{}).empty());
}
