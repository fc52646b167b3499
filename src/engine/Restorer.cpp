// libRestore::Restore: writes a selection of a backup below the folder restored into, entering
// every folder by descriptor so that nothing the backup holds can lead the writes elsewhere.
// Where entries may go, the room check and the folders' modes and times are in RestorerPlaces.cpp.

#include "engine/Restorer.h"
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
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zip.h>

namespace libRestore {

namespace detail {

namespace {

constexpr size_t BufferSize = 1 << 20;
constexpr uint64_t MaxLinkTarget = 4096; // longer link targets are refused unread

} // namespace

DataSource::~DataSource() {
    if (Zip) zip_fclose(Zip);
}

ssize_t DataSource::Read(char* p, size_t n, std::string& sWhy) {
    const zip_int64_t r = zip_fread(Zip, p, n);
    if (r < 0 && Aes && detail::ZeroCrcMisread(*Aes, Done, zip_error_code_zip(zip_file_get_error(Zip)))) return 0;
    if (r < 0) sWhy = zip_error_strerror(zip_file_get_error(Zip));
    if (r > 0) Done += static_cast<uint64_t>(r);
    return static_cast<ssize_t>(r);
}

Restorer::~Restorer() {
    m_workers.reset(); // its workers end before the archive goes
    if (m_pZip) zip_discard(m_pZip);
    if (m_bOwnArchive) ::close(m_iArchive);
}

bool Restorer::Progress(const std::string& sName, uint64_t lDone, uint64_t lTotal) {
    if (m_bStop) return false;
    if (m_options.Progress && !m_options.Progress(sName, lDone, lTotal)) m_bStop = true;
    return !m_bStop;
}

// The entries handed over before come first in the log.
void Restorer::Problem(const std::string& sName, const std::string& sWhy) {
    Drain();
    LogProblem(sName, sWhy);
}

void Restorer::LogProblem(const std::string& sName, const std::string& sWhy) {
    ++m_report.NotRestored;
    m_report.Problems.push_back(sName + ": " + sWhy);
    libLog::LogEvent("  Not restored '" + sName + "': " + sWhy);
}

// The folder of the first n parts below the place, made when missing; the folders it made are
// remembered (only theirs get modes and times).
int Restorer::EnterDest(const std::vector<std::string>& rel, size_t n, const Place& place, std::string& sWhy) {
    const int fd = m_dest.Enter(rel, n, sWhy);
    if (fd < 0) {
        const size_t k = m_dest.FailedAt();
        if (k > 0 && m_links.count(place.Shown + JoinParts(rel, k)) != 0)
            sWhy = "'" + JoinParts(rel, k) + "' is a link this backup holds; nothing is written through it";
        return -1;
    }
    if (const size_t k = m_dest.FirstMade(); k > 0) {
        for (size_t i = k; i <= n; ++i) {
            Identity id{};
            m_dest.Identity(i, id.Dev, id.Ino);
            m_created[place.Shown + JoinParts(rel, i)] = id;
        }
    }
    return fd;
}

// The folder of the copy tree that holds the entry, entered by descriptor from the tree's root.
int Restorer::SourceFolder(const Entry& e, std::string& sLeaf, std::string& sWhy) {
    std::vector<std::string> parts;
    if (!SplitSafe(e.Name, parts, sWhy)) return -1;
    sLeaf = parts.back();
    return m_source.Enter(parts, parts.size() - 1, sWhy);
}

// An archive entry opened through libzip (encrypted entries, and any the workers do not read).
bool Restorer::OpenData(const Entry& e, DataSource& src, uint64_t& lSize, std::string& sWhy) {
    lSize = e.Size;
    if (Zip(sWhy) == nullptr) return false;
    if (!SameInZip(e)) {
        sWhy = "damaged: the archive's central directory reads two ways";
        return false;
    }
    if (e.AesStrength != 0) {
        // The code is checked before anything is written: a wrong password or changed data
        // never reaches a file.
        const Status aes = detail::CheckAes(m_pZip, e, m_options.Password, sWhy);
        if (aes == Status::WrongPassword) {
            m_report.Result = Status::WrongPassword;
            m_report.Error = m_options.Password.empty() ? "'" + m_backup.Path + "' needs a password."
                                                        : "The password is wrong for '" + m_backup.Path + "'.";
            m_bStop = true;
        }
        if (aes != Status::Ok) return false;
        src.Aes = &e;
    }
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

// The entry's data into a new file sTemp in the folder iParent, with its mode and time. Data
// longer or shorter than the size the entry declares is damage: nothing stays of it.
bool Restorer::WriteData(const Entry& e, int iParent, const std::string& sTemp, uint64_t& lWritten, std::string& sWhy) {
    DataSource src;
    uint64_t lSize = 0;
    if (!OpenData(e, src, lSize, sWhy)) return false;
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
    bool bOk = true, bReadError = false;
    // At most one byte past the declared size is ever asked for: enough to see that it grows.
    const auto ask = [&](size_t uChunk) { return static_cast<size_t>(std::min<uint64_t>(uChunk, lSize - lDone + 1)); };
    if (m_buffer.empty()) m_buffer.resize(BufferSize);
    for (;;) {
        const ssize_t r = src.Read(m_buffer.data(), ask(m_buffer.size()), sWhy);
        if (r == 0) break;
        if (r < 0) {
            if (m_backup.IsArchive) sWhy = "damaged: " + sWhy; // the archive itself says so
            bOk = false;
            bReadError = true;
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
        if (bOk && lDone > lSize) {
            sWhy = Longer(lSize);
            bOk = false;
        }
        if (!bOk || !Progress(e.Name, lDone, lSize)) {
            bOk = false;
            break;
        }
    }
    if (bOk && lDone < lSize) {
        sWhy = Shorter(lDone, lSize);
        bOk = false;
    }
    if (bOk) {
        // setuid and setgid bits are not given back: a backup is no way to obtain them.
        if (!bModeAtCreate) ::fchmod(fd, static_cast<mode_t>(e.Mode & 01777 & ~m_uUmask));
        const timespec times[2] = {TimeOfNs(e.MTimeNs), TimeOfNs(e.MTimeNs)};
        ::futimens(fd, times);
    }
    if (::close(fd) != 0 && bOk) {
        sWhy = std::strerror(errno);
        bOk = false;
    }
    if (!bOk) ::unlinkat(iParent, sTemp.c_str(), 0);
    if (!bOk && bReadError && m_report.Result == Status::Ok) {
        // Traditional encryption accepts a wrong password now and then; the data then fails.
        zip_stat_t st;
        if (zip_stat_index(m_pZip, e.Index, 0, &st) == 0 && (st.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
            st.encryption_method != ZIP_EM_NONE && !m_bStop) {
            m_report.Result = Status::WrongPassword;
            m_report.Error = "The password is wrong for '" + m_backup.Path + "'.";
            m_bStop = true;
        }
    }
    lWritten = lDone;
    return bOk;
}

// A link's target: never more than MaxLinkTarget bytes are read, whatever the entry declares.
bool Restorer::LinkTarget(const Entry& e, std::string& sTarget, std::string& sWhy) {
    const std::string sTooLong = "link target longer than " + std::to_string(MaxLinkTarget) + " bytes refused";
    char buf[MaxLinkTarget + 1];
    if (!m_backup.IsArchive) { // the copy tree holds the link itself
        std::string sLeaf;
        const int iFolder = SourceFolder(e, sLeaf, sWhy);
        if (iFolder < 0) return false;
        const ssize_t n = ::readlinkat(iFolder, sLeaf.c_str(), buf, sizeof buf);
        if (n < 0) {
            sWhy = std::strerror(errno);
            return false;
        }
        if (static_cast<uint64_t>(n) > MaxLinkTarget) {
            sWhy = sTooLong;
            return false;
        }
        sTarget.assign(buf, static_cast<size_t>(n));
        return true;
    }
    if (e.Size > MaxLinkTarget) {
        sWhy = sTooLong;
        return false;
    }
    if (ArchiveData(e)) return ReadEntryText(m_iArchive, e, sTarget, sWhy);
    DataSource src;
    uint64_t lSize = 0;
    if (!OpenData(e, src, lSize, sWhy)) return false;
    for (ssize_t r; sTarget.size() <= lSize && (r = src.Read(buf, sizeof buf, sWhy)) != 0;) {
        if (r < 0) return false;
        sTarget.append(buf, static_cast<size_t>(r));
    }
    if (sTarget.size() != lSize) {
        sWhy = sTarget.size() > lSize ? Longer(lSize) : Shorter(sTarget.size(), lSize);
        return false;
    }
    return true;
}

// What the conflict choice says about an existing entry under the leaf's name: false when the
// entry is not restored (counted or named already); sLeaf may become a "(restored)" name.
bool Restorer::Conflicts(const Entry& e, int iParent, std::string& sLeaf, bool& bReplace) {
    struct stat st {};
    if (::fstatat(iParent, sLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
    const int64_t lExisting = libFiles::TimeNs(st.st_mtim);
    switch (m_options.OnConflict) {
    case Conflict::Skip:
        ++m_report.Skipped;
        return false;
    case Conflict::OverwriteOlder:
        if (lExisting >= e.MTimeNs) {
            ++m_report.Skipped;
            return false;
        }
        bReplace = true;
        break;
    case Conflict::Overwrite:
        bReplace = true;
        break;
    case Conflict::KeepBoth: {
        const std::string sOriginal = sLeaf;
        for (int k = 1;; ++k) {
            sLeaf = RestoredName(sOriginal, k);
            if (::fstatat(iParent, sLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) break;
        }
        break;
    }
    }
    if (bReplace && S_ISDIR(st.st_mode)) {
        Problem(e.Name, "a folder stands under its name");
        return false;
    }
    return true;
}

void Restorer::One(const Entry& e) {
    if (!e.Damage.empty()) return Problem(e.Name, "damaged: " + e.Damage);
    size_t uPlace = 0;
    std::vector<std::string> rel;
    std::string sWhy;
    if (!Locate(e, uPlace, rel, sWhy) || !UsePlace(uPlace, sWhy)) return Problem(e.Name, sWhy);
    const Place& place = m_places[uPlace];
    if (e.IsDir) {
        if (EnterDest(rel, rel.size(), place, sWhy) < 0) return Problem(e.Name, sWhy);
        m_folderTimes.push_back({uPlace, JoinParts(rel, rel.size()), e.Mode, e.MTimeNs});
        return;
    }
    if (rel.empty()) return Problem(e.Name, "a folder of the job stands under its name");
    const size_t n = rel.size();
    const int iParent = EnterDest(rel, n - 1, place, sWhy);
    if (iParent < 0) return Problem(e.Name, sWhy);
    const std::string sShown = place.Shown + JoinParts(rel, n - 1) + (n > 1 ? "/" : "");
    std::string sLeaf = rel.back();
    bool bReplace = false;
    // In a folder this restore made, nothing stood before it (and a name that came twice in the
    // backup is still never replaced: the rename below refuses it).
    if (!m_dest.Made(n - 1)) {
        // A file of the same name written meanwhile counts for the choice (for "keep both", any
        // name of the folder: the name it takes depends on them); a sweep's lines come in order.
        const bool bAnyName = m_options.OnConflict == Conflict::KeepBoth;
        if (m_workers->Holds(sShown, bAnyName ? std::string() : sLeaf)) Drain();
        if (m_swept.insert(sShown).second) {
            Drain();
            Sweep(iParent, sShown);
        }
        if (!Conflicts(e, iParent, sLeaf, bReplace)) return;
    }
    const std::string sTemp = m_sTempPrefix + std::to_string(++m_uTemp);
    if (ForWorkers(e)) return HandOver(e, iParent, sShown, sLeaf, sTemp, bReplace);
    // Written here, after the entries handed over before it.
    Drain();
    uint64_t lWritten = 0;
    if (e.IsLink) {
        std::string sTarget;
        if (!LinkTarget(e, sTarget, sWhy)) return Problem(e.Name, sWhy);
        if (::symlinkat(sTarget.c_str(), iParent, sTemp.c_str()) != 0) return Problem(e.Name, std::strerror(errno));
        const timespec times[2] = {TimeOfNs(e.MTimeNs), TimeOfNs(e.MTimeNs)};
        ::utimensat(iParent, sTemp.c_str(), times, AT_SYMLINK_NOFOLLOW);
        m_links.insert(sShown + sLeaf);
        lWritten = sTarget.size();
    } else if (!WriteData(e, iParent, sTemp, lWritten, sWhy)) {
        if (m_bStop && m_report.Result != Status::WrongPassword) return; // aborted: nothing partial stays
        if (m_report.Result == Status::WrongPassword) return;
        return Problem(e.Name, sWhy);
    }
    Renamed(sShown, sLeaf, iParent, sTemp, bReplace, e.Name, lWritten);
}

// The entry written under sTemp takes its name (never replacing one unasked), in entry order.
void Restorer::Renamed(const std::string& sShown, const std::string& sLeaf, int iParent, const std::string& sTemp,
                       bool bReplace, const std::string& sName, uint64_t lWritten) {
    const unsigned uFlags = bReplace ? 0 : RENAME_NOREPLACE;
    if (::renameat2(iParent, sTemp.c_str(), iParent, sLeaf.c_str(), uFlags) != 0) {
        const int iErr = errno;
        ::unlinkat(iParent, sTemp.c_str(), 0);
        if (iErr == EEXIST) {
            ++m_report.Skipped; // appeared meanwhile: never replaced unasked
            return;
        }
        return LogProblem(sName, std::strerror(iErr));
    }
    ++m_report.Restored;
    m_report.Bytes += lWritten;
    libLog::LogEventLevel(0, "  Restored '" + sShown + sLeaf + "'");
}

// The backup's whole contents (the caller's when given), and the copy tree's root opened for
// reading.
bool Restorer::ReadAll(const Listing* listing) {
    if (listing != nullptr)
        m_all.emplace(*listing);
    else if (m_options.Contents != nullptr)
        m_all.emplace(*m_options.Contents);
    m_bGiven = m_all.has_value();
    if (m_backup.IsArchive) return ReadArchive(m_bGiven);
    std::string sError;
    if (!m_bGiven) {
        m_all.emplace(m_own);
        const Status s = ReadContents(m_job, m_backup, m_own, sError);
        if (s == Status::Incomplete) {
            // What could be listed is restored; the restore says that the rest was not.
            ++m_report.NotRestored;
            m_report.Problems.push_back(sError);
            libLog::LogEvent("  " + sError);
        } else if (s != Status::Ok) {
            m_report.Result = Status::Unreadable;
            m_report.Error = sError;
            return false;
        }
    }
    const int fd = OpenTreeRoot(m_backup.Path, !m_backup.Snapshot.empty());
    if (fd < 0) {
        m_report.Result = Status::Unreadable;
        m_report.Error = "The folder '" + m_backup.Path + "' cannot be opened: " + std::strerror(errno);
        return false;
    }
    m_source.Reset(fd);
    return true;
}

void Restorer::Run(const std::vector<Entry>* selection, const Listing* listing) {
    if (!ReadAll(listing)) return;
    // The caller's whole contents as the selection: everything, without a lookup.
    if (m_bGiven && listing == nullptr && selection == m_options.Contents) selection = nullptr;
    // An archive changed since the caller listed it all: what was listed, by name.
    std::vector<Entry> listed;
    if (listing != nullptr && !m_bGiven && selection == nullptr) {
        listed.resize(listing->Count());
        for (size_t i = 0; i < listed.size(); ++i)
            listing->Get(i, listed[i]);
        selection = &listed;
    }
    if (!m_options.ToFolder.empty()) {
        Place place;
        place.Path = libFiles::AddTrailingSlash(m_options.ToFolder);
        if (place.Path.size() > 1) place.Path.pop_back();
        place.Shown = libFiles::AddTrailingSlash(place.Path);
        m_places.push_back(place);
    } else {
        m_places = PlacesOf(m_job, *m_all);
    }
    std::vector<size_t> todo;
    uint64_t lTotal = 0;
    m_all->Select(selection, todo, lTotal);
    if (!Fits(todo)) return;
    // The chosen folder must open: without it nothing can be restored.
    std::string sWhy;
    if (!m_options.ToFolder.empty() && !UsePlace(0, sWhy)) {
        m_report.Result = Status::Unreadable;
        m_report.Error = sWhy;
        return;
    }
    m_workers = std::make_unique<RestoreWorkers>(
        m_backup.IsArchive ? m_iArchive : -1, m_uUmask,
        [this](const FileJob& job, uint64_t lDone) { return Progress(job.E->Name, lDone, job.E->Size); });
    uint64_t lDone = 0;
    Entry scratch;
    for (const size_t i : todo) {
        const Entry& e = m_all->At(i, scratch);
        if (!Progress(e.Name, lDone, lTotal)) break;
        One(e);
        if (m_bStop) break;
        lDone += e.Size;
    }
    if (m_bStop) m_workers->Stop();
    Drain();
    FinishFolders();
    if (m_report.Result == Status::Ok && m_bStop) m_report.Result = Status::Aborted;
    if (m_report.Result == Status::Ok && m_report.NotRestored > 0) m_report.Result = Status::Incomplete;
}

} // namespace detail

namespace {

Report RestoreFrom(const CBackupJob& job, const BackupInfo& backup, const Listing* listing,
                   const std::vector<Entry>* selection, const Options& options) {
    Report report;
    // One line per restored file at the Detailed level: the log stays open for the restore.
    libLog::RunLog runLog;
    libLog::LogEvent("-- Restore " + job.JobName() + " --");
    libLog::LogEvent("  Backup used: '" + backup.Path + "'");
    libLog::LogEvent(options.ToFolder.empty() ? std::string("  Restoring to the original place")
                                              : "  Restoring into '" + options.ToFolder + "'");
    {
        detail::Restorer restorer(job, backup, options, report);
        restorer.Run(selection, listing);
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
    case Status::NoRoom:
        libLog::LogEvent("  Restore failed: " + report.Error);
        break;
    }
    return report;
}

} // namespace

Report Restore(const CBackupJob& job, const BackupInfo& backup, const std::vector<Entry>& selection,
               const Options& options) {
    return RestoreFrom(job, backup, nullptr, &selection, options);
}

Report Restore(const CBackupJob& job, const BackupInfo& backup, const Listing& all, const std::vector<Entry>* selection,
               const Options& options) {
    return RestoreFrom(job, backup, &all, selection, options);
}

} // namespace libRestore
