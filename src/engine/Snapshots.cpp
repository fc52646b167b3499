// The snapshot folders of a copy-style job: their names, and the calendar that keeps them.

#include "engine/Snapshots.h"

#include "support/libDates.h"
#include "support/libFiles.h"

#include <algorithm>
#include <array>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace Snapshots {

std::string FolderOf(const std::string& sTargetDirectory, const std::string& sJobName) {
    return libFiles::AddTrailingSlash(sTargetDirectory) + CBackupJob::CleanJobName(sJobName) + ".snapshots";
}

std::vector<Snapshot> List(const std::string& sFolder) {
    std::vector<Snapshot> found;
    DIR* dir = ::opendir(sFolder.c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = ::readdir(dir)) {
        Snapshot snapshot;
        snapshot.Name = entry->d_name;
        if (!libDates::ParseStamp(snapshot.Name, snapshot.When)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) continue;
        found.push_back(std::move(snapshot));
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const Snapshot& a, const Snapshot& b) {
        return a.When != b.When ? a.When > b.When : a.Name > b.Name;
    });
    return found;
}

int IsoWeek(double d) {
    const double dDay = libDates::DateValue(d);
    // Monday 0 .. Sunday 6; the week belongs to the year of its Thursday.
    const int iFromMonday = (libDates::Weekday(dDay) + 5) % 7;
    const double dThursday = dDay - iFromMonday + 3;
    const int iYear = libDates::Year(dThursday);
    const int iWeek = static_cast<int>(dThursday - libDates::DateSerial(iYear, 1, 1)) / 7 + 1;
    return iYear * 100 + iWeek;
}

namespace {

// One calendar rule: how many periods it keeps, and the period of a moment.
struct Rule {
    Reason Why;
    int32_t Count;
    long (*PeriodOf)(double);
};

long DayOf(double d) { return static_cast<long>(libDates::DateValue(d)); }
long WeekOf(double d) { return IsoWeek(d); }
long MonthOf(double d) { return libDates::Year(d) * 100L + libDates::Month(d); }
long YearOf(double d) { return libDates::Year(d); }

} // namespace

std::vector<Verdict> Plan(const std::vector<Snapshot>& snapshots, const CBackupJob::SnapshotKeep& keep) {
    const std::array<Rule, 4> rules{{{Reason::Daily, keep.Daily, DayOf},
                                     {Reason::Weekly, keep.Weekly, WeekOf},
                                     {Reason::Monthly, keep.Monthly, MonthOf},
                                     {Reason::Yearly, keep.Yearly, YearOf}}};
    std::array<int32_t, 4> kept{};
    std::array<long, 4> lastPeriod{};
    std::array<bool, 4> anyPeriod{};
    std::vector<Verdict> verdicts;
    verdicts.reserve(snapshots.size());
    for (size_t i = 0; i < snapshots.size(); ++i) {
        Verdict verdict{snapshots[i], Reason::Remove};
        if (static_cast<int64_t>(i) < keep.Last) verdict.Why = Reason::Last;
        // Newest first: the first snapshot met in a period is that period's newest.
        for (size_t r = 0; r < rules.size(); ++r) {
            const long lPeriod = rules[r].PeriodOf(snapshots[i].When);
            if (kept[r] >= rules[r].Count || (anyPeriod[r] && lPeriod == lastPeriod[r])) continue;
            ++kept[r];
            lastPeriod[r] = lPeriod;
            anyPeriod[r] = true;
            if (verdict.Why == Reason::Remove) verdict.Why = rules[r].Why;
        }
        if (i == 0 && verdict.Why == Reason::Remove) verdict.Why = Reason::Newest;
        verdicts.push_back(std::move(verdict));
    }
    return verdicts;
}

std::string VerdictText(Reason why) {
    switch (why) {
    case Reason::Newest:
        return "keep (newest)";
    case Reason::Last:
        return "keep (last)";
    case Reason::Daily:
        return "keep (daily)";
    case Reason::Weekly:
        return "keep (weekly)";
    case Reason::Monthly:
        return "keep (monthly)";
    case Reason::Yearly:
        return "keep (yearly)";
    case Reason::Remove:
        break;
    }
    return "remove";
}

} // namespace Snapshots
