// The versions of one file across a job's backups, and whether each differs from the one before.

#include "engine/FileVersions.h"

#include "engine/FolderChain.h"
#include "engine/RestoreInternal.h"
#include "engine/Restorer.h"
#include "support/libFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileVersions {

namespace {

constexpr size_t LinkMax = 4096;

// One file of a copy tree, reached from the backup's root by descriptor without following links.
struct TreeFile {
    struct stat St {};
    int Fd = -1;            // open for reading (a regular file, when asked for)
    std::string LinkTarget; // a link's target (when asked for)
    TreeFile() = default;
    TreeFile(const TreeFile&) = delete;
    TreeFile& operator=(const TreeFile&) = delete;
    ~TreeFile() {
        if (Fd >= 0) ::close(Fd);
    }
};

bool ReadTreeFile(const libRestore::BackupInfo& backup, const std::string& sName, bool bOpen, TreeFile& file,
                  std::string& sWhy) {
    std::vector<std::string> parts;
    if (!libRestore::detail::SplitSafe(sName, parts, sWhy)) return false;
    const int iRoot = libRestore::detail::OpenTreeRoot(backup.Path, !backup.Snapshot.empty());
    if (iRoot < 0) {
        sWhy = "'" + backup.Path + "' cannot be read: " + std::strerror(errno);
        return false;
    }
    FolderChain chain(false);
    chain.Reset(iRoot);
    const int iFolder = chain.Enter(parts, parts.size() - 1, sWhy);
    if (iFolder < 0) return false;
    const std::string& sLeaf = parts.back();
    if (::fstatat(iFolder, sLeaf.c_str(), &file.St, AT_SYMLINK_NOFOLLOW) != 0) {
        sWhy = std::strerror(errno);
        return false;
    }
    if (!bOpen) return true;
    if (S_ISLNK(file.St.st_mode)) {
        char buf[LinkMax + 1];
        const ssize_t n = ::readlinkat(iFolder, sLeaf.c_str(), buf, sizeof buf);
        if (n < 0 || static_cast<size_t>(n) > LinkMax) {
            sWhy = n < 0 ? std::strerror(errno) : "link target too long";
            return false;
        }
        file.LinkTarget.assign(buf, static_cast<size_t>(n));
        return true;
    }
    file.Fd = ::openat(iFolder, sLeaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (file.Fd < 0) sWhy = std::strerror(errno);
    return file.Fd >= 0;
}

Change CompareTreeFiles(const Version& newer, const Version& older) {
    if (newer.Dev == older.Dev && newer.Ino == older.Ino) return Change::Same; // one inode, linked
    TreeFile a, b;
    std::string sWhy;
    if (!ReadTreeFile(newer.Backup, newer.Entry.Name, true, a, sWhy) ||
        !ReadTreeFile(older.Backup, older.Entry.Name, true, b, sWhy))
        return Change::NotCompared;
    if ((a.St.st_mode & S_IFMT) != (b.St.st_mode & S_IFMT)) return Change::Differs;
    if (S_ISLNK(a.St.st_mode)) return a.LinkTarget == b.LinkTarget ? Change::Same : Change::Differs;
    if (a.St.st_size != b.St.st_size) return Change::Differs;
    std::vector<char> bufA(1 << 20), bufB(1 << 20);
    for (;;) {
        const ssize_t ra = libFiles::ReadFull(a.Fd, bufA.data(), bufA.size());
        const ssize_t rb = libFiles::ReadFull(b.Fd, bufB.data(), bufB.size());
        if (ra < 0 || rb < 0) return Change::NotCompared;
        if (ra != rb || std::memcmp(bufA.data(), bufB.data(), static_cast<size_t>(ra)) != 0) return Change::Differs;
        if (ra == 0) return Change::Same;
    }
}

bool FindInTree(const libRestore::BackupInfo& backup, const libRestore::Entry& file, Version& version,
                std::vector<std::string>& problems) {
    TreeFile found;
    std::string sWhy;
    if (!ReadTreeFile(backup, file.Name, false, found, sWhy)) {
        // Not in this backup is no problem; an unreadable backup is.
        const int iRoot = libRestore::detail::OpenTreeRoot(backup.Path, !backup.Snapshot.empty());
        if (iRoot < 0) problems.push_back(sWhy);
        if (iRoot >= 0) ::close(iRoot);
        return false;
    }
    const struct stat& st = found.St;
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return false;
    version.Entry = file; // the same name, from the same source, in every tree of the job
    version.Entry.Mode = st.st_mode;
    version.Entry.IsDir = false;
    version.Entry.IsLink = S_ISLNK(st.st_mode);
    version.Entry.Size = static_cast<uint64_t>(st.st_size);
    version.Entry.MTimeNs = libFiles::TimeNs(st.st_mtim);
    version.Dev = st.st_dev;
    version.Ino = st.st_ino;
    return true;
}

bool FindInArchive(const CBackupJob& job, const libRestore::BackupInfo& backup, const libRestore::Entry& file,
                   Version& version, std::vector<std::string>& problems) {
    std::vector<libRestore::Entry> entries;
    std::string sError;
    if (libRestore::ReadContents(job, backup, entries, sError) != libRestore::Status::Ok) {
        problems.push_back(sError);
        return false;
    }
    for (const libRestore::Entry& e : entries)
        if (!e.IsDir && e.Name == file.Name) {
            version.Entry = e;
            return true;
        }
    return false;
}

} // namespace

std::vector<Version> Find(const CBackupJob& job, const std::vector<libRestore::BackupInfo>& backups,
                          const libRestore::Entry& file, std::vector<std::string>& problems) {
    std::vector<Version> versions;
    if (file.IsDir) return versions;
    for (const libRestore::BackupInfo& backup : backups) {
        Version version;
        version.Backup = backup;
        const bool bFound = backup.IsArchive ? FindInArchive(job, backup, file, version, problems)
                                             : FindInTree(backup, file, version, problems);
        if (bFound) versions.push_back(std::move(version));
    }
    for (size_t i = 0; i + 1 < versions.size(); ++i)
        versions[i].AgainstOlder = Compare(versions[i], versions[i + 1]);
    return versions;
}

Change Compare(const Version& newer, const Version& older) {
    const libRestore::Entry& a = newer.Entry;
    const libRestore::Entry& b = older.Entry;
    if (a.IsLink != b.IsLink || a.Size != b.Size) return Change::Differs;
    if (!newer.Backup.IsArchive && !older.Backup.IsArchive) return CompareTreeFiles(newer, older);
    if (newer.Backup.IsArchive && older.Backup.IsArchive && a.CrcKnown && b.CrcKnown)
        return a.Crc == b.Crc ? Change::Same : Change::Differs;
    return Change::NotCompared;
}

} // namespace FileVersions
