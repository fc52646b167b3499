// Where a restore may write (the chosen folder, or the job's own sources), whether the selection
// fits there, the files an interrupted restore left, and the folders' modes and times.

#include "engine/Restorer.h"

#include "engine/libCopy.h"
#include "jobs/CBackupJob.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace libRestore::detail {

bool SplitSafe(const std::string& sName, std::vector<std::string>& parts, std::string& sWhy) {
    parts.clear();
    if (sName.empty() || sName[0] == '/') {
        sWhy = "absolute or empty name refused";
        return false;
    }
    size_t i = 0;
    while (i <= sName.size()) {
        size_t j = sName.find('/', i);
        if (j == std::string::npos) j = sName.size();
        std::string s = sName.substr(i, j - i);
        if (s == "..") {
            sWhy = "name leading out of the destination refused";
            return false;
        }
        if (!s.empty() && s != ".") parts.push_back(std::move(s));
        i = j + 1;
    }
    if (parts.empty()) {
        sWhy = "empty name refused";
        return false;
    }
    return true;
}

std::string JoinParts(const std::vector<std::string>& parts, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        if (i) s += '/';
        s += parts[i];
    }
    return s;
}

namespace {

// The place of a folder (its path without a final "/").
Place FolderPlace(std::string sPath) {
    Place place;
    std::vector<std::string> parts;
    std::string sWhy;
    if (sPath.empty() || sPath == "/" || !SplitSafe(sPath.substr(1), parts, sWhy)) parts.clear();
    place.Path = "/" + JoinParts(parts, parts.size());
    place.Key = JoinParts(parts, parts.size());
    place.Depth = parts.size();
    place.Shown = libFiles::AddTrailingSlash(place.Path);
    return place;
}

// Whether the backup holds anything below the folder named (no leading "/", no final "/").
bool HoldsBelow(const EntryTable& all, const std::string& sKey) {
    const std::string sPrefix = sKey + "/";
    Entry scratch;
    for (size_t i = 0; i < all.Count(); ++i) {
        const Entry& e = all.At(i, scratch);
        const std::string& s = e.OriginalPath.empty() ? e.Name : e.OriginalPath;
        const size_t iStart = !s.empty() && s[0] == '/' ? 1 : 0;
        if (s.compare(iStart, sPrefix.size(), sPrefix) == 0) return true;
    }
    return false;
}

} // namespace

std::vector<Place> PlacesOf(const CBackupJob& job, const EntryTable& all) {
    std::vector<Place> places;
    for (const std::string& sEntry : libStrings::FileList(job.FilesToZip())) {
        if (sEntry.empty() || sEntry[0] != '/') continue;
        if (libCopy::IsWildcardEntry(sEntry)) {
            places.push_back(FolderPlace(libFiles::FilePathStripFileName(sEntry)));
            continue;
        }
        Place place = FolderPlace(sEntry);
        struct stat st {};
        const bool bThere = ::lstat(place.Path.c_str(), &st) == 0;
        const bool bFolder = sEntry.back() == '/' ||
                             (bThere && ::stat(place.Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ||
                             (!bThere && HoldsBelow(all, place.Key));
        if (!bFolder && place.Depth > 0) {
            // A single file: its folder, and in it that one name.
            const size_t iSlash = place.Path.rfind('/');
            place.Only = place.Path.substr(iSlash + 1);
            place = [&] {
                Place parent = FolderPlace(place.Path.substr(0, iSlash));
                parent.Only = place.Only;
                return parent;
            }();
        }
        places.push_back(place);
    }
    return places;
}

bool Restorer::Locate(const Entry& e, size_t& uPlace, std::vector<std::string>& rel, std::string& sWhy) const {
    const bool bByName = m_backup.IsArchive || !m_options.ToFolder.empty() || e.OriginalPath.empty();
    if (!SplitSafe(bByName ? e.Name : e.OriginalPath.substr(1), rel, sWhy)) return false;
    if (!m_options.ToFolder.empty()) {
        uPlace = 0;
        return true;
    }
    // The deepest source that holds the entry.
    const std::string sName = JoinParts(rel, rel.size());
    size_t uBest = SIZE_MAX;
    for (size_t i = 0; i < m_places.size(); ++i) {
        const Place& p = m_places[i];
        const bool bBelow =
            p.Key.empty() || sName == p.Key ||
            (sName.size() > p.Key.size() && sName.compare(0, p.Key.size(), p.Key) == 0 && sName[p.Key.size()] == '/');
        if (!bBelow) continue;
        if (!p.Only.empty() && (rel.size() != p.Depth + 1 || rel.back() != p.Only)) continue;
        if (uBest == SIZE_MAX || p.Depth > m_places[uBest].Depth) uBest = i;
    }
    if (uBest == SIZE_MAX) {
        sWhy = "outside the job's sources, refused";
        return false;
    }
    uPlace = uBest;
    rel.erase(rel.begin(), rel.begin() + static_cast<std::ptrdiff_t>(m_places[uBest].Depth));
    return true;
}

// Roots the destination chain at a place: its folder is opened as it is named (made with its
// parents when missing); everything below it is entered by descriptor.
bool Restorer::UsePlace(size_t uPlace, std::string& sWhy) {
    if (uPlace != m_uPlace) {
        m_uPlace = uPlace;
        m_sPlaceWhy.clear();
        const Place& place = m_places[uPlace];
        bool bMade = false;
        for (size_t i = 1; i <= place.Path.size(); ++i)
            if (i == place.Path.size() || place.Path[i] == '/')
                bMade = ::mkdir(place.Path.substr(0, i).c_str(), 0755) == 0;
        const int fd = ::open(place.Path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) m_sPlaceWhy = "The folder '" + place.Path + "' cannot be opened: " + std::strerror(errno);
        m_dest.Reset(fd);
        if (fd >= 0 && bMade) {
            Identity id{};
            m_dest.Identity(0, id.Dev, id.Ino);
            m_created[place.Shown] = id;
        }
    }
    sWhy = m_sPlaceWhy;
    return m_sPlaceWhy.empty();
}

// Before anything is written: the declared sizes of what will be written against the free
// space of each file system restored into (blocks and, where counted, inodes).
bool Restorer::Fits(const std::vector<size_t>& todo) {
    struct Need {
        std::string Where;
        struct statvfs Fs {};
        uint64_t Bytes = 0;
        uint64_t Nodes = 0;
    };
    std::map<dev_t, Need> needs;
    const bool bExistingKept =
        m_options.OnConflict == Conflict::Skip || m_options.OnConflict == Conflict::OverwriteOlder;
    FolderChain probe(false);
    size_t uOpen = SIZE_MAX;
    Need* pNeed = nullptr;
    Entry scratch;
    for (const size_t i : todo) {
        const Entry* e = &m_all->At(i, scratch);
        size_t u = 0;
        std::vector<std::string> rel;
        std::string sWhy;
        if (!e->Damage.empty() || !Locate(*e, u, rel, sWhy)) continue;
        if (u != uOpen) {
            uOpen = u;
            probe.Reset(::open(m_places[u].Path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            // The nearest folder that exists on the way tells the file system.
            std::string s = m_places[u].Path;
            struct stat st {};
            while (::stat(s.c_str(), &st) != 0 && s.size() > 1)
                s = s.substr(0, std::max<size_t>(s.rfind('/'), 1));
            pNeed = &needs[st.st_dev];
            if (pNeed->Where.empty()) {
                pNeed->Where = s;
                if (::statvfs(s.c_str(), &pNeed->Fs) != 0) pNeed->Fs = {};
            }
        }
        if (bExistingKept && probe.Root() >= 0 && !rel.empty()) {
            std::string sIgnored;
            const int iParent = probe.Enter(rel, rel.size() - 1, sIgnored);
            struct stat st {};
            if (iParent >= 0 && ::fstatat(iParent, rel.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                (e->IsDir || m_options.OnConflict == Conflict::Skip || libFiles::TimeNs(st.st_mtim) >= e->MTimeNs))
                continue; // kept as it is: nothing written
        }
        const uint64_t lBlock = pNeed->Fs.f_frsize ? pNeed->Fs.f_frsize : 4096;
        ++pNeed->Nodes;
        // Saturating: sizes a hostile archive declares must not wrap around to a small sum.
        const uint64_t lSize = e->IsDir                        ? lBlock
                               : e->Size > UINT64_MAX - lBlock ? UINT64_MAX
                                                               : (e->Size + lBlock - 1) / lBlock * lBlock;
        pNeed->Bytes = lSize > UINT64_MAX - pNeed->Bytes ? UINT64_MAX : pNeed->Bytes + lSize;
    }
    for (const auto& [dev, need] : needs) {
        if (need.Fs.f_frsize == 0) continue; // not measurable: the writes will tell
        const uint64_t lFree =
            static_cast<uint64_t>(::geteuid() == 0 ? need.Fs.f_bfree : need.Fs.f_bavail) * need.Fs.f_frsize;
        std::string sWhy;
        if (need.Bytes > lFree)
            sWhy = "Not enough free space in '" + need.Where + "': the restore needs " + std::to_string(need.Bytes) +
                   " bytes, " + std::to_string(lFree) + " bytes are free. Nothing was restored.";
        else if (need.Fs.f_files > 0 && need.Nodes > need.Fs.f_favail)
            sWhy = "Not enough free space in '" + need.Where + "': the restore makes " + std::to_string(need.Nodes) +
                   " files and folders, room is left for " + std::to_string(need.Fs.f_favail) +
                   ". Nothing was restored.";
        if (!sWhy.empty()) {
            m_report.Result = Status::NoRoom;
            m_report.Error = sWhy;
            return false;
        }
    }
    return true;
}

// Removes the temporary files a killed restore left in a folder (their name carries the process
// id; those of a restore still running stay).
void Restorer::Sweep(int iFolder, const std::string& sShown) {
    const int fd = ::openat(iFolder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* pDir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (pDir == nullptr) {
        if (fd >= 0) ::close(fd);
        return;
    }
    const size_t uMark = std::strlen(TempMark);
    std::vector<std::string> stale;
    while (dirent* d = ::readdir(pDir)) {
        const char* s = d->d_name;
        if (std::strncmp(s, TempMark, uMark) != 0) continue;
        char* pEnd = nullptr;
        const long lPid = std::strtol(s + uMark, &pEnd, 10);
        if (lPid <= 0 || pEnd == s + uMark || *pEnd != '-' || lPid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(lPid), 0) == 0 || errno != ESRCH) continue; // still running
        stale.emplace_back(s);
    }
    ::closedir(pDir);
    for (const std::string& s : stale) {
        struct stat st {};
        if (::fstatat(iFolder, s.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) continue;
        if (::unlinkat(iFolder, s.c_str(), 0) == 0)
            libLog::LogEvent("  Removed '" + sShown + s + "', left by an interrupted restore");
    }
}

// Folder modes and times last (adding files changed the times), on the opened folder itself,
// and only for folders this restore made and that are still the same folders.
void Restorer::FinishFolders() {
    std::sort(m_folderTimes.begin(), m_folderTimes.end(), [](const FolderTimes& a, const FolderTimes& b) {
        return a.Place != b.Place ? a.Place > b.Place : a.Path > b.Path; // contents before their folder
    });
    m_dest.SetMake(false);
    m_uPlace = SIZE_MAX;
    std::vector<std::string> parts;
    for (const FolderTimes& f : m_folderTimes) {
        const std::string sShown = m_places[f.Place].Shown + f.Path;
        const auto it = m_created.find(sShown);
        if (it == m_created.end() || m_links.count(sShown) != 0) continue;
        std::string sWhy;
        if (!UsePlace(f.Place, sWhy)) continue;
        if (f.Path.empty())
            parts.clear();
        else if (!SplitSafe(f.Path, parts, sWhy))
            continue;
        const int fd = m_dest.Enter(parts, parts.size(), sWhy);
        dev_t dev = 0;
        ino_t ino = 0;
        m_dest.Identity(parts.size(), dev, ino);
        if (fd < 0 || dev != it->second.Dev || ino != it->second.Ino) {
            libLog::LogEvent("  The mode and time of '" + sShown + "' were not set: it changed during the restore");
            continue;
        }
        ::fchmod(fd, static_cast<mode_t>(f.Mode & 01777 & ~m_uUmask));
        const timespec times[2] = {TimeOfNs(f.MTimeNs), TimeOfNs(f.MTimeNs)};
        ::futimens(fd, times);
    }
}

} // namespace libRestore::detail
