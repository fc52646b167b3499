// libRestore::Restore: writes a selection of a backup below the folder restored into, entering
// every folder by descriptor so that nothing the backup holds can lead the writes elsewhere.

#include "engine/RestoreInternal.h"
#include "engine/libRestore.h"

#include "jobs/CBackupJob.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zip.h>

namespace libRestore {

namespace {

constexpr size_t BufferSize = 1 << 20;

// The components of a name inside the backup; false (with the reason) for a name that would
// leave the folder it is restored into.
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
        const std::string s = sName.substr(i, j - i);
        if (s == "..") {
            sWhy = "name leading out of the destination refused";
            return false;
        }
        if (!s.empty() && s != ".") parts.push_back(s);
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
    for (size_t i = 0; i < n; ++i)
        s += (i ? "/" : "") + parts[i];
    return s;
}

timespec TimeOf(int64_t lNs) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(lNs / 1000000000);
    t.tv_nsec = static_cast<long>(lNs % 1000000000);
    if (t.tv_nsec < 0) {
        t.tv_nsec += 1000000000;
        --t.tv_sec;
    }
    return t;
}

// Where the data of one entry comes from: an archive entry or a file of the copy tree.
struct DataSource {
    zip_file_t* Zip = nullptr;
    int Fd = -1;
    ~DataSource() {
        if (Zip) zip_fclose(Zip);
        if (Fd >= 0) ::close(Fd);
    }
    // Bytes read, 0 at the end, -1 on an error (sWhy set).
    ssize_t Read(char* p, size_t n, std::string& sWhy) {
        if (Zip) {
            const zip_int64_t r = zip_fread(Zip, p, n);
            if (r < 0) sWhy = zip_error_strerror(zip_file_get_error(Zip));
            return static_cast<ssize_t>(r);
        }
        ssize_t r;
        do
            r = ::read(Fd, p, n);
        while (r < 0 && errno == EINTR);
        if (r < 0) sWhy = std::strerror(errno);
        return r;
    }
};

class Restorer {
public:
    Restorer(const CBackupJob& job, const BackupInfo& backup, const Options& options, Report& report)
        : m_job(job), m_backup(backup), m_options(options), m_report(report) {}
    ~Restorer();
    void Run(const std::vector<Entry>& selection);

private:
    bool OpenRoot();
    int Folder(const std::vector<std::string>& parts, size_t n, std::string& sWhy);
    void One(const Entry& e);
    bool WriteData(const Entry& e, int iParent, const std::string& sTemp, std::string& sWhy);
    bool OpenData(const Entry& e, DataSource& src, std::string& sWhy);
    bool Progress(const std::string& sName, uint64_t lDone, uint64_t lTotal);
    void Problem(const std::string& sName, const std::string& sWhy);

    const CBackupJob& m_job;
    const BackupInfo& m_backup;
    const Options& m_options;
    Report& m_report;
    zip_t* m_pZip = nullptr;
    int m_iRoot = -1;
    bool m_bStrict = true;                // below a chosen folder: no link is ever followed
    std::map<std::string, int> m_folders; // folders opened below the root, by relative path
    std::set<std::string> m_links;        // links this restore created (relative paths)
    std::set<std::string> m_created;      // folders this restore made (only theirs get times)
    struct FolderTimes {
        std::string Path;
        uint32_t Mode;
        int64_t MTimeNs;
    };
    std::vector<FolderTimes> m_folderTimes; // set once their contents are in place
    std::vector<char> m_buffer;
    unsigned m_uTemp = 0;
    std::string m_sTempPrefix = ".stowline-restore-" + std::to_string(::getpid()) + "-";
    mode_t m_uUmask = libFiles::ProcessUmask();
    bool m_bStop = false;
};

Restorer::~Restorer() {
    for (auto& [s, fd] : m_folders)
        ::close(fd);
    if (m_iRoot >= 0) ::close(m_iRoot);
    if (m_pZip) zip_discard(m_pZip);
}

bool Restorer::OpenRoot() {
    std::string sRoot = "/";
    if (!m_options.ToFolder.empty()) {
        sRoot = libFiles::AddTrailingSlash(m_options.ToFolder);
        // The chosen folder itself may be missing: made with its parents.
        for (size_t i = 1; i < sRoot.size(); ++i)
            if (sRoot[i] == '/') ::mkdir(sRoot.substr(0, i).c_str(), 0755);
    }
    m_bStrict = !m_options.ToFolder.empty();
    m_iRoot = ::open(sRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_iRoot < 0) {
        m_report.Error = "The folder '" + sRoot + "' cannot be opened: " + std::strerror(errno);
        return false;
    }
    return true;
}

// The folder of the first n parts below the root, made when missing; -1 with the reason when a
// file or a link stands in the way.
int Restorer::Folder(const std::vector<std::string>& parts, size_t n, std::string& sWhy) {
    if (n == 0) return m_iRoot;
    const std::string sRel = JoinParts(parts, n);
    if (auto it = m_folders.find(sRel); it != m_folders.end()) return it->second;
    const int iParent = Folder(parts, n - 1, sWhy);
    if (iParent < 0) return -1;
    if (m_links.count(sRel) != 0) {
        sWhy = "'" + sRel + "' is a link this backup holds; nothing is written through it";
        return -1;
    }
    const int iFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (m_bStrict ? O_NOFOLLOW : 0);
    int fd = ::openat(iParent, parts[n - 1].c_str(), iFlags);
    if (fd < 0 && errno == ENOENT) {
        if (::mkdirat(iParent, parts[n - 1].c_str(), 0755) != 0 && errno != EEXIST) {
            sWhy = "folder '" + sRel + "' cannot be made: " + std::strerror(errno);
            return -1;
        } else
            m_created.insert(sRel);
        fd = ::openat(iParent, parts[n - 1].c_str(), iFlags);
    }
    if (fd < 0) {
        sWhy = errno == ELOOP || errno == ENOTDIR ? "'" + sRel + "' is no folder here (a file or a link)"
                                                  : "folder '" + sRel + "': " + std::strerror(errno);
        return -1;
    }
    if (m_folders.size() >= 256) { // bounded: a deep or wide tree never runs out of descriptors
        for (auto& [s, f] : m_folders)
            ::close(f);
        m_folders.clear();
        // The parent just returned may have been closed with the rest: open this one again.
        ::close(fd);
        return Folder(parts, n, sWhy);
    }
    m_folders.emplace(sRel, fd);
    return fd;
}

bool Restorer::Progress(const std::string& sName, uint64_t lDone, uint64_t lTotal) {
    if (m_bStop) return false;
    if (m_options.Progress && !m_options.Progress(sName, lDone, lTotal)) m_bStop = true;
    return !m_bStop;
}

void Restorer::Problem(const std::string& sName, const std::string& sWhy) {
    ++m_report.NotRestored;
    m_report.Problems.push_back(sName + ": " + sWhy);
    libLog::LogEvent("  Not restored '" + sName + "': " + sWhy);
}

bool Restorer::OpenData(const Entry& e, DataSource& src, std::string& sWhy) {
    if (m_pZip) {
        src.Zip = zip_fopen_index(m_pZip, e.Index, 0);
        if (src.Zip == nullptr) {
            const int iErr = zip_error_code_zip(zip_get_error(m_pZip));
            if (iErr == ZIP_ER_WRONGPASSWD || iErr == ZIP_ER_NOPASSWD) {
                m_report.Result = Status::WrongPassword;
                m_report.Error = iErr == ZIP_ER_NOPASSWD ? "'" + m_backup.Path + "' needs a password."
                                                         : "The password is wrong for '" + m_backup.Path + "'.";
                m_bStop = true;
            }
            sWhy = zip_strerror(m_pZip);
            zip_error_clear(m_pZip);
            return false;
        }
        return true;
    }
    src.Fd = ::open((libFiles::AddTrailingSlash(m_backup.Path) + e.Name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (src.Fd < 0) sWhy = std::strerror(errno);
    return src.Fd >= 0;
}

// The entry's data into a new file sTemp in the folder iParent, with its mode and time.
bool Restorer::WriteData(const Entry& e, int iParent, const std::string& sTemp, std::string& sWhy) {
    DataSource src;
    if (!OpenData(e, src, sWhy)) return false;
    // Made with its final permission bits where the umask leaves them, saving a call per file.
    const auto uMode = static_cast<mode_t>(e.Mode & 0777);
    const bool bModeAtCreate = (uMode & ~m_uUmask) == uMode && (e.Mode & 07000) == 0;
    const int fd = ::openat(iParent, sTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            bModeAtCreate ? uMode : 0600);
    if (fd < 0) {
        sWhy = std::strerror(errno);
        return false;
    }
    uint64_t lDone = 0;
    bool bOk = true;
    if (src.Fd >= 0) {
        // Within one file system the kernel copies without the bytes passing through here.
        for (;;) {
            const ssize_t r = ::copy_file_range(src.Fd, nullptr, fd, nullptr, 8 * BufferSize, 0);
            if (r <= 0) {
                if (r < 0 && lDone == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS)) break;
                if (r < 0) {
                    sWhy = std::strerror(errno);
                    bOk = false;
                }
                break;
            }
            lDone += static_cast<uint64_t>(r);
            if (!Progress(e.Name, lDone, e.Size)) {
                bOk = false;
                break;
            }
        }
    }
    if (bOk && (src.Fd < 0 || lDone == 0)) {
        if (m_buffer.empty()) m_buffer.resize(BufferSize);
        for (;;) {
            const ssize_t r = src.Read(m_buffer.data(), m_buffer.size(), sWhy);
            if (r == 0) break;
            if (r < 0) {
                bOk = false;
                break;
            }
            for (ssize_t w = 0; w < r;) {
                const ssize_t n = ::write(fd, m_buffer.data() + w, static_cast<size_t>(r - w));
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) {
                    sWhy = std::strerror(errno);
                    bOk = false;
                    break;
                }
                w += n;
            }
            lDone += static_cast<uint64_t>(r);
            if (!bOk || !Progress(e.Name, lDone, e.Size)) {
                bOk = false;
                break;
            }
        }
    }
    if (bOk) {
        // setuid and setgid bits are not given back: a backup is no way to obtain them.
        if (!bModeAtCreate) ::fchmod(fd, static_cast<mode_t>(e.Mode & 01777));
        const timespec times[2] = {TimeOf(e.MTimeNs), TimeOf(e.MTimeNs)};
        ::futimens(fd, times);
    }
    if (::close(fd) != 0 && bOk) {
        sWhy = std::strerror(errno);
        bOk = false;
    }
    if (!bOk) ::unlinkat(iParent, sTemp.c_str(), 0);
    if (!bOk && m_pZip && m_report.Result == Status::Ok) {
        // Traditional encryption accepts a wrong password now and then; the data then fails.
        zip_stat_t st;
        if (zip_stat_index(m_pZip, e.Index, 0, &st) == 0 && (st.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
            st.encryption_method != ZIP_EM_NONE && !m_bStop) {
            m_report.Result = Status::WrongPassword;
            m_report.Error = "The password is wrong for '" + m_backup.Path + "'.";
            m_bStop = true;
        }
    }
    return bOk;
}

void Restorer::One(const Entry& e) {
    const std::string sName =
        m_pZip || !m_options.ToFolder.empty() || e.OriginalPath.empty() ? e.Name : e.OriginalPath.substr(1);
    std::vector<std::string> parts;
    std::string sWhy;
    if (!SplitSafe(sName, parts, sWhy)) return Problem(e.Name, sWhy);
    if (e.IsDir) {
        if (Folder(parts, parts.size(), sWhy) < 0) return Problem(e.Name, sWhy);
        m_folderTimes.push_back({JoinParts(parts, parts.size()), e.Mode, e.MTimeNs});
        return;
    }
    const int iParent = Folder(parts, parts.size() - 1, sWhy);
    if (iParent < 0) return Problem(e.Name, sWhy);
    std::string sLeaf = parts.back();
    const std::string sShown = (m_options.ToFolder.empty() ? "/" : libFiles::AddTrailingSlash(m_options.ToFolder)) +
                               JoinParts(parts, parts.size() - 1) + (parts.size() > 1 ? "/" : "");
    struct stat st {};
    bool bReplace = false;
    // In a folder this restore made, nothing stood before it (and a name that came twice in the
    // backup is still never replaced: the rename below refuses it).
    const bool bNewFolder = parts.size() > 1 && m_created.count(JoinParts(parts, parts.size() - 1)) != 0;
    if (!bNewFolder && ::fstatat(iParent, sLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        const int64_t lExisting = libFiles::TimeNs(st.st_mtim);
        switch (m_options.OnConflict) {
        case Conflict::Skip:
            ++m_report.Skipped;
            return;
        case Conflict::OverwriteOlder:
            if (lExisting >= e.MTimeNs) {
                ++m_report.Skipped;
                return;
            }
            bReplace = true;
            break;
        case Conflict::Overwrite:
            bReplace = true;
            break;
        case Conflict::KeepBoth:
            for (int k = 1;; ++k) {
                sLeaf = RestoredName(parts.back(), k);
                if (::fstatat(iParent, sLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) break;
            }
            break;
        }
        if (bReplace && S_ISDIR(st.st_mode)) return Problem(e.Name, "a folder stands under its name");
    }
    const std::string sTemp = m_sTempPrefix + std::to_string(++m_uTemp);
    if (e.IsLink) {
        std::string sTarget;
        if (m_pZip == nullptr) { // the copy tree holds the link itself
            char buf[4096];
            const std::string sLink = libFiles::AddTrailingSlash(m_backup.Path) + e.Name;
            const ssize_t n = ::readlink(sLink.c_str(), buf, sizeof buf);
            if (n < 0) return Problem(e.Name, std::strerror(errno));
            sTarget.assign(buf, static_cast<size_t>(n));
        } else {
            DataSource src;
            if (!OpenData(e, src, sWhy)) return Problem(e.Name, sWhy);
            char buf[4096];
            for (ssize_t r; (r = src.Read(buf, sizeof buf, sWhy)) != 0;) {
                if (r < 0) return Problem(e.Name, sWhy);
                sTarget.append(buf, static_cast<size_t>(r));
            }
        }
        if (::symlinkat(sTarget.c_str(), iParent, sTemp.c_str()) != 0) return Problem(e.Name, std::strerror(errno));
        const timespec times[2] = {TimeOf(e.MTimeNs), TimeOf(e.MTimeNs)};
        ::utimensat(iParent, sTemp.c_str(), times, AT_SYMLINK_NOFOLLOW);
        m_links.insert(JoinParts(parts, parts.size() - 1) + (parts.size() > 1 ? "/" : "") + sLeaf);
    } else if (!WriteData(e, iParent, sTemp, sWhy)) {
        if (m_bStop && m_report.Result != Status::WrongPassword) return; // aborted: nothing partial stays
        if (m_report.Result == Status::WrongPassword) return;
        return Problem(e.Name, sWhy);
    }
    const unsigned uFlags = bReplace ? 0 : RENAME_NOREPLACE;
    if (::renameat2(iParent, sTemp.c_str(), iParent, sLeaf.c_str(), uFlags) != 0) {
        const int iErr = errno;
        ::unlinkat(iParent, sTemp.c_str(), 0);
        if (iErr == EEXIST) {
            ++m_report.Skipped; // appeared meanwhile: never replaced unasked
            return;
        }
        return Problem(e.Name, std::strerror(iErr));
    }
    ++m_report.Restored;
    m_report.Bytes += e.Size;
    libLog::LogEventLevel(0, "  Restored '" + sShown + sLeaf + "'");
}

void Restorer::Run(const std::vector<Entry>& selection) {
    std::string sError;
    std::vector<Entry> all;
    if (m_backup.IsArchive) {
        m_pZip = detail::OpenArchive(m_backup.Path, 0, sError);
        if (m_pZip == nullptr || !detail::ReadArchiveEntries(m_pZip, all, sError)) {
            m_report.Result = Status::Unreadable;
            m_report.Error = sError;
            return;
        }
        if (!m_options.Password.empty()) zip_set_default_password(m_pZip, m_options.Password.c_str());
    } else if (m_options.Contents != nullptr) {
        all = *m_options.Contents;
    } else if (ReadContents(m_job, m_backup, all, sError) != Status::Ok) {
        m_report.Result = Status::Unreadable;
        m_report.Error = sError;
        return;
    }
    if (!OpenRoot()) {
        m_report.Result = Status::Unreadable;
        return;
    }
    // A selected folder brings everything below it; each entry is restored once.
    std::set<std::string> chosen, folders;
    for (const Entry& e : selection)
        (e.IsDir ? folders : chosen).insert(e.Name);
    std::vector<const Entry*> todo;
    uint64_t lTotal = 0;
    for (const Entry& e : all) {
        bool bTake = chosen.count(e.Name) != 0 || folders.count(e.Name) != 0;
        for (auto it = folders.begin(); !bTake && it != folders.end(); ++it)
            bTake = e.Name.compare(0, it->size(), *it) == 0;
        if (!bTake) continue;
        todo.push_back(&e);
        lTotal += e.Size;
    }
    uint64_t lDone = 0;
    for (const Entry* e : todo) {
        if (!Progress(e->Name, lDone, lTotal)) break;
        One(*e);
        if (m_bStop) break;
        lDone += e->Size;
    }
    // Folder modes and times last (adding files changed the times); deepest first.
    std::sort(m_folderTimes.begin(), m_folderTimes.end(),
              [](const FolderTimes& a, const FolderTimes& b) { return a.Path.size() > b.Path.size(); });
    for (const FolderTimes& f : m_folderTimes) {
        const int iFlags = m_bStrict ? AT_SYMLINK_NOFOLLOW : 0;
        const timespec times[2] = {TimeOf(f.MTimeNs), TimeOf(f.MTimeNs)};
        // A folder that was there before keeps its mode and time: restoring one file into /tmp
        // must not change /tmp.
        if (m_links.count(f.Path) != 0 || m_created.count(f.Path) == 0) continue;
        ::fchmodat(m_iRoot, f.Path.c_str(), static_cast<mode_t>((f.Mode & 01777) | 0700), 0);
        ::utimensat(m_iRoot, f.Path.c_str(), times, iFlags);
    }
    if (m_report.Result == Status::Ok && m_bStop) m_report.Result = Status::Aborted;
    if (m_report.Result == Status::Ok && m_report.NotRestored > 0) m_report.Result = Status::Incomplete;
}

} // namespace

Report Restore(const CBackupJob& job, const BackupInfo& backup, const std::vector<Entry>& selection,
               const Options& options) {
    Report report;
    // One line per restored file at the Detailed level: the log stays open for the restore.
    libLog::RunLog runLog;
    libLog::LogEvent("-- Restore " + job.JobName() + " --");
    libLog::LogEvent("  Backup used: '" + backup.Path + "'");
    libLog::LogEvent(options.ToFolder.empty() ? std::string("  Restoring to the original place")
                                              : "  Restoring into '" + options.ToFolder + "'");
    {
        Restorer restorer(job, backup, options, report);
        restorer.Run(selection);
    }
    libLog::LogEvent("  Restored " + std::to_string(report.Restored) + " files totaling " +
                     std::to_string(report.Bytes) + " bytes, skipped " + std::to_string(report.Skipped) +
                     ", not restored " + std::to_string(report.NotRestored));
    switch (report.Result) {
    case Status::Ok:
        libLog::LogEvent("  Restore completed");
        break;
    case Status::Incomplete:
        libLog::LogEvent("  Restore incomplete: something was not restored");
        break;
    case Status::Aborted:
        libLog::LogEvent("  Restore terminated by user");
        break;
    case Status::Unreadable:
    case Status::WrongPassword:
        libLog::LogEvent("  Restore failed: " + report.Error);
        break;
    }
    return report;
}

} // namespace libRestore
