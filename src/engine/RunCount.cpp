#include "engine/RunCount.h"

#include "engine/CacheFolders.h"
#include "engine/JobTemp.h"
#include "engine/libCopy.h"
#include "jobs/CBackupJob.h"
#include "support/libDates.h"
#include "support/libFiles.h"
#include "support/libStrings.h"

#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <linux/ioprio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The files counted are added to the progress in batches, so that its lock is seldom taken.
struct Tally {
    RunProgress& Progress;
    int64_t Files = 0;
    int64_t Bytes = 0;
    void Add(int64_t lBytes) {
        ++Files;
        Bytes += lBytes;
        if (Files >= 256) Flush();
    }
    void Flush() {
        if (Files > 0) Progress.AddTotal(Files, Bytes);
        Files = 0;
        Bytes = 0;
    }
};

class Walker {
public:
    Walker(const RunCount::Selection& selection, Tally& tally, std::stop_token stop)
        : m_sel(selection), m_tally(tally), m_stop(std::move(stop)),
          m_exclusions(libStrings::FileList(selection.ExcludeSpec)), m_caches(false) {
        std::erase_if(m_exclusions, [](const std::string& s) { return s.empty(); });
    }

    void Entry(const std::string& sEntry) {
        std::string sFolder;
        std::string sPattern;
        const size_t iInclude = sEntry.find(" -i ");
        if (iInclude != std::string::npos) {
            sFolder = libFiles::AddTrailingSlash(libStrings::Trim(sEntry.substr(0, iInclude)));
            sPattern = libStrings::Trim(sEntry.substr(iInclude + 4));
        } else if (!libCopy::IsWildcardEntry(sEntry) && libFiles::DirExists(sEntry)) {
            sFolder = libFiles::AddTrailingSlash(sEntry);
            sPattern = "*.*";
        } else {
            struct stat st {};
            if (!libCopy::IsWildcardEntry(sEntry) && ::lstat(sEntry.c_str(), &st) == 0) {
                if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) File(st);
                return;
            }
            libCopy::SplitEntry(sEntry, sFolder, sPattern);
            sFolder = libFiles::AddTrailingSlash(sFolder);
        }
        std::vector<std::string> stack{sFolder};
        while (!stack.empty() && !m_stop.stop_requested()) {
            const std::string sCurrent = std::move(stack.back());
            stack.pop_back();
            Folder(sCurrent, sPattern, stack);
        }
    }

private:
    void Folder(const std::string& sFolder, const std::string& sPattern, std::vector<std::string>& stack) {
        const int fd = ::open(sFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) return;
        DIR* dir = ::fdopendir(fd);
        if (dir == nullptr) {
            ::close(fd);
            return;
        }
        while (const dirent* e = ::readdir(dir)) {
            if (m_stop.stop_requested()) break;
            const std::string sName = e->d_name;
            if (sName == "." || sName == "..") continue;
            struct stat st {};
            if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                if (!m_sel.Recurse || JobTemp::IsTempName(sName)) continue;
                const std::string sPath = sFolder + sName;
                if (m_sel.ExcludeCaches && m_caches.Why(fd, sName, sPath, st) != CacheFolders::Reason::None) continue;
                stack.push_back(sPath + "/");
                continue;
            }
            if (!libStrings::WildcardMatch(sName, sPattern) || Excluded(sName)) continue;
            if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) File(st);
        }
        ::closedir(dir);
    }

    void File(const struct stat& st) {
        if (m_sel.DateFilter && st.st_mtime < m_sel.ChangedSince) return;
        m_tally.Add(S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0);
    }

    bool Excluded(const std::string& sName) const {
        for (const auto& pattern : m_exclusions)
            if (libStrings::Like(sName, pattern)) return true;
        return false;
    }

    const RunCount::Selection& m_sel;
    Tally& m_tally;
    std::stop_token m_stop;
    std::vector<std::string> m_exclusions;
    CacheFolders m_caches;
};

// The count shares the run's CPU priority: lowered, a run that keeps every core busy (the
// deflate workers) would starve it, and the total, the percent and the time left would come
// only near the run's end. Its CPU time is the same whenever it is spent. It gives way on the
// disk: the lowest level of the run's own I/O class, for this thread only.
void YieldToTheRun() {
    const auto tid = static_cast<int>(::syscall(SYS_gettid));
    const long lIo = ::syscall(SYS_ioprio_get, IOPRIO_WHO_PROCESS, tid);
    if (lIo >= 0 && IOPRIO_PRIO_CLASS(lIo) != IOPRIO_CLASS_IDLE)
        (void)::syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, tid, IOPRIO_PRIO_VALUE(IOPRIO_CLASS_BE, 7));
}

} // namespace

RunCount::Selection RunCount::SelectionOf(const CBackupJob& job) {
    Selection selection;
    if (libStrings::GetFileList(job.FilesToZip(), selection.Sources)) selection.Sources.clear();
    selection.Recurse = job.Subdirectories();
    selection.ExcludeSpec = job.ExcludeSpec();
    selection.ExcludeCaches = job.ExcludeCaches();
    // An incremental zip run takes the files changed since the day of the last run.
    if (job.Compress() && job.Incremental() && job.DateLastRun() > CBackupJob::NotComputed) {
        selection.DateFilter = true;
        selection.ChangedSince = libDates::ToTimeT(std::floor(job.DateLastRun()));
    }
    return selection;
}

void RunCount::Count(RunProgress& progress, const Selection& selection, std::stop_token stop) {
    Tally tally{progress};
    Walker walker(selection, tally, stop);
    for (const std::string& sEntry : selection.Sources) {
        if (stop.stop_requested()) return;
        if (!sEntry.empty() && sEntry[0] == '/') walker.Entry(sEntry);
    }
    tally.Flush();
    if (!stop.stop_requested()) progress.EndCount();
}

RunCount::RunCount(RunProgress& progress, Selection selection) : m_selection(std::move(selection)) {
    m_thread.StartUpTo(
        1,
        [this, &progress](std::stop_token stop) {
            YieldToTheRun();
            Count(progress, m_selection, stop);
        },
        true);
}

RunCount::~RunCount() = default;
