// The list of a job's backups, the contents of one, and the filter over them. The restore
// itself is in Restorer.cpp.

#include "engine/libRestore.h"

#include "engine/ArchiveCheck.h"
#include "engine/ArchiveSource.h"
#include "engine/FolderChain.h"
#include "engine/JobTemp.h"
#include "engine/LookAhead.h"
#include "engine/RestoreInternal.h"
#include "engine/Snapshots.h"
#include "engine/ZipAes.h"
#include "engine/ZipFormat.h"
#include "engine/libCopy.h"
#include "engine/libRetention.h"
#include "jobs/CBackupJob.h"
#include "support/libDates.h"
#include "support/libFiles.h"
#include "support/libStrings.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

namespace libRestore {

namespace {

// Where the copy job's entries land in its target tree and where they came from.
struct CopyRoot {
    std::string TreeName;     // below the target: "Docs/" for a folder, "a.txt" for a file
    std::string SourceFolder; // the folder it mirrors ("/data/Docs/"); "" for a single file
    std::string SourceFile;   // the single file ("/data/a.txt")
};

std::vector<CopyRoot> CopyRootsOf(const CBackupJob& job) {
    std::vector<CopyRoot> roots;
    for (std::string sEntry : libStrings::FileList(job.FilesToZip())) {
        if (sEntry.empty() || sEntry[0] != '/') continue;
        CopyRoot root;
        if (!libCopy::IsWildcardEntry(sEntry) && (libFiles::DirExists(sEntry) || sEntry.back() == '/'))
            sEntry = libFiles::AddTrailingSlash(sEntry) + "*.*";
        if (libCopy::IsWildcardEntry(sEntry)) {
            const std::string sFolder = libCopy::LastFolderName(sEntry);
            if (sFolder.empty()) continue; // copied into the target itself: no tree of its own
            root.TreeName = sFolder + "/";
            root.SourceFolder = libFiles::FilePathStripFileName(sEntry);
        } else {
            root.TreeName = libFiles::FilePathStripPath(sEntry);
            root.SourceFile = sEntry;
        }
        const bool bSeen =
            std::any_of(roots.begin(), roots.end(), [&](const CopyRoot& r) { return r.TreeName == root.TreeName; });
        if (!bSeen && !root.TreeName.empty()) roots.push_back(root);
    }
    return roots;
}

Entry EntryOf(const std::string& sName, const std::string& sOriginal, const struct stat& st) {
    Entry e;
    e.Name = sName;
    e.OriginalPath = sOriginal;
    e.Mode = st.st_mode;
    e.IsDir = S_ISDIR(st.st_mode);
    e.IsLink = S_ISLNK(st.st_mode);
    e.Size = e.IsDir ? 0 : static_cast<uint64_t>(st.st_size);
    e.MTimeNs = libFiles::TimeNs(st.st_mtim);
    return e;
}

// Folders nested deeper than this below a copy tree's root are not listed (a bind mount can
// make a tree without end); the listing then says where it stopped.
constexpr size_t MaxListDepth = 4096;
// Threads reading the tree ahead of its listing: on a cold disk they wait on it, not on a core.
constexpr unsigned ReadAheadThreads = 4;

// The names in an open folder, sorted, without the job's temporary folders; false when it
// cannot be read.
bool ListNames(int iFolder, std::vector<std::string>& names) {
    names.clear();
    const int fd = ::openat(iFolder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* pDir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (pDir == nullptr) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    while (dirent* d = ::readdir(pDir)) {
        const std::string s = d->d_name;
        if (s == "." || s == ".." || s.rfind(JobTemp::Prefix, 0) == 0) continue;
        names.push_back(s);
    }
    ::closedir(pDir);
    std::sort(names.begin(), names.end());
    return true;
}

// Walks a folder of the copy tree depth first in name order, by descriptor from the target
// folder and without following links, at any depth up to MaxListDepth. The first place where
// the listing stopped goes to sProblem. A look-ahead reads the folders the walk comes to next,
// so that what the walk looks up is mostly read already; the walk alone decides what is listed.
void WalkTree(FolderChain& chain, const std::string& sTarget, const std::string& sTreeName,
              const std::string& sOriginal, const detail::EntrySink& add, std::string& sProblem) {
    struct Frame {
        std::vector<std::string> Names;
        size_t Next = 0;
        std::string Name;     // inside the backup, with a final "/"
        std::string Original; // where it came from, with a final "/"
    };
    const auto stopped = [&](const std::string& sWhy) {
        if (sProblem.empty()) sProblem = "The listing of '" + sTarget + "' stopped: " + sWhy;
    };
    std::vector<std::string> parts{libFiles::RemoveTrailingSlash(sTreeName)};
    std::vector<Frame> stack(1);
    stack[0].Name = sTreeName;
    stack[0].Original = sOriginal;
    std::string sWhy;
    const int iTop = chain.Enter(parts, 1, sWhy);
    if (iTop < 0 || !ListNames(iTop, stack[0].Names)) return stopped("'" + sTreeName + "' cannot be read");
    // Only the reading ahead is wanted: the walk looks every entry up itself.
    libCopy::detail::LookAhead ahead(sTarget + parts[0], true, ReadAheadThreads,
                                     libCopy::detail::SiblingOrder::SmallerFirst, false);
    (void)ahead.Enter("");
    while (!stack.empty()) {
        if (stack.back().Next == stack.back().Names.size()) {
            stack.pop_back();
            parts.pop_back();
            continue;
        }
        const std::string s = stack.back().Names[stack.back().Next++];
        const std::string sName = stack.back().Name + s, sFrom = stack.back().Original + s;
        const int fd = chain.Enter(parts, parts.size(), sWhy);
        struct stat st {};
        if (fd < 0 || ::fstatat(fd, s.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (fd < 0 || errno != ENOENT) stopped("'" + sName + "': " + (fd < 0 ? sWhy : std::strerror(errno)));
            continue; // a file that went since the folder was read is no loss of the listing
        }
        if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            Entry e = EntryOf(sName, sFrom, st);
            add(e);
            continue;
        }
        if (!S_ISDIR(st.st_mode)) continue;
        Entry e = EntryOf(sName + "/", sFrom, st);
        add(e);
        if (stack.size() >= MaxListDepth) {
            stopped("folders nested more than " + std::to_string(MaxListDepth) + " deep are not listed ('" + sTreeName +
                    "')");
            continue;
        }
        parts.push_back(s);
        Frame child;
        child.Name = sName + "/";
        child.Original = sFrom + "/";
        const int iChild = chain.Enter(parts, parts.size(), sWhy);
        if (iChild < 0 || !ListNames(iChild, child.Names)) {
            stopped("'" + child.Name + "' cannot be read" + (iChild < 0 ? ": " + sWhy : ""));
            parts.pop_back();
            continue;
        }
        (void)ahead.Enter(child.Name.substr(sTreeName.size(), child.Name.size() - sTreeName.size() - 1));
        stack.push_back(std::move(child));
    }
}

// The Unix modification time of the extended-timestamp field (0x5455), when the entry has one.
bool ExtendedMTime(zip_t* pZip, zip_uint64_t uIndex, int64_t& lSeconds) {
    for (zip_flags_t flags : {ZIP_FL_CENTRAL, ZIP_FL_LOCAL}) {
        zip_uint16_t uLen = 0;
        const zip_uint8_t* p = zip_file_extra_field_get_by_id(pZip, uIndex, ZipFormat::TimeId, 0, &uLen, flags);
        if (ZipFormat::ExtendedMTime(p, uLen, lSeconds)) return true;
    }
    return false;
}

} // namespace

namespace detail {

int OpenTreeRoot(const std::string& sPath, bool bSnapshot) {
    if (!bSnapshot) return ::open(sPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // The snapshot's own folder is never a link (a final "/" would have the kernel follow one).
    std::string s = sPath;
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return ::open(s.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

std::string ZipErrorText(int iCode) {
    zip_error_t error;
    zip_error_init_with_code(&error, iCode);
    std::string s = zip_error_strerror(&error);
    zip_error_fini(&error);
    return s;
}

std::string ReadCopyTree(const CBackupJob& job, const std::string& sTarget, bool bSnapshot, const EntrySink& add) {
    const int iTarget = OpenTreeRoot(sTarget, bSnapshot);
    if (iTarget < 0) return "The folder '" + sTarget + "' cannot be read: " + std::strerror(errno);
    FolderChain chain(false);
    chain.Reset(iTarget);
    std::string sProblem;
    for (CopyRoot root : CopyRootsOf(job)) {
        struct stat st {};
        if (::fstatat(iTarget, libFiles::RemoveTrailingSlash(root.TreeName).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        // A folder source that is gone (named without a final "/") still has its copy.
        if (root.SourceFolder.empty() && S_ISDIR(st.st_mode) && !libFiles::FileExists(root.SourceFile) &&
            !libFiles::DirExists(root.SourceFile)) {
            root.SourceFolder = root.SourceFile + "/";
            root.TreeName += "/";
        }
        if (!root.SourceFolder.empty()) {
            if (!S_ISDIR(st.st_mode)) continue;
            Entry e = EntryOf(root.TreeName, libFiles::RemoveTrailingSlash(root.SourceFolder), st);
            add(e);
            WalkTree(chain, sTarget, root.TreeName, root.SourceFolder, add, sProblem);
        } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            Entry e = EntryOf(root.TreeName, root.SourceFile, st);
            add(e);
        }
    }
    return sProblem;
}

zip_t* OpenArchive(const std::string& sPath, int iFlags, std::string& sError) {
    int iErr = 0;
    zip_t* pZip = ArchiveSource::Open(sPath, iFlags, iErr);
    if (pZip == nullptr) sError = "'" + sPath + "' cannot be read as an archive: " + ZipErrorText(iErr);
    return pZip;
}

bool ReadArchiveEntries(zip_t* pZip, std::vector<Entry>& entries, std::string& sError) {
    entries.reserve(entries.size() + static_cast<size_t>(std::max<zip_int64_t>(zip_get_num_entries(pZip, 0), 0)));
    return ReadArchiveEntries(
        pZip, [&](Entry& e) { entries.push_back(std::move(e)); }, sError);
}

bool ReadArchiveEntries(zip_t* pZip, const EntrySink& add, std::string& sError) {
    const zip_int64_t lCount = zip_get_num_entries(pZip, 0);
    // The names' exact bytes and what the format does not check, from the directory's own bytes.
    // A directory that cannot be read whole leaves no entry to trust (and may hide some).
    std::vector<ArchiveCheck::RawEntry> raw;
    std::string sWhy;
    const int iFd = ArchiveSource::Fd(pZip);
    if (iFd < 0) {
        sError = "the archive was not opened through OpenArchive, so its directory cannot be checked";
        return false;
    }
    if (!ArchiveCheck::ScanArchive(iFd, raw, sWhy)) {
        sError = "the archive is damaged: " + sWhy;
        return false;
    }
    if (raw.size() != static_cast<uint64_t>(std::max<zip_int64_t>(lCount, 0))) {
        sError = "the archive is damaged: its central directory reads two ways";
        return false;
    }
    for (zip_int64_t i = 0; i < lCount; ++i) {
        const auto uIndex = static_cast<zip_uint64_t>(i);
        Entry e;
        e.Name = std::move(raw[uIndex].Name); // the exact bytes, never transcoded
        e.Damage = std::move(raw[uIndex].Damage);
        e.DataStart = raw[uIndex].DataStart;
        if (!CompleteEntry(pZip, uIndex, raw[uIndex].Aes, e, sError)) return false;
        add(e);
    }
    return true;
}

bool CompleteEntry(zip_t* pZip, uint64_t uIndex, const std::string& sAes, Entry& e, std::string& sError) {
    zip_stat_t st;
    if (zip_stat_index(pZip, uIndex, 0, &st) != 0) {
        sError = zip_strerror(pZip);
        return false;
    }
    EntryFacts f;
    f.Size = st.size;
    f.Crc = st.crc;
    f.StoredSize = st.comp_size;
    const bool bRawKnown = (st.valid & ZIP_STAT_COMP_METHOD) && (st.valid & ZIP_STAT_COMP_SIZE);
    f.Method = bRawKnown ? static_cast<uint16_t>(st.comp_method) : UINT16_MAX;
    const bool bKnown = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0;
    f.Encrypted = !bKnown || st.encryption_method != ZIP_EM_NONE;
    zip_file_get_external_attributes(pZip, uIndex, 0, &f.System, &f.Attributes);
    if (!ExtendedMTime(pZip, uIndex, f.MTime)) f.MTime = st.mtime;
    FillEntry(uIndex, f, bKnown ? sAes : std::string(), e);
    return true;
}

void FillEntry(uint64_t uIndex, const EntryFacts& f, const std::string& sAes, Entry& e) {
    e.Index = uIndex;
    e.Size = f.Size;
    e.Crc = f.Crc;
    e.StoredSize = f.StoredSize;
    e.Method = f.Method;
    e.Encrypted = f.Encrypted;
    e.AesStrength = 0;
    e.CrcKnown = true;
    if (sAes.size() == 7 && f.Encrypted) {
        e.AesStrength = static_cast<uint8_t>(sAes[4]);
        e.CrcKnown = sAes[0] != 2; // AE-2 stores no CRC
    }
    const bool bNamedDir = !e.Name.empty() && e.Name.back() == '/';
    e.Mode = f.System == ZIP_OPSYS_UNIX ? f.Attributes >> 16 : 0;
    if ((e.Mode & S_IFMT) == 0) e.Mode |= bNamedDir ? S_IFDIR : S_IFREG;
    if ((e.Mode & 07777) == 0) e.Mode |= bNamedDir ? 0755 : 0644;
    e.IsDir = bNamedDir || S_ISDIR(e.Mode);
    e.IsLink = !e.IsDir && S_ISLNK(e.Mode);
    e.MTimeNs = f.MTime * 1000000000;
    e.OriginalPath = "/";
    e.OriginalPath.append(e.Name, 0, bNamedDir ? e.Name.size() - 1 : e.Name.size());
}

Status CheckAes(zip_t* pZip, const Entry& e, const std::string& sPassword, std::string& sWhy) {
    if (e.AesStrength == 0) return Status::Ok;
    if (e.DataStart == 0) { // its local header did not check out: the entry carries its Damage
        sWhy = "damaged: its data cannot be found";
        return Status::Unreadable;
    }
    switch (
        libZip::detail::AesAuthenticate(ArchiveSource::Fd(pZip), e.DataStart, e.StoredSize, e.AesStrength, sPassword)) {
    case libZip::detail::AesCheck::Sound:
        return Status::Ok;
    case libZip::detail::AesCheck::WrongPassword:
        sWhy = "the password is wrong";
        return Status::WrongPassword;
    case libZip::detail::AesCheck::Damaged:
        sWhy = "damaged: its authentication code does not match its data";
        return Status::Unreadable;
    case libZip::detail::AesCheck::Unreadable:
        break;
    }
    sWhy = "its encrypted data cannot be read";
    return Status::Unreadable;
}

bool ZeroCrcMisread(const Entry& e, uint64_t lRead, int iZipError) {
    return e.AesStrength != 0 && !e.CrcKnown && lRead == e.Size && iZipError == ZIP_ER_CRC;
}

bool MatchesAny(const Entry& e, const std::vector<std::string>& specs) {
    const std::string sPath = e.IsDir ? e.Name.substr(0, e.Name.size() - 1) : e.Name;
    const std::string sLeaf = libFiles::FilePathStripPath(sPath);
    for (const std::string& sSpec : specs) {
        const bool bWholePath = sSpec.find('/') != std::string::npos;
        // A specification with a folder part is matched against the path inside the backup
        // and, for a leading "/", against the original path.
        const bool bMatch = !bWholePath       ? libStrings::WildcardMatch(sLeaf, sSpec)
                            : sSpec[0] == '/' ? libStrings::Like(e.OriginalPath, sSpec)
                                              : libStrings::Like(sPath, sSpec);
        if (bMatch) return true;
    }
    return false;
}

} // namespace detail

std::vector<BackupInfo> ListBackups(const CBackupJob& job, bool bSizes) {
    std::vector<BackupInfo> result;
    if (job.TargetDirectory().empty()) return result;
    const std::string sTarget = libFiles::AddTrailingSlash(job.TargetDirectory());
    if (!job.Compress()) {
        struct stat st {};
        if (::stat(sTarget.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return result;
        BackupInfo info;
        info.Path = sTarget;
        info.IsArchive = false;
        info.MTimeNs = libFiles::TimeNs(st.st_mtim);
        if (bSizes)
            detail::ReadCopyTree(job, sTarget, false, [&](Entry& e) {
                info.Size += e.IsDir ? 0 : e.Size;
                info.MTimeNs = std::max(info.MTimeNs, e.MTimeNs);
            });
        result.push_back(info);
        return result;
    }
    const std::string sBaseName = libFiles::FilePathStripPath(libRetention::ZipBase(sTarget, job.JobName()));
    struct Found {
        BackupInfo Info;
        bool Dated = false;
        double Date = 0;
        int Number = 0; // counted copy number, or the dated copy number
    };
    std::vector<Found> found;
    if (DIR* pDir = ::opendir(sTarget.c_str())) {
        while (dirent* d = ::readdir(pDir)) {
            const std::string sName = d->d_name;
            Found f;
            libRetention::DatedZipName dated;
            if (libRetention::ParseCountedZipName(sName, sBaseName, f.Number)) {
                f.Dated = false;
            } else if (libRetention::ParseDatedZipName(sName, sBaseName, dated)) {
                f.Dated = true;
                f.Date = dated.Date;
                f.Number = dated.CopyNumber;
            } else {
                continue;
            }
            struct stat st {};
            if (::stat((sTarget + sName).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            f.Info.Path = sTarget + sName;
            f.Info.MTimeNs = libFiles::TimeNs(st.st_mtim);
            f.Info.Size = static_cast<uint64_t>(st.st_size);
            found.push_back(f);
        }
        ::closedir(pDir);
    }
    const bool bDatedFirst = job.KeepPeriod() != CBackupJob::KeepCopies;
    std::sort(found.begin(), found.end(), [&](const Found& a, const Found& b) {
        if (a.Dated != b.Dated) return a.Dated == bDatedFirst;
        if (!a.Dated) return a.Number < b.Number; // base.zip, then _1, _2 ...
        if (a.Date != b.Date) return a.Date > b.Date;
        return a.Number > b.Number; // (2) was made after (1) on the same day
    });
    for (const Found& f : found)
        result.push_back(f.Info);
    return result;
}

namespace {

// Whether the target folder still holds one of the copy job's trees.
bool HoldsCopyTree(const CBackupJob& job, const std::string& sTarget) {
    for (const CopyRoot& root : CopyRootsOf(job)) {
        struct stat st {};
        if (::lstat((sTarget + libFiles::RemoveTrailingSlash(root.TreeName)).c_str(), &st) == 0) return true;
    }
    return false;
}

BackupInfo SnapshotInfo(const std::string& sFolder, const Snapshots::Snapshot& snapshot) {
    BackupInfo info;
    info.Path = sFolder + "/" + snapshot.Name + "/";
    info.IsArchive = false;
    info.Snapshot = snapshot.Name;
    info.MTimeNs = static_cast<int64_t>(libDates::ToTimeT(snapshot.When)) * 1000000000;
    return info;
}

} // namespace

std::vector<BackupInfo> ListRestorable(const CBackupJob& job, bool bSizes) {
    std::vector<BackupInfo> backups = ListBackups(job, bSizes);
    if (job.Compress() || job.TargetDirectory().empty()) return backups;
    const std::string sTarget = libFiles::AddTrailingSlash(job.TargetDirectory());
    const std::string sFolder = Snapshots::FolderOf(job.TargetDirectory(), job.JobName());
    std::vector<BackupInfo> snapshots;
    for (const Snapshots::Snapshot& snapshot : Snapshots::List(sFolder))
        snapshots.push_back(SnapshotInfo(sFolder, snapshot));
    // A target that holds none of the job's trees (only snapshots, or nothing yet) is no backup.
    if ((job.Snapshots() || !snapshots.empty()) && !HoldsCopyTree(job, sTarget)) backups.clear();
    auto at = job.Snapshots() ? backups.begin() : backups.end();
    backups.insert(at, snapshots.begin(), snapshots.end());
    return backups;
}

bool ResolveSnapshotLink(const std::string& sPath, std::string& sResolved, std::string& sWhy) {
    sWhy.clear();
    const std::string sLink = libFiles::RemoveTrailingSlash(sPath);
    const std::string sFolder = libFiles::FilePathStripFileName(sLink); // with its final "/"
    struct stat st {};
    if (::lstat(sLink.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    const std::string sSuffix = ".snapshots/";
    if (sFolder.size() < sSuffix.size() ||
        sFolder.compare(sFolder.size() - sSuffix.size(), sSuffix.size(), sSuffix) != 0)
        return false;
    char buf[4096];
    const ssize_t n = ::readlink(sLink.c_str(), buf, sizeof buf);
    const std::string sTarget = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    double dWhen = 0;
    struct stat dated {};
    // Only a dated name beside the link, a real folder: a snapshot that is complete.
    if (!libDates::ParseStamp(sTarget, dWhen) || ::lstat((sFolder + sTarget).c_str(), &dated) != 0 ||
        !S_ISDIR(dated.st_mode)) {
        sWhy = "'" + sLink + "' is a link to '" + sTarget +
               "', not to a snapshot beside it; restore follows no other link: name the snapshot's folder";
        return false;
    }
    sResolved = sFolder + sTarget + "/";
    return true;
}

bool BackupAt(const std::string& sPath, BackupInfo& backup) {
    struct stat st {};
    if (::stat(sPath.c_str(), &st) != 0) return false;
    backup = BackupInfo();
    backup.IsArchive = !S_ISDIR(st.st_mode);
    backup.Path = backup.IsArchive ? sPath : libFiles::AddTrailingSlash(sPath);
    backup.MTimeNs = libFiles::TimeNs(st.st_mtim);
    const std::string sBare = libFiles::RemoveTrailingSlash(sPath);
    const std::string sLeaf = libFiles::FilePathStripPath(sBare);
    const std::string sParent = libFiles::RemoveTrailingSlash(libFiles::FilePathStripFileName(sBare));
    double dWhen = 0;
    if (!backup.IsArchive && sParent.size() > 10 && sParent.compare(sParent.size() - 10, 10, ".snapshots") == 0 &&
        libDates::ParseStamp(sLeaf, dWhen))
        backup = SnapshotInfo(sParent, {sLeaf, dWhen});
    return true;
}

Status ReadContents(const CBackupJob& job, const BackupInfo& backup, std::vector<Entry>& entries, std::string& sError) {
    entries.clear();
    if (!backup.IsArchive) {
        sError = detail::ReadCopyTree(job, libFiles::AddTrailingSlash(backup.Path), !backup.Snapshot.empty(),
                                      [&](Entry& e) { entries.push_back(std::move(e)); });
        return sError.empty() ? Status::Ok : Status::Incomplete;
    }
    zip_t* pZip = detail::OpenArchive(backup.Path, 0, sError);
    if (pZip == nullptr) return Status::Unreadable;
    const bool bOk = detail::ReadArchiveEntries(pZip, entries, sError);
    zip_discard(pZip);
    return bOk ? Status::Ok : Status::Unreadable;
}

Status CheckPassword(const BackupInfo& backup, const std::string& sPassword) {
    if (!backup.IsArchive) return Status::Ok;
    std::string sError;
    zip_t* pZip = detail::OpenArchive(backup.Path, 0, sError);
    if (pZip == nullptr) return Status::Unreadable;
    if (!sPassword.empty()) zip_set_default_password(pZip, sPassword.c_str());
    std::vector<Entry> entries;
    if (!detail::ReadArchiveEntries(pZip, entries, sError)) entries.clear();
    Status result = Status::Ok;
    for (const Entry& e : entries) {
        zip_stat_t st;
        if (e.IsDir || !e.Damage.empty() || zip_stat_index(pZip, e.Index, 0, &st) != 0 ||
            !(st.valid & ZIP_STAT_ENCRYPTION_METHOD) || st.encryption_method == ZIP_EM_NONE)
            continue;
        if (e.AesStrength != 0) {
            // Its verifier and authentication code say it for sure; a damaged entry says nothing.
            std::string sWhy;
            result = detail::CheckAes(pZip, e, sPassword, sWhy);
            if (result == Status::Unreadable) {
                result = Status::Ok;
                continue;
            }
            break;
        }
        if (e.Size == 0) continue;
        // A wrong password passes the header check now and then; the data read shows it.
        zip_file_t* pFile = zip_fopen_index(pZip, e.Index, 0);
        char buf[65536];
        if (pFile == nullptr) {
            result = Status::WrongPassword;
        } else {
            zip_int64_t r;
            int iChunks = 0; // a small file is read whole (its CRC checked); a long one in part
            while ((r = zip_fread(pFile, buf, sizeof buf)) > 0 && ++iChunks < 16) {
            }
            if (r < 0) result = Status::WrongPassword;
            zip_fclose(pFile);
        }
        break;
    }
    zip_discard(pZip);
    return result;
}

std::vector<Entry> Filter(const std::vector<Entry>& entries, const std::vector<std::string>& specs) {
    if (specs.empty()) return entries;
    std::vector<Entry> result;
    for (const Entry& e : entries)
        if (detail::MatchesAny(e, specs)) result.push_back(e);
    return result;
}

std::string RestoredName(const std::string& sName, int iCopy) {
    const std::string sMark = iCopy > 1 ? " (restored " + std::to_string(iCopy) + ")" : " (restored)";
    const size_t iDot = sName.rfind('.');
    if (iDot == std::string::npos || iDot == 0) return sName + sMark;
    return sName.substr(0, iDot) + sMark + sName.substr(iDot);
}

} // namespace libRestore
