// The entries of an archive read back on worker threads (see VerifyInternal.h): each worker
// reads the archive through a libzip handle of its own on the same open file, takes the
// entries in order a bounded distance ahead of the calling thread, and checks each whole (its
// headers' damage, an AES entry's code, every byte inflated and its length and CRC). The
// calling thread takes the outcomes in entry order, so the first problem named is the one a
// check of one entry after the other names; while it waits it checks entries too, through the
// handle it opened, so one worker fewer than the cores keeps them all busy, and one libzip
// directory fewer is held in memory.

#include "engine/VerifyInternal.h"

#include "engine/ArchiveSource.h"
#include "engine/RestoreInternal.h"
#include "engine/RunState.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <zlib.h>

namespace libVerify::detail {

namespace {

constexpr size_t BufferSize = 1 << 20;
// Entries checked ahead of the calling thread, which meanwhile selects the names the archive
// must hold: an outcome is a few bytes (a text only for a problem).
constexpr size_t EntriesAhead = 1 << 16;
// How often the calling thread looks at the abort request while it waits.
constexpr auto AbortPoll = std::chrono::milliseconds(100);

// A libzip handle of its own on the archive pZip reads: the same open file, whatever its name
// names meanwhile. nullptr when it cannot be had.
zip_t* OpenAgain(zip_t* pZip, int iFlags, const std::string& sPassword) {
    const int iFd = ArchiveSource::Fd(pZip);
    if (iFd < 0) return nullptr;
    int iErr = 0;
    zip_t* pOwn = ArchiveSource::Open("/proc/self/fd/" + std::to_string(iFd), iFlags, iErr);
    if (pOwn != nullptr && !sPassword.empty()) zip_set_default_password(pOwn, sPassword.c_str());
    return pOwn;
}

struct ZipCloser {
    zip_t* p;
    ~ZipCloser() {
        if (p != nullptr) zip_discard(p);
    }
};

} // namespace

std::string CheckEntry(zip_t* pZip, const libRestore::Entry& e, const std::string& sPassword, std::vector<char>& buffer,
                       const std::function<bool()>& stopped) {
    if (!e.Damage.empty()) return "'" + e.Name + "': damaged: " + e.Damage;
    if (e.IsDir) return {};
    std::string sAesWhy; // an AES entry's code proves its encrypted data before it is read
    if (libRestore::detail::CheckAes(pZip, e, sPassword, sAesWhy) != libRestore::Status::Ok)
        return "'" + e.Name + "': " + sAesWhy;
    zip_file_t* pFile = zip_fopen_index(pZip, e.Index, 0);
    if (pFile == nullptr) return "'" + e.Name + "': " + zip_strerror(pZip);
    buffer.resize(BufferSize);
    uLong uCrc = crc32(0L, Z_NULL, 0);
    uint64_t lSize = 0;
    zip_int64_t r = 0;
    // Never more than one byte past the declared size: data that long is damaged already.
    while (lSize <= e.Size && (r = zip_fread(pFile, buffer.data(), buffer.size())) > 0) {
        uCrc = crc32(uCrc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(r));
        lSize += static_cast<uint64_t>(r);
        if (stopped()) {
            zip_fclose(pFile);
            return {}; // the caller names the stop
        }
    }
    if (lSize <= e.Size && r < 0 &&
        !libRestore::detail::ZeroCrcMisread(e, lSize, zip_error_code_zip(zip_file_get_error(pFile)))) {
        std::string sWhy = "'" + e.Name + "': damaged: " + zip_error_strerror(zip_file_get_error(pFile));
        zip_fclose(pFile);
        return sWhy;
    }
    zip_fclose(pFile);
    if (lSize != e.Size)
        return "'" + e.Name + "': damaged: its data is " + (lSize > e.Size ? "longer" : "shorter") +
               " than the declared " + std::to_string(e.Size) + " bytes";
    if (e.CrcKnown && static_cast<uint32_t>(uCrc) != e.Crc) return "'" + e.Name + "': CRC error";
    return {};
}

EntryReaders::EntryReaders(zip_t* pZip, int iOpenFlags, const std::vector<libRestore::Entry>& entries,
                           const std::string& sPassword, unsigned iWorkers)
    : m_pZip(pZip), m_iOpenFlags(iOpenFlags), m_entries(entries), m_sPassword(sPassword),
      m_bAbortAtStart(RunState::AbortRequested()) {
    m_outcomes.resize(std::clamp<size_t>(entries.size(), 1, EntriesAhead));
    m_workers.StartUpTo(iWorkers, [this](const std::stop_token& stop) { Work(stop); });
}

unsigned EntryReaders::DefaultWorkers() { return std::clamp(std::thread::hardware_concurrency(), 2U, 8U) - 1; }

bool EntryReaders::AbortAsked() const { return !m_bAbortAtStart && RunState::AbortRequested(); }

bool EntryReaders::Claimable() const { return m_next < m_entries.size() && m_next < m_taken + m_outcomes.size(); }

void EntryReaders::Store(size_t i, std::string&& sFailure) {
    Outcome& slot = m_outcomes[i % m_outcomes.size()];
    slot.Failure = std::move(sFailure);
    slot.Done = true;
}

bool EntryReaders::Next(std::string& sFailure) {
    m_workers.RethrowFailure();
    Outcome& slot = m_outcomes[m_taken % m_outcomes.size()];
    std::unique_lock lock(m_mutex);
    while (!slot.Done) {
        if (AbortAsked()) {
            lock.unlock();
            m_workers.RequestStop();
            return false;
        }
        if (Claimable()) {
            // Rather than wait, this thread checks the next entry no one has taken, through its
            // own handle: with no worker at all, each entry in turn.
            const size_t j = m_next++;
            lock.unlock();
            std::string sWhy = CheckEntry(m_pZip, m_entries[j], m_sPassword, m_buffer, [this] { return AbortAsked(); });
            lock.lock();
            Store(j, std::move(sWhy));
            continue;
        }
        if (!m_done.wait_for(lock, m_workers.Token(), AbortPoll, [&] { return slot.Done || Claimable(); }) &&
            m_workers.Token().stop_requested()) {
            lock.unlock();
            m_workers.ThrowStopped(); // a worker failed: the caller gets its exception
        }
    }
    if (AbortAsked()) { // a check cut short by the abort says nothing of the entry
        lock.unlock();
        m_workers.RequestStop();
        return false;
    }
    sFailure = std::move(slot.Failure);
    slot = Outcome{};
    ++m_taken;
    lock.unlock();
    m_room.notify_all();
    return true;
}

void EntryReaders::Work(const std::stop_token& stop) {
    zip_t* pOwn = OpenAgain(m_pZip, m_iOpenFlags, m_sPassword);
    const ZipCloser closer{pOwn};
    if (pOwn == nullptr) return; // the calling thread checks what this one would have
    std::vector<char> buffer;
    const auto stopped = [&] { return stop.stop_requested() || AbortAsked(); };
    for (;;) {
        size_t i = 0;
        {
            std::unique_lock lock(m_mutex);
            if (!m_room.wait(lock, stop,
                             [&] { return m_next >= m_entries.size() || m_next < m_taken + m_outcomes.size(); }))
                return;
            if (m_next >= m_entries.size()) return;
            i = m_next++;
        }
        std::string sWhy = CheckEntry(pOwn, m_entries[i], m_sPassword, buffer, stopped);
        {
            std::lock_guard lock(m_mutex);
            Store(i, std::move(sWhy));
        }
        m_done.notify_all();
    }
}

} // namespace libVerify::detail
