// The copy-style check: the job's sources walked as the copy step selects them, each file
// compared with its copy byte for byte, and every file or folder the copy should hold and does
// not named.

#include "engine/VerifyInternal.h"

#include "engine/CFileFinder.h"
#include "engine/JobTemp.h"
#include "engine/RunProgress.h"
#include "engine/libCopy.h"
#include "jobs/CBackupJob.h"
#include "support/libFiles.h"
#include "support/libStrings.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace libVerify::detail {

namespace {

constexpr size_t BufferSize = 1 << 20;

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

std::string JoinPath(const std::string& sFolder, const std::string& sName) {
    if (!sFolder.empty() && sFolder.back() == '/') return sFolder + sName;
    return sFolder + "/" + sName;
}

// One source entry of the job as the copy step takes it: the folder walked, the pattern its
// files must match, where their copies go, and whether subfolders are entered.
struct Root {
    std::string Folder;
    std::string Pattern;
    std::string Dest; // without a final "/"
    bool Recurse = false;
};

Root RootOf(const CBackupJob& job, const std::string& sCopyRoot, const std::string& sSource) {
    const std::string sTarget = libFiles::AddTrailingSlash(sCopyRoot.empty() ? job.TargetDirectory() : sCopyRoot);
    std::string sEntry = sSource;
    if (!libCopy::IsWildcardEntry(sSource) && libFiles::DirExists(sSource))
        sEntry = libFiles::AddTrailingSlash(sSource) + "*.*";
    Root r;
    libCopy::SplitEntry(sEntry, r.Folder, r.Pattern); // as the copy step visits it
    if (libCopy::IsWildcardEntry(sEntry)) {
        r.Dest = sTarget + libCopy::LastFolderName(sEntry);
        r.Recurse = job.Subdirectories();
    } else {
        r.Dest = sTarget;
    }
    r.Dest = libFiles::RemoveTrailingSlash(r.Dest);
    if (r.Dest.empty()) r.Dest = "/";
    return r;
}

} // namespace

CopyCheck::CopyCheck(const CBackupJob& job, int64_t lSourcesBeforeNs, std::string sCopyRoot)
    : m_job(job), m_sCopyRoot(std::move(sCopyRoot)), m_lBeforeNs(lSourcesBeforeNs), m_bufA(BufferSize),
      m_bufB(BufferSize) {
    m_exclusions = libStrings::FileList(job.ExcludeSpec());
    std::erase_if(m_exclusions, [](const std::string& s) { return s.empty(); });
    if (job.ExcludeCaches()) m_caches.emplace(false);
}

void CopyCheck::Problem(const std::string& sText) {
    if (m_problems.size() < MaxListed)
        m_problems.push_back(sText);
    else
        ++m_lUnlisted;
}

bool CopyCheck::ChangedSince(const struct stat& st) const {
    return libFiles::TimeNs(st.st_mtim) >= m_lBeforeNs || libFiles::TimeNs(st.st_ctim) >= m_lBeforeNs;
}

bool CopyCheck::Excluded(const std::string& sName) const {
    for (const std::string& sPattern : m_exclusions)
        if (libStrings::Like(sName, sPattern)) return true;
    return false;
}

std::vector<std::string> CopyCheck::Run() {
    for (const std::string& sSource : libStrings::FileList(m_job.FilesToZip())) {
        if (sSource.empty() || sSource[0] != '/') continue;
        const Root r = RootOf(m_job, m_sCopyRoot, sSource);
        struct stat folder {};
        // A source that is gone has nothing a copy could be held to.
        if (::stat(r.Folder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) continue;
        struct stat dest {};
        // The job names this source: its copy must stand, however the source changed since.
        if (::stat(r.Dest.c_str(), &dest) != 0 || !S_ISDIR(dest.st_mode)) {
            Problem(libFiles::AddTrailingSlash(r.Dest) + ": backup folder missing");
            continue;
        }
        m_destId = dest;
        WalkRoot(r.Folder, r.Pattern, r.Dest, r.Recurse);
    }
    if (m_lUnlisted > 0) m_problems.push_back("and " + std::to_string(m_lUnlisted) + " more problems");
    return m_problems;
}

void CopyCheck::WalkRoot(const std::string& sFolder, const std::string& sPattern, const std::string& sDest,
                         bool bRecurse) {
    const bool bMatchesAll = sPattern == "*" || sPattern == "*.*";
    // (source folder, its copy) pairs still to visit.
    std::vector<std::pair<std::string, std::string>> stack{{sFolder, sDest}};
    CFileFinder finder;
    finder.SetReportAsIs(true);
    while (!stack.empty()) {
        const auto [current, copy] = std::move(stack.back());
        stack.pop_back();
        std::vector<std::string> subfolders;
        for (std::string name = finder.FindFirst(JoinPath(current, sPattern)); !name.empty();
             name = finder.FindNext()) {
            const mode_t kind = finder.Kind();
            if (S_ISDIR(kind)) {
                if (bMatchesAll && bRecurse) subfolders.push_back(name);
                continue;
            }
            if ((!S_ISREG(kind) && !S_ISLNK(kind)) || Excluded(name)) continue;
            const std::string sSource = JoinPath(current, name);
            if (sSource.size() >= PATH_MAX) continue; // never copied: the run named it left out
            CheckFile(sSource, JoinPath(copy, name), finder);
            RunProgress::NoteDone(1, S_ISREG(kind) ? finder.StatData().st_size : 0);
        }
        finder.FindClose();
        if (!bRecurse) continue;
        if (!bMatchesAll) {
            for (std::string sub = finder.FindFirst(JoinPath(current, "*.*")); !sub.empty(); sub = finder.FindNext())
                if (S_ISDIR(finder.Kind())) subfolders.push_back(sub);
            finder.FindClose();
        }
        for (const std::string& sub : subfolders) {
            if (sub == "." || sub == ".." || JobTemp::IsTempName(sub)) continue;
            const std::string sSource = JoinPath(current, sub);
            if (sSource.size() + 2 > PATH_MAX) continue;
            struct stat st {};
            if (::lstat(sSource.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
            // The copy's own tree, when it lies inside the source, is not part of the source.
            if (st.st_dev == m_destId.st_dev && st.st_ino == m_destId.st_ino) continue;
            if (m_caches && m_caches->LeftOut(AT_FDCWD, sSource, sSource, st)) continue; // never copied
            const std::string sCopy = JoinPath(copy, sub);
            struct stat cp {};
            if (::lstat(sCopy.c_str(), &cp) == 0 && S_ISDIR(cp.st_mode)) {
                stack.emplace_back(sSource, sCopy);
            } else if (!ChangedSince(st)) {
                Problem(sCopy + "/: folder missing (source: " + sSource + "/)");
            }
        }
    }
}

void CopyCheck::CheckFile(const std::string& sSource, const std::string& sCopy, const CFileFinder& finder) {
    const struct stat& src = finder.StatData();
    struct stat cp {};
    if (::lstat(sCopy.c_str(), &cp) != 0) {
        // A file that appeared or changed after the run began may be newer than the copy.
        if (ChangedSince(src)) return;
        // Freshen copies only files the copy holds already. An incremental run copies only files
        // whose archive flag is set (a Rebuild's tree holds nothing else); a file without it was
        // backed up earlier, maybe by another job, and cannot be held to this copy.
        if (m_job.CopyStyle() == libCopy::CopyFreshen) return;
        if (m_job.Incremental() && (finder.Attrib() & CFileFinder::AttrArchive) == 0) return;
        Problem(sCopy + ": missing (source: " + sSource + ")");
        return;
    }
    // Changed after its copy was made: the copy stands for an earlier state of it.
    if (libFiles::TimeNs(src.st_ctim) > libFiles::TimeNs(cp.st_ctim)) return;
    if (S_ISLNK(src.st_mode) || S_ISLNK(cp.st_mode)) {
        if (S_ISLNK(src.st_mode) != S_ISLNK(cp.st_mode)) {
            Problem(sCopy + ": a link on one side only");
            return;
        }
        char a[PATH_MAX], b[PATH_MAX];
        const ssize_t na = ::readlink(sSource.c_str(), a, sizeof a);
        const ssize_t nb = ::readlink(sCopy.c_str(), b, sizeof b);
        if (na < 0 || nb < 0 || na != nb || std::memcmp(a, b, static_cast<size_t>(na)) != 0)
            Problem(sCopy + ": link target differs");
        return;
    }
    if (!S_ISREG(cp.st_mode)) {
        Problem(sCopy + ": not a regular file");
        return;
    }
    if (cp.st_size != src.st_size) {
        Problem(sCopy + ": size " + std::to_string(cp.st_size) + " instead of " + std::to_string(src.st_size));
        return;
    }
    std::string sWhy;
    if (!SameBytes(sCopy, sSource, sWhy)) {
        Problem(sCopy + ": " + sWhy);
        return;
    }
    if (libFiles::TimeNs(cp.st_mtim) != libFiles::TimeNs(src.st_mtim))
        Problem(sCopy + ": modification time differs from its source");
}

bool CopyCheck::SameBytes(const std::string& sCopy, const std::string& sSource, std::string& sWhy) {
    Fd a, b;
    a.fd = ::open(sCopy.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
    if (a.fd >= 0) b.fd = ::open(sSource.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
    if (a.fd < 0 || b.fd < 0) {
        sWhy = std::string("cannot be read: ") + std::strerror(errno);
        return false;
    }
    ::posix_fadvise(a.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    ::posix_fadvise(b.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    for (;;) {
        const ssize_t ra = libFiles::ReadFull(a.fd, m_bufA.data(), m_bufA.size());
        const ssize_t rb = libFiles::ReadFull(b.fd, m_bufB.data(), m_bufB.size());
        if (ra < 0 || rb < 0) {
            sWhy = std::string("cannot be read: ") + std::strerror(errno);
            return false;
        }
        if (ra != rb || std::memcmp(m_bufA.data(), m_bufB.data(), static_cast<size_t>(ra)) != 0) {
            sWhy = "content differs";
            return false;
        }
        if (ra == 0) return true;
    }
}

} // namespace libVerify::detail
