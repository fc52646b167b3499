// The restore's file writers: a window of jobs in hand-over order, run by workers (or by the
// calling thread when none could start), and the writing of one file's data.

#include "engine/RestoreWorkers.h"

#include "engine/Restorer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace libRestore::detail {

namespace {

constexpr size_t BufferSize = 1 << 20;
constexpr size_t InputSize = 256 << 10;
// Read ahead of a worker: a small file whole, a larger one's start (the kernel's own read-ahead
// follows a worker through the rest).
constexpr uint64_t ReadAheadBytes = 1 << 20;
// A copy tree's file: never through a link, and never waiting on a pipe put in its place.
constexpr int SourceFlags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

// Jobs in flight for a process that may hold iDescriptors: a quarter of them, a job holding up
// to three (its folder, the copy tree's folder and file), at least 16 and at most 1024.
size_t WindowFor(uint64_t iDescriptors) {
    return static_cast<size_t>(std::clamp<uint64_t>(iDescriptors / 4 / 3, 16, 1024));
}

// Each thread keeps its buffers for all the files it writes.
thread_local std::vector<char> t_out, t_in;

bool WriteAll(int fd, const char* p, size_t n, std::string& sWhy) {
    for (size_t w = 0; w < n;) {
        const ssize_t r = ::write(fd, p + w, n - w);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            sWhy = std::strerror(errno);
            return false;
        }
        w += static_cast<size_t>(r);
    }
    return true;
}

// Reads and writes one file's data; lDone counts the bytes written.
class DataCopy {
public:
    // pText: the data is kept there instead of written to iOut.
    DataCopy(FileJob& job, int iOut, uint64_t lSize, const std::function<bool(uint64_t)>& going,
             std::string* pText = nullptr)
        : m_job(job), m_iOut(iOut), m_pText(pText), m_lSize(lSize), m_going(going) {
        if (t_out.empty()) t_out.resize(BufferSize);
    }
    bool FromTree();
    bool FromArchive(int iArchive);
    uint64_t Done() const { return m_lDone; }

private:
    // At most one byte past the declared size is ever asked for: enough to see that it grows.
    size_t Ask(size_t uChunk) const { return static_cast<size_t>(std::min<uint64_t>(uChunk, m_lSize - m_lDone + 1)); }
    // Counts n bytes written (p: the bytes still to write; nullptr when the kernel wrote them).
    bool Wrote(const char* p, size_t n);
    bool Inflate(int iArchive);
    bool Pread(int iArchive, char* p, size_t n, uint64_t lAt);

    FileJob& m_job;
    int m_iOut;
    std::string* m_pText;
    uint64_t m_lSize;
    const std::function<bool(uint64_t)>& m_going;
    uint64_t m_lDone = 0;
    uLong m_crc = crc32(0, nullptr, 0);
};

bool DataCopy::Wrote(const char* p, size_t n) {
    if (m_pText != nullptr && p != nullptr)
        m_pText->append(p, n);
    else if (p != nullptr && n > 0 && !WriteAll(m_iOut, p, n, m_job.Why))
        return false;
    m_lDone += n;
    if (m_lDone > m_lSize) {
        m_job.Why = Longer(m_lSize);
        return false;
    }
    m_job.Done.store(m_lDone, std::memory_order_relaxed);
    if (!m_going(m_lDone)) {
        m_job.Stopped = true;
        return false;
    }
    return true;
}

bool DataCopy::FromTree() {
    // Within one file system the kernel copies without the bytes passing through here.
    for (;;) {
        const ssize_t r = ::copy_file_range(m_job.Source, nullptr, m_iOut, nullptr, Ask(8 * BufferSize), 0);
        if (r < 0 && m_lDone == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS)) break;
        if (r < 0) {
            m_job.Why = std::strerror(errno);
            return false;
        }
        if (r == 0) return true;
        if (!Wrote(nullptr, static_cast<size_t>(r))) return false;
    }
    for (;;) {
        ssize_t r;
        do
            r = ::read(m_job.Source, t_out.data(), Ask(t_out.size()));
        while (r < 0 && errno == EINTR);
        if (r < 0) m_job.Why = std::strerror(errno);
        if (r <= 0) return r == 0;
        if (!Wrote(t_out.data(), static_cast<size_t>(r))) return false;
    }
}

bool DataCopy::Pread(int iArchive, char* p, size_t n, uint64_t lAt) {
    while (n > 0) {
        const ssize_t r = ::pread(iArchive, p, n, static_cast<off_t>(lAt));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            m_job.Why =
                std::string("damaged: Read error: ") + (r < 0 ? std::strerror(errno) : "the archive ends early");
            return false;
        }
        p += r;
        n -= static_cast<size_t>(r);
        lAt += static_cast<uint64_t>(r);
    }
    return true;
}

// A deflated entry, inflated here from the archive's own bytes (zlib's raw inflate).
bool DataCopy::Inflate(int iArchive) {
    if (t_in.empty()) t_in.resize(InputSize);
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        m_job.Why = "no memory to inflate";
        return false;
    }
    const Entry& e = *m_job.E;
    uint64_t lRead = 0;
    bool bOk = true, bEnd = false;
    while (bOk && !bEnd) {
        if (z.avail_in == 0 && lRead < e.StoredSize) {
            const auto n = static_cast<size_t>(std::min<uint64_t>(t_in.size(), e.StoredSize - lRead));
            if (!Pread(iArchive, t_in.data(), n, e.DataStart + lRead)) break;
            lRead += n;
            z.next_in = reinterpret_cast<Bytef*>(t_in.data());
            z.avail_in = static_cast<uInt>(n);
        }
        z.next_out = reinterpret_cast<Bytef*>(t_out.data());
        z.avail_out = static_cast<uInt>(Ask(t_out.size()));
        const int r = inflate(&z, Z_NO_FLUSH);
        const size_t n = Ask(t_out.size()) - z.avail_out;
        bEnd = r == Z_STREAM_END;
        if (r != Z_OK && r != Z_STREAM_END && !(r == Z_BUF_ERROR && z.avail_in == 0 && lRead < e.StoredSize)) {
            // The data stops before its stream does, or is no deflate stream.
            m_job.Why = r == Z_BUF_ERROR ? Shorter(m_lDone + n, m_lSize) : "damaged: Compression error";
            bOk = false;
            break;
        }
        m_crc = crc32(m_crc, reinterpret_cast<const Bytef*>(t_out.data()), static_cast<uInt>(n));
        bOk = Wrote(t_out.data(), n);
    }
    inflateEnd(&z);
    return bOk && bEnd;
}

bool DataCopy::FromArchive(int iArchive) {
    const Entry& e = *m_job.E;
    if (e.Method == 8) {
        if (!Inflate(iArchive)) return false;
    } else {
        for (uint64_t lAt = 0; lAt < e.StoredSize;) {
            const auto n = static_cast<size_t>(std::min<uint64_t>(Ask(t_out.size()), e.StoredSize - lAt));
            if (!Pread(iArchive, t_out.data(), n, e.DataStart + lAt)) return false;
            lAt += n;
            m_crc = crc32(m_crc, reinterpret_cast<const Bytef*>(t_out.data()), static_cast<uInt>(n));
            if (!Wrote(t_out.data(), n)) return false;
        }
    }
    if (m_lDone == m_lSize && e.CrcKnown && m_crc != e.Crc) {
        m_job.Why = "damaged: CRC error";
        return false;
    }
    return true;
}

} // namespace

namespace {
void WriteData(FileJob& job, int iArchive, mode_t uUmask, const std::function<bool(uint64_t)>& going);
} // namespace

bool ReadEntryText(int iArchive, const Entry& e, std::string& sText, std::string& sWhy) {
    FileJob job;
    job.E = &e;
    const std::function<bool(uint64_t)> going = [](uint64_t) { return true; };
    DataCopy copy(job, -1, e.Size, going, &sText);
    bool bOk = copy.FromArchive(iArchive);
    if (bOk && copy.Done() < e.Size) {
        job.Why = Shorter(copy.Done(), e.Size);
        bOk = false;
    }
    sWhy = job.Why;
    return bOk;
}

void StartReading(FileJob& job, uint64_t lSize) {
    job.Source = ::openat(job.SourceFolder, job.SourceLeaf.c_str(), SourceFlags);
    if (job.Source >= 0 && lSize > 0)
        ::posix_fadvise(job.Source, 0, static_cast<off_t>(std::min(lSize, ReadAheadBytes)), POSIX_FADV_WILLNEED);
}

FileJob::~FileJob() {
    CloseSource();
    if (Parent >= 0) ::close(Parent);
}

void FileJob::CloseSource() {
    if (Source >= 0) ::close(Source);
    if (SourceFolder >= 0) ::close(SourceFolder);
    Source = SourceFolder = -1;
}

void WriteFileJob(FileJob& job, int iArchive, mode_t uUmask, const std::function<bool(uint64_t)>& going) {
    WriteData(job, iArchive, uUmask, going);
    job.CloseSource(); // here, sparing the calling thread
}

namespace {

void WriteData(FileJob& job, int iArchive, mode_t uUmask, const std::function<bool(uint64_t)>& going) {
    const Entry& e = *job.E;
    uint64_t lSize = e.Size;
    if (job.SourceFolder >= 0) {
        // It must be a file, whether opened here or when handed over.
        if (job.Source < 0) job.Source = ::openat(job.SourceFolder, job.SourceLeaf.c_str(), SourceFlags);
        struct stat st {};
        if (job.Source < 0 || ::fstat(job.Source, &st) != 0) {
            job.Why = std::strerror(errno);
            return;
        }
        if (!S_ISREG(st.st_mode)) {
            job.Why = "no longer a file in the backup";
            return;
        }
        // The copy may have been renewed since it was listed; its size now is what it declares.
        lSize = static_cast<uint64_t>(st.st_size);
    }
    // Made with its final permission bits where the umask leaves them, saving a call per file.
    const auto uMode = static_cast<mode_t>(e.Mode & 0777);
    const bool bModeAtCreate = (uMode & ~uUmask) == uMode && (e.Mode & 07000) == 0;
    const int fd = ::openat(job.Parent, job.Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            bModeAtCreate ? uMode : 0600);
    if (fd < 0) {
        job.Why = std::strerror(errno);
        return;
    }
    DataCopy copy(job, fd, lSize, going);
    bool bOk = job.SourceFolder >= 0 ? copy.FromTree() : copy.FromArchive(iArchive);
    if (bOk && copy.Done() < lSize) {
        job.Why = Shorter(copy.Done(), lSize);
        bOk = false;
    }
    if (bOk) {
        // setuid and setgid bits are not given back: a backup is no way to obtain them.
        if (!bModeAtCreate) ::fchmod(fd, static_cast<mode_t>(e.Mode & 01777 & ~uUmask));
        const timespec times[2] = {TimeOfNs(e.MTimeNs), TimeOfNs(e.MTimeNs)};
        ::futimens(fd, times);
    }
    if (::close(fd) != 0 && bOk) {
        job.Why = std::strerror(errno);
        bOk = false;
    }
    if (!bOk) ::unlinkat(job.Parent, job.Temp.c_str(), 0);
    job.Ok = bOk;
    job.Written = copy.Done();
}

} // namespace

RestoreWorkers::RestoreWorkers(int iArchive, mode_t uUmask, Tick tick)
    : m_iArchive(iArchive), m_uUmask(uUmask), m_tick(std::move(tick)) {
    uint64_t iDescriptors = 1024; // the usual limit, when it cannot be read
    if (struct rlimit limit{}; ::getrlimit(RLIMIT_NOFILE, &limit) == 0)
        iDescriptors = limit.rlim_cur == RLIM_INFINITY ? UINT64_MAX : limit.rlim_cur;
    m_uWindow = WindowFor(iDescriptors);
    // One per core (the calling thread makes folders and renames meanwhile), at most 8: more
    // only contend for the destination's folders and journal. One core gains nothing from
    // handing files over.
    const unsigned uCores = std::thread::hardware_concurrency();
    if (uCores >= 2) m_threads.StartUpTo(std::min(uCores, 8u), [this](std::stop_token stop) { Work(stop); });
}

RestoreWorkers::~RestoreWorkers() {
    Stop();
    // Jobs finished but never taken: their temporary files go with them, once running ones end.
    std::unique_lock lock(m_mutex);
    m_changed.wait(
        lock, [&] { return std::all_of(m_order.begin(), m_order.end(), [](const auto& j) { return j->Finished; }); });
    for (const auto& job : m_order)
        if (job->Ok) ::unlinkat(job->Parent, job->Temp.c_str(), 0);
}

bool RestoreWorkers::Room(const Entry& e) const {
    return m_order.empty() ||
           (m_order.size() < m_uWindow && m_lBytes <= WindowBytes && e.Size <= WindowBytes - m_lBytes);
}

bool RestoreWorkers::Holds(const std::string& sShown, const std::string& sLeaf) const {
    return std::any_of(m_order.begin(), m_order.end(),
                       [&](const auto& job) { return job->Shown == sShown && (sLeaf.empty() || job->Leaf == sLeaf); });
}

void RestoreWorkers::Add(std::unique_ptr<FileJob> job) {
    FileJob& j = *job;
    m_lBytes += j.E->Size;
    if (m_threads.Count() == 0 || m_bStopped) {
        j.Inline = true;
        if (!m_bStopped) WriteFileJob(j, m_iArchive, m_uUmask, [&](uint64_t lDone) { return m_tick(j, lDone); });
        if (m_bStopped || j.Stopped) {
            j.Stopped = true;
            m_bStopped = true;
        }
        j.Finished = true;
        m_order.push_back(std::move(job));
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_order.push_back(std::move(job));
    }
    m_changed.notify_one();
}

void RestoreWorkers::Work(std::stop_token stop) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (!m_changed.wait(lock, stop, [&] { return m_uStarted < m_order.size(); }) || stop.stop_requested()) return;
        FileJob& job = *m_order[m_uStarted++];
        lock.unlock();
        try {
            WriteFileJob(job, m_iArchive, m_uUmask, [&](uint64_t) { return !stop.stop_requested(); });
        } catch (...) {
            std::lock_guard failed(m_mutex);
            job.Finished = true;
            m_changed.notify_all();
            throw; // the pool stops; the calling thread rethrows it
        }
        lock.lock();
        job.Finished = true;
        m_changed.notify_all();
    }
}

std::unique_ptr<FileJob> RestoreWorkers::Take(bool bWait) {
    if (m_order.empty()) return nullptr;
    std::unique_lock lock(m_mutex);
    FileJob& front = *m_order.front();
    while (!front.Finished) {
        if (!bWait) return nullptr;
        if (m_threads.Failed()) {
            lock.unlock();
            m_threads.RethrowFailure();
        }
        if (m_changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return front.Finished; })) break;
        if (m_bStopped) continue;
        lock.unlock();
        const bool bGoing = m_tick(front, front.Done.load(std::memory_order_relaxed));
        if (!bGoing) Stop();
        lock.lock();
    }
    std::unique_ptr<FileJob> job = std::move(m_order.front());
    m_order.pop_front();
    if (m_uStarted > 0) --m_uStarted;
    m_lBytes -= job->E->Size;
    return job;
}

void RestoreWorkers::Stop() {
    if (m_bStopped) return;
    m_bStopped = true;
    {
        // Jobs no worker has begun are never begun.
        std::lock_guard lock(m_mutex);
        for (size_t i = m_uStarted; i < m_order.size(); ++i)
            m_order[i]->Finished = m_order[i]->Stopped = true;
        m_uStarted = m_order.size();
    }
    m_threads.RequestStop();
}

} // namespace libRestore::detail
