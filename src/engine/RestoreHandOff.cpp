// The restore's side of its workers: which entries they write, handing them over with what they
// need (their own descriptors, the conflict choice made), and taking them back in entry order.
// Also the archive's contents and the selection, held without copies of the entries.

#include "engine/ArchiveSource.h"
#include "engine/RestoreInternal.h"
#include "engine/Restorer.h"

#include "support/libFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace libRestore::detail {

// Regular files whose data the workers can read: any of a copy tree; of an archive those the
// archive's own bytes give (see ArchiveData). Everything else is read through libzip here.
bool Restorer::ForWorkers(const Entry& e) const {
    if (e.IsDir || e.IsLink) return false;
    return !m_backup.IsArchive || ArchiveData(e);
}

// Stored or deflated without encryption, where a sound local header says: its bytes read
// straight from the archive and inflated, checked against its size and CRC.
bool Restorer::ArchiveData(const Entry& e) const {
    return m_backup.IsArchive && m_iArchive >= 0 && !e.Encrypted && e.AesStrength == 0 && e.CrcKnown &&
           e.DataStart != 0 && (e.Method == 0 || e.Method == 8);
}

void Restorer::HandOver(const Entry& e, int iParent, const std::string& sShown, const std::string& sLeaf,
                        const std::string& sTemp, bool bReplace) {
    auto job = std::make_unique<FileJob>();
    job->Own = e; // e may be made whole only for its turn
    job->E = &job->Own;
    job->Shown = sShown;
    job->Leaf = sLeaf;
    job->Temp = sTemp;
    job->Replace = bReplace;
    std::string sWhy;
    if (!m_backup.IsArchive) {
        std::string sSourceLeaf;
        const int iFolder = SourceFolder(e, sSourceLeaf, sWhy);
        if (iFolder < 0) return Problem(e.Name, sWhy);
        job->SourceFolder = ::fcntl(iFolder, F_DUPFD_CLOEXEC, 0);
        if (job->SourceFolder < 0) return Problem(e.Name, std::strerror(errno));
        job->SourceLeaf = std::move(sSourceLeaf);
        StartReading(*job, e.Size);
    }
    // The folder chain moves on; the job keeps the folder it writes into.
    job->Parent = ::fcntl(iParent, F_DUPFD_CLOEXEC, 0);
    if (job->Parent < 0) return Problem(e.Name, std::strerror(errno));
    while (!m_bStop && !m_workers->Room(e))
        TakeBack(true);
    if (m_bStop) return;
    m_workers->Add(std::move(job));
    TakeBack(false);
}

// Finished jobs at the head of the window: all of them, or with bWait the head once finished.
void Restorer::TakeBack(bool bWait) {
    while (std::unique_ptr<FileJob> job = m_workers->Take(bWait)) {
        Finish(*job);
        if (bWait) return;
    }
}

void Restorer::Finish(FileJob& job) {
    if (job.Stopped || m_bStop) {
        // Aborted: what was written goes, and nothing after it is restored.
        if (job.Ok) ::unlinkat(job.Parent, job.Temp.c_str(), 0);
        m_bStop = true;
        return;
    }
    if (!job.Ok) return LogProblem(job.E->Name, job.Why);
    // The progress inside the file, told before it takes its name, as when written here.
    if (!job.Inline && job.Written > 0 && !Progress(job.E->Name, job.Written, job.E->Size)) {
        ::unlinkat(job.Parent, job.Temp.c_str(), 0);
        return;
    }
    Renamed(job.Shown, job.Leaf, job.Parent, job.Temp, job.Replace, job.E->Name, job.Written);
}

void Restorer::Drain() {
    while (m_workers && !m_workers->Empty())
        TakeBack(true);
}

// The caller's listing serves while the archive is still the one it listed (same time and
// length); otherwise the archive is listed again. Its descriptor is what the workers read, and
// what libzip, when an entry needs it, must read too.
bool Restorer::ReadArchive(bool bGiven) {
    std::string sError;
    const int fd = OpenForListing(m_backup.Path, sError);
    if (fd >= 0) {
        m_iArchive = fd;
        m_bOwnArchive = true;
    }
    struct stat st {};
    if (bGiven && m_backup.MTimeNs != 0 && fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        libFiles::TimeNs(st.st_mtim) == m_backup.MTimeNs &&
        (m_backup.Size == 0 || static_cast<uint64_t>(st.st_size) == m_backup.Size))
        return true;
    m_all.emplace(m_own);
    m_bGiven = false;
    if (fd < 0 || ListArchive(fd, m_backup.Path, m_own, sError) != Status::Ok) {
        m_report.Result = Status::Unreadable;
        m_report.Error = sError;
        return false;
    }
    return true;
}

// libzip's reader of the archive, opened when an entry first needs it; it must be the very file
// the workers read, with as many entries as were listed.
zip_t* Restorer::Zip(std::string& sWhy) {
    if (m_pZip != nullptr) return m_pZip;
    m_pZip = OpenArchive(m_backup.Path, 0, sWhy);
    if (m_pZip == nullptr) return nullptr;
    struct stat a {
    }, b{};
    if (::fstat(ArchiveSource::Fd(m_pZip), &a) != 0 || ::fstat(m_iArchive, &b) != 0 || a.st_dev != b.st_dev ||
        a.st_ino != b.st_ino || a.st_size != b.st_size || libFiles::TimeNs(a.st_mtim) != libFiles::TimeNs(b.st_mtim)) {
        sWhy = "the archive changed during the restore";
    } else if (zip_get_num_entries(m_pZip, 0) != static_cast<zip_int64_t>(m_all->Count())) {
        sWhy = "damaged: the archive's central directory reads two ways";
    } else {
        if (!m_options.Password.empty()) zip_set_default_password(m_pZip, m_options.Password.c_str());
        return m_pZip;
    }
    zip_discard(m_pZip);
    m_pZip = nullptr;
    return nullptr;
}

// Whether libzip's entry at e.Index is the one listed: the same name's bytes, sizes and CRC.
bool Restorer::SameInZip(const Entry& e) const {
    zip_stat_t st;
    return zip_stat_index(m_pZip, e.Index, ZIP_FL_ENC_RAW, &st) == 0 && (st.valid & ZIP_STAT_NAME) &&
           st.name != nullptr && e.Name == st.name && st.size == e.Size && st.comp_size == e.StoredSize &&
           st.crc == e.Crc;
}

} // namespace libRestore::detail

namespace libRestore {

void SelectEntries(const std::vector<Entry>& all, const std::vector<Entry>& selection, std::vector<const Entry*>& todo,
                   uint64_t& lTotal) {
    todo.reserve(selection.size());
    detail::SelectPositions(
        all.size(), [&](size_t i) { return std::string_view(all[i].Name); }, &selection == &all ? nullptr : &selection,
        [&](size_t i) {
            todo.push_back(&all[i]);
            lTotal += all[i].Size;
        });
}

} // namespace libRestore
