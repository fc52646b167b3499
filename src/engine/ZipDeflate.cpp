// The parallel deflate of the files an archive is written with.
//
// Deflate at level 9 is where a zip run spends its time. The files (and long files in
// chunks of ChunkSize) are deflated ahead by worker threads, and the writer is handed the
// finished raw deflate data, which it writes as it is. Everything is deflated with libdeflate
// (faster than zlib at the same level, and no larger). A file that deflate cannot shrink is
// stored instead, as other zip programs do. Long files are deflated in pieces, each on its own,
// and all but the last end on a byte boundary, so the chunks of a file form one ordinary
// deflate stream. No chunk refers back into the one before it: a file that changes while
// it is read (a growing log) still gives a consistent entry, whose CRC matches what is
// stored, at the cost of a little compression at each chunk start. The data deflated ahead is bounded
// (AheadBudget), so memory does not grow with file sizes. All call-backs stay on the
// calling thread; the workers only read files, deflate and, for AES entries, derive the keys
// and encrypt (the later pieces of a long entry are encrypted in order by the writer).

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "engine/ZipInternal.h"

namespace libZip::detail {

namespace {

constexpr uint64_t ChunkSize = 1u << 20;
// Files up to this size are deflated whole; longer ones in ChunkSize pieces, so memory stays
// flat in file size and a long file is deflated on every core instead of keeping one worker
// busy while the writer waits for it (a piece costs a few bytes of compression at its start).
constexpr uint64_t WholeLimit = ChunkSize;
// How far the deflate runs ahead of the writer, in source bytes and in chunks. The writer is
// the calling thread, which the workers outnumber on the cores: when it is kept waiting for a
// core, the workers go on with what the window holds, so it holds a good many small files.
constexpr uint64_t AheadBudget = 16u << 20;
constexpr size_t AheadJobs = 4096;
// A worker's buffers are kept for its next chunk up to this size; a longer file's go with it,
// so that a few large files do not hold every worker's memory at 8 MiB for the rest of the run.
constexpr size_t KeptBuffer = 1u << 20;
// A worker takes up to this many chunks (and bytes) at once.
constexpr size_t BatchJobs = 16;
constexpr uint64_t BatchBytes = 256u << 10;
// libdeflate's levels are not zlib's: its level 7 writes archives within 0.3 % of zlib's maximum
// (Info-ZIP's -9), smaller on most trees measured, at half the CPU time of its own level 9,
// which saves another 0.1 % at most. So the higher levels, maximum compression included, use 7.
constexpr int HighestLevel = 7;
// Data from this length on is sampled first (its start, middle and end): when deflate at its
// fastest level cannot shrink any sample below SampleShrinks of it (compressed media, archives,
// encrypted files), no level can shrink the whole, and it is stored without trying, at a
// hundredth of the time. Shorter data is simply deflated.
constexpr uint64_t SampledFrom = 64u << 10;
constexpr size_t SampleSize = 4096;
constexpr size_t SampleShrinks = SampleSize * 99 / 100;

} // namespace

Deflater::~Deflater() {
    if (m_inflateInit) inflateEnd(&m_inflate);
    if (m_whole) libdeflate_free_compressor(m_whole);
    if (m_sampler) libdeflate_free_compressor(m_sampler);
}

bool Deflater::Incompressible(const unsigned char* data, uint64_t len) {
    if (len < SampledFrom) return false;
    if (!m_sampler) m_sampler = libdeflate_alloc_compressor(1);
    if (!m_sampler) return false; // no memory for it: deflate decides
    m_sample.resize(libdeflate_deflate_compress_bound(m_sampler, SampleSize));
    const uint64_t at[] = {0, len / 2 - SampleSize / 2, len - SampleSize};
    for (uint64_t lAt : at) {
        const size_t n =
            libdeflate_deflate_compress(m_sampler, data + lAt, SampleSize, m_sample.data(), m_sample.size());
        if (n != 0 && n < SampleShrinks) return false;
    }
    return true;
}

bool Deflater::Continue(std::string& out, size_t& produced) {
    // libdeflate ends what it writes as a whole stream. To let the next chunk follow, the
    // final block's BFINAL bit is cleared and an empty stored block brings the stream to a
    // byte boundary, as zlib's sync flush does. Where that block header lies is found by
    // walking the blocks with zlib's inflate, which stops at each block boundary.
    if (!m_inflateInit) {
        m_inflate = z_stream{};
        if (inflateInit2(&m_inflate, -15) != Z_OK) return false;
        m_inflateInit = true;
    } else if (inflateReset(&m_inflate) != Z_OK) {
        return false;
    }
    m_scratch.resize(64u << 10);
    m_inflate.next_in = reinterpret_cast<Bytef*>(out.data());
    m_inflate.avail_in = static_cast<uInt>(produced);
    uint64_t lHeaderBit = 0;
    uint64_t lEndBit = 0;
    for (;;) {
        m_inflate.next_out = m_scratch.data();
        m_inflate.avail_out = static_cast<uInt>(m_scratch.size());
        const int rc = inflate(&m_inflate, Z_BLOCK);
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK) return false;
        // Just past a block's end: the header that follows may be the final one; past the final
        // block's end is where the stream ends (before inflate skips to a byte boundary).
        if (m_inflate.data_type & 128) {
            const uint64_t lBit = uint64_t{m_inflate.total_in} * 8 - static_cast<unsigned>(m_inflate.data_type & 7);
            (m_inflate.data_type & 64 ? lEndBit : lHeaderBit) = lBit;
        }
    }
    if (lEndBit == 0) return false;
    out[lHeaderBit / 8] = static_cast<char>(out[lHeaderBit / 8] & ~(1 << (lHeaderBit % 8)));
    produced = static_cast<size_t>((lEndBit + 7) / 8);
    const auto uUsed = static_cast<unsigned>(lEndBit % 8);
    if (uUsed != 0) // the bits after the end take the next header: they must be zero
        out[produced - 1] = static_cast<char>(out[produced - 1] & ((1 << uUsed) - 1));
    out.resize(produced);
    if (uUsed == 0 || uUsed > 5) out += '\0'; // the 3 header bits need a byte of their own
    out.append("\0\0\xff\xff", 4);
    produced = out.size();
    return true;
}

void Deflater::Run(const FileSystemProbe& probe, const std::string& sPath, EntryKind kind, const ChunkJob& job,
                   int iLevel, std::string_view sAesPassword, ChunkResult& r, OpenedSource src) {
    Deflate(probe, sPath, kind, job, iLevel, r, src);
    if (m_in.capacity() > KeptBuffer) std::vector<unsigned char>().swap(m_in);
    if (m_out.capacity() > KeptBuffer) std::vector<char>().swap(m_out);
    if (r.Errno != 0 || sAesPassword.empty() || job.Offset != 0) return;
    // The keys are derived here, beside the deflate: PBKDF2 costs about a millisecond per entry.
    if (job.Last) {
        r.CipherFailed = !AesEncryptWhole(sAesPassword, r.Out);
        return;
    }
    r.Aes = std::make_unique<AesEncryptor>();
    std::string head;
    r.CipherFailed = !r.Aes->Start(sAesPassword, head) || !r.Aes->Encrypt(r.Out.data(), r.Out.size());
    r.Out.insert(0, head);
}

void Deflater::Deflate(const FileSystemProbe& probe, const std::string& sPath, EntryKind kind, const ChunkJob& job,
                       int iLevel, ChunkResult& r, OpenedSource src) {
    uint64_t len = 0;
    if (kind == EntryKind::Link) {
        // A link's data is its target, stored as it is.
        m_in.resize(4096);
        ssize_t n = ::readlink(sPath.c_str(), reinterpret_cast<char*>(m_in.data()), m_in.size());
        if (n < 0) {
            r.Errno = errno;
            return;
        }
        r.Out.assign(reinterpret_cast<const char*>(m_in.data()), static_cast<size_t>(n));
        r.Crc = libdeflate_crc32(0, r.Out.data(), r.Out.size());
        r.InLength = r.Out.size();
        r.Stored = true;
        return;
    }
    if (src.Errno != 0) {
        r.Errno = src.Errno;
        return;
    }
    const int fd = src.Fd >= 0 ? src.Fd : probe.OpenSource(sPath);
    if (fd < 0) {
        r.Errno = errno ? errno : EIO;
        return;
    }
    const uint64_t want = job.Length;
    m_in.resize(static_cast<size_t>(want));
    while (len < want) {
        ssize_t n =
            ::pread(fd, m_in.data() + len, static_cast<size_t>(want - len), static_cast<off_t>(job.Offset + len));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            r.Errno = errno;
            ::close(fd);
            return;
        }
        if (n == 0) break; // the file got shorter: what is there is archived
        len += static_cast<uint64_t>(n);
    }
    ::close(fd);
    const unsigned char* data = m_in.data();
    r.Crc = libdeflate_crc32(0, data, static_cast<size_t>(len));
    r.InLength = len;
    const bool bWhole = job.Offset == 0 && job.Last;
    if (iLevel == 0 || (bWhole && len == 0)) {
        r.Out.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(len));
        r.Stored = bWhole;
        return;
    }
    const int iUsed = std::min(iLevel, HighestLevel);
    if (!m_whole || m_wholeLevel != iUsed) {
        if (m_whole) libdeflate_free_compressor(m_whole);
        m_whole = libdeflate_alloc_compressor(iUsed);
        m_wholeLevel = iUsed;
        if (!m_whole) {
            r.Errno = ENOMEM;
            return;
        }
    }
    // Deflated into the worker's own buffer, then copied out at its length: a result waiting
    // in the window holds what deflate made, not the room it might have needed. Nothing made
    // (0) stores the data, as when deflate could not shrink it.
    size_t produced = 0;
    if (!Incompressible(data, len)) {
        m_out.resize(libdeflate_deflate_compress_bound(m_whole, static_cast<size_t>(len)));
        produced = libdeflate_deflate_compress(m_whole, data, static_cast<size_t>(len), m_out.data(), m_out.size());
    }
    if (bWhole && (produced == 0 || produced >= len)) {
        r.Out.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(len));
        r.Stored = true;
        return;
    }
    if (produced != 0) {
        r.Out.reserve(produced + 8); // room for what Continue appends
        r.Out.assign(m_out.data(), produced);
    }
    if (bWhole) return;
    if (produced != 0 && !job.Last && !Continue(r.Out, produced)) produced = 0;
    r.Out.resize(produced);
    // A piece deflate cannot shrink goes into stored blocks: the chunk starts and ends on a
    // byte boundary, so it still joins its neighbours into one stream, and incompressible
    // data costs 5 bytes in 64 KiB instead of deflate's growth.
    const uint64_t lStored = len + 5 * std::max<uint64_t>(1, (len + 65534) / 65535);
    if (produced == 0 || produced > lStored) {
        r.Out.clear();
        uint64_t at = 0;
        do {
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(65535, len - at));
            const bool bFinal = job.Last && at + n == len;
            r.Out += static_cast<char>(bFinal ? 1 : 0);
            r.Out += static_cast<char>(n & 0xFF);
            r.Out += static_cast<char>(n >> 8);
            r.Out += static_cast<char>(~n & 0xFF);
            r.Out += static_cast<char>((~n >> 8) & 0xFF);
            r.Out.append(reinterpret_cast<const char*>(data + at), n);
            at += n;
        } while (at < len);
    }
}

DeflatePipeline::DeflatePipeline(const FileSystemProbe& probe, const EntryStore& store,
                                 const std::vector<std::string>& passwords, unsigned iWorkers)
    : m_probe(probe), m_store(store), m_passwords(passwords) {
    // A quarter of the descriptors the process may have, less those it holds anyway.
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        m_aheadLimit = static_cast<int>(std::min<rlim_t>(limit.rlim_cur / 4, 256)) - 16;
    m_workers.StartUpTo(iWorkers, [this](const std::stop_token& stop) { Work(stop); });
}

bool DeflatePipeline::MakeJob() {
    while (m_genEntry < m_published && !HasData(m_store[m_genEntry])) {
        ++m_genEntry;
        m_genOffset = 0;
    }
    if (m_genEntry >= m_published) return false;
    const Entry& e = m_store[m_genEntry];
    Slot slot;
    slot.Job.Entry = m_genEntry;
    slot.Job.Offset = m_genOffset;
    const uint64_t lSize = e.Kind == EntryKind::Link ? 0 : static_cast<uint64_t>(e.Size);
    slot.Job.Length = lSize <= WholeLimit ? lSize : std::min(ChunkSize, lSize - m_genOffset);
    slot.Path = m_store.Path(m_genEntry);
    slot.Kind = e.Kind;
    slot.Level = e.Level;
    if (e.Aes && e.Password != 0 && m_genOffset == 0) slot.AesPassword = m_passwords[e.Password - 1];
    m_genOffset += slot.Job.Length;
    slot.Job.Last = m_genOffset >= lSize;
    if (slot.Job.Last) {
        ++m_genEntry;
        m_genOffset = 0;
    }
    m_windowBytes += slot.Job.Length;
    m_window.push_back(std::move(slot));
    return true;
}

void DeflatePipeline::Fill() {
    const size_t iBefore = m_window.size();
    // The chunk waited for is never held back by the budget.
    while (m_window.size() < AheadJobs && (m_window.empty() || m_windowBytes < AheadBudget) && MakeJob()) {
    }
    const size_t iAdded = m_window.size() - iBefore;
    if (iAdded == 1)
        m_workCv.notify_one();
    else if (iAdded > 1)
        m_workCv.notify_all();
}

void DeflatePipeline::Publish(size_t iEnd) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_published = std::max(m_published, std::min(iEnd, m_store.Size()));
    Fill();
}

bool DeflatePipeline::Ready() {
    std::lock_guard<std::mutex> lock(m_mutex);
    Fill();
    return m_workers.Failed() || (!m_window.empty() && (m_window.front().Result.Done || m_workers.Count() == 0));
}

ChunkResult DeflatePipeline::Take(ChunkJob& job) {
    m_workers.RethrowFailure();
    std::unique_lock<std::mutex> lock(m_mutex);
    Fill();
    if (m_window.empty()) {
        job = ChunkJob{};
        ChunkResult none;
        none.Errno = EINVAL; // asked for more than was published
        return none;
    }
    if (m_workers.Count() == 0) {
        Slot& front = m_window.front();
        m_inline.Run(m_probe, front.Path, front.Kind, front.Job, front.Level, front.AesPassword, front.Result);
        front.Result.Done = true;
    } else if (!m_doneCv.wait(lock, m_workers.Token(), [&] { return m_window.front().Result.Done; })) {
        lock.unlock();
        m_workers.ThrowStopped(); // a worker failed: the writer gets its exception
    }
    Slot slot = std::move(m_window.front());
    m_window.pop_front();
    ++m_base;
    m_windowBytes -= slot.Job.Length;
    Fill();
    lock.unlock();
    job = slot.Job;
    return std::move(slot.Result);
}

void DeflatePipeline::Work(const std::stop_token& stop) {
    Deflater deflater;
    struct Task {
        size_t Seq;
        ChunkJob Job;
        std::string Path;
        EntryKind Kind;
        int Level;
        std::string AesPassword;
        ChunkResult Result;
        OpenedSource Source;
    };
    std::vector<Task> batch;
    // Descriptors opened ahead and not yet handed to the deflater are closed whatever happens.
    struct Closer {
        std::vector<Task>& Tasks;
        ~Closer() {
            for (Task& t : Tasks)
                if (t.Source.Fd >= 0) ::close(t.Source.Fd);
        }
    } closer{batch};
    for (;;) {
        batch.clear();
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_workCv.wait(lock, stop, [&] { return m_next < m_base + m_window.size(); })) return;
            // Small files are taken a few at a time, a fair share of what waits, so that
            // the lock is not taken twice per file.
            const size_t iWaiting = m_base + m_window.size() - m_next;
            const size_t iShare = std::clamp<size_t>(iWaiting / std::max(1U, m_workers.Count()), 1, BatchJobs);
            uint64_t lBytes = 0;
            while (batch.size() < iShare && m_next < m_base + m_window.size()) {
                const Slot& slot = m_window[m_next - m_base];
                if (!batch.empty() && lBytes + slot.Job.Length > BatchBytes) break;
                lBytes += slot.Job.Length;
                batch.push_back(Task{m_next++, slot.Job, slot.Path, slot.Kind, slot.Level, slot.AesPassword, {}, {}});
            }
        }
        // A batch's files are opened first and their reading started at once: with a cold
        // page cache the disk gets them all together instead of one small read per worker.
        // The descriptors held so are bounded well within the process's limit.
        for (Task& t : batch) {
            if (batch.size() < 2 || t.Kind != EntryKind::File || t.Job.Length == 0) continue;
            if (m_aheadOpen.fetch_add(1) >= m_aheadLimit) {
                m_aheadOpen.fetch_sub(1);
                break; // the rest are opened as they are read
            }
            const int fd = m_probe.OpenSource(t.Path);
            if (fd < 0) {
                m_aheadOpen.fetch_sub(1);
                // Out of descriptors is no fault of the file's: it is opened when it is read.
                if (errno != EMFILE && errno != ENFILE) t.Source.Errno = errno ? errno : EIO;
                continue;
            }
            ::posix_fadvise(fd, static_cast<off_t>(t.Job.Offset), static_cast<off_t>(t.Job.Length),
                            POSIX_FADV_WILLNEED);
            t.Source.Fd = fd;
        }
        for (Task& t : batch) {
            const OpenedSource src = std::exchange(t.Source, OpenedSource{});
            deflater.Run(m_probe, t.Path, t.Kind, t.Job, t.Level, t.AesPassword, t.Result, src);
            if (src.Fd >= 0) m_aheadOpen.fetch_sub(1); // closed by the deflater
            t.Result.Done = true;
        }
        bool bFront = false;
        {
            // The slots are still in the window: only taken results leave it.
            std::lock_guard<std::mutex> lock(m_mutex);
            for (Task& t : batch) {
                m_window[t.Seq - m_base].Result = std::move(t.Result);
                bFront = bFront || t.Seq == m_base;
            }
        }
        if (bFront) m_doneCv.notify_all();
    }
}

unsigned WorkerCount() {
    // Two per core: small files not in the page cache keep a worker waiting for the disk
    // longer than deflating them takes, so more reads in flight pay; taken in batches, the
    // extra threads cost little when everything is cached.
    const unsigned n = std::thread::hardware_concurrency();
    return std::clamp(2 * n, 2u, 16u);
}

} // namespace libZip::detail
