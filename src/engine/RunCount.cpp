#include "engine/RunCount.h"

#include "engine/CacheFolders.h"
#include "engine/JobTemp.h"
#include "engine/libCopy.h"
#include "jobs/CBackupJob.h"
#include "support/libDates.h"
#include "support/libFiles.h"
#include "support/libStrings.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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
                File(st.st_mode, st.st_size, st.st_mtime);
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
    // One folder, in the order the copy walk takes it (names in byte order, its files, then its
    // subfolders stacked so that the last is visited first): each inode the count reads is one
    // the walk needs soon, so the count reads ahead of the walk instead of beside it. The kind of
    // an entry comes from its listing; only a file's size is looked up.
    void Folder(const std::string& sFolder, const std::string& sPattern, std::vector<std::string>& stack) {
        const int fd = ::open(sFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) return;
        List(fd);
        const bool bAll = sPattern == "*.*";
        for (const Listed& entry : m_listed) {
            if (m_stop.stop_requested()) break;
            const std::string_view sName(m_names.data() + entry.Name);
            unsigned char type = entry.Type;
            struct stat st {};
            if (type == DT_UNKNOWN || (type == DT_DIR && m_sel.ExcludeCaches)) {
                if (::fstatat(fd, sName.data(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                type = static_cast<unsigned char>(IFTODT(st.st_mode));
            }
            if (type == DT_DIR) {
                if (!m_sel.Recurse || JobTemp::IsTempName(std::string(sName))) continue;
                std::string sPath = sFolder;
                sPath += sName;
                if (m_sel.ExcludeCaches &&
                    m_caches.Why(fd, std::string(sName), sPath, st) != CacheFolders::Reason::None)
                    continue;
                stack.push_back(std::move(sPath) + "/");
                continue;
            }
            if (type != DT_REG && type != DT_LNK) continue;
            if ((!bAll && !libStrings::WildcardMatch(sName, sPattern)) || Excluded(sName)) continue;
            if (type == DT_LNK && !m_sel.DateFilter) {
                File(S_IFLNK, 0, 0); // a link's own size and time are not needed
                continue;
            }
            struct statx stx {};
            const unsigned mask = STATX_TYPE | STATX_SIZE | (m_sel.DateFilter ? STATX_MTIME : 0u);
            if (::statx(fd, sName.data(), AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC, mask, &stx) != 0) continue;
            File(stx.stx_mode, static_cast<int64_t>(stx.stx_size), stx.stx_mtime.tv_sec);
        }
        ::close(fd);
    }

    // The folder's entries, "." and ".." left out, sorted by name; read in large batches.
    void List(int fd) {
        m_listed.clear();
        m_names.clear();
        for (;;) {
            const long n = ::syscall(SYS_getdents64, fd, m_buffer.data(), m_buffer.size());
            if (n <= 0) break;
            for (long i = 0; i < n;) {
                const auto* d = reinterpret_cast<const Dirent64*>(m_buffer.data() + i);
                i += d->Length;
                const char* name = d->Name;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
                m_listed.push_back({static_cast<uint32_t>(m_names.size()), d->Type});
                m_names.append(name, std::strlen(name) + 1);
            }
        }
        const char* names = m_names.data();
        std::sort(m_listed.begin(), m_listed.end(), [names](const Listed& a, const Listed& b) {
            return std::strcmp(names + a.Name, names + b.Name) < 0;
        });
    }

    // A file or a link counts (a link with no data of its own) when the date filter takes it.
    void File(mode_t mode, int64_t lSize, std::time_t modified) {
        if (!S_ISREG(mode) && !S_ISLNK(mode)) return;
        if (m_sel.DateFilter && modified < m_sel.ChangedSince) return;
        m_tally.Add(S_ISREG(mode) ? lSize : 0);
    }

    bool Excluded(std::string_view sName) const {
        for (const auto& pattern : m_exclusions)
            if (libStrings::Like(sName, pattern)) return true;
        return false;
    }

    const RunCount::Selection& m_sel;
    Tally& m_tally;
    std::stop_token m_stop;
    std::vector<std::string> m_exclusions;
    CacheFolders m_caches;
    // The listing of the folder in hand, kept between folders.
    struct Dirent64 {
        uint64_t Inode;
        int64_t Offset;
        unsigned short Length;
        unsigned char Type;
        char Name[1];
    };
    struct Listed {
        uint32_t Name; // offset in m_names
        unsigned char Type;
    };
    std::vector<char> m_buffer = std::vector<char>(64 * 1024);
    std::vector<Listed> m_listed;
    std::string m_names;
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
    // Nothing left to walk (a zip run whose one source entry its own walk counts): the part is
    // complete now, without a thread.
    if (m_selection.Sources.empty()) {
        progress.EndCount();
        return;
    }
    m_thread.StartUpTo(
        1,
        [this, &progress](std::stop_token stop) {
            YieldToTheRun();
            Count(progress, m_selection, stop);
        },
        true);
}

RunCount::~RunCount() = default;
