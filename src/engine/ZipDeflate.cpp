// The parallel deflate of the files an archive is written with.
//
// Deflate at level 9 is where a zip run spends its time. The files (and long files in
// chunks of ChunkSize) are deflated ahead by worker threads, and libzip is handed the
// finished raw deflate data, which it writes as it is. Each chunk is deflated on its own
// and all but the last end on a byte boundary, so the chunks of a file form one ordinary
// deflate stream. No chunk refers back into the one before it: a file that changes while
// it is read (a growing log) still gives a consistent entry, whose CRC matches what is
// stored, at the cost of a little compression at each chunk start. The data deflated ahead is bounded
// (AheadBudget), so memory does not grow with file sizes. All call-backs stay on the
// calling thread; the workers only read files and deflate.

#include <algorithm>
#include <cerrno>
#include <unistd.h>

#include "engine/ZipInternal.h"

namespace libZip::detail {

namespace {

constexpr uint64_t ChunkSize = 1u << 20;
constexpr uint64_t AheadBudget = 16u << 20;
constexpr size_t AheadJobs = 512;

} // namespace

Deflater::~Deflater() {
    if (m_init) deflateEnd(&m_z);
}

void Deflater::Run(const FileSystemProbe& probe, const std::string& sPath, const ChunkJob& job, int iLevel,
                   ChunkResult& r) {
    const uint64_t want = job.Length;
    m_in.resize(static_cast<size_t>(want));
    int fd = probe.OpenSource(sPath);
    if (fd < 0) {
        r.Errno = errno ? errno : EIO;
        return;
    }
    uint64_t got = 0;
    while (got < want) {
        ssize_t n =
            ::pread(fd, m_in.data() + got, static_cast<size_t>(want - got), static_cast<off_t>(job.Offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            r.Errno = errno;
            ::close(fd);
            return;
        }
        if (n == 0) break; // the file got shorter: what is there is archived
        got += static_cast<uint64_t>(n);
    }
    ::close(fd);
    const uint64_t len = got;
    if (!m_init || iLevel != m_level) {
        if (m_init) deflateEnd(&m_z);
        m_z = z_stream{};
        if (deflateInit2(&m_z, iLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            r.Errno = ENOMEM;
            return;
        }
        m_init = true;
        m_level = iLevel;
    } else {
        deflateReset(&m_z);
    }
    const unsigned char* data = m_in.data();
    r.Crc = crc32_z(0, data, static_cast<z_size_t>(len));
    r.InLength = len;
    r.Out.resize(static_cast<size_t>(deflateBound(&m_z, static_cast<uLong>(len))) + 64);
    m_z.next_in = const_cast<Bytef*>(data);
    m_z.avail_in = static_cast<uInt>(len);
    size_t produced = 0;
    const int flush = job.Last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        m_z.next_out = reinterpret_cast<Bytef*>(r.Out.data() + produced);
        m_z.avail_out = static_cast<uInt>(r.Out.size() - produced);
        int rc = deflate(&m_z, flush);
        produced = r.Out.size() - m_z.avail_out;
        if (rc == Z_STREAM_END || (flush == Z_SYNC_FLUSH && m_z.avail_in == 0 && m_z.avail_out > 0)) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            r.Errno = EIO;
            return;
        }
        r.Out.resize(r.Out.size() * 2);
    }
    r.Out.resize(produced);
}

std::vector<ChunkJob> ChunksOf(size_t iFile, uint64_t lSize) {
    std::vector<ChunkJob> jobs;
    uint64_t offset = 0;
    do {
        ChunkJob j;
        j.File = iFile;
        j.Offset = offset;
        j.Length = std::min(ChunkSize, lSize - offset);
        offset += j.Length;
        j.Last = offset >= lSize;
        jobs.push_back(j);
    } while (offset < lSize);
    return jobs;
}

DeflatePipeline::DeflatePipeline(const FileSystemProbe& probe, std::vector<PlanFile> files, std::vector<ChunkJob> jobs,
                                 unsigned iWorkers)
    : m_probe(probe), m_files(std::move(files)), m_jobs(std::move(jobs)), m_results(m_jobs.size()) {
    for (unsigned i = 0; i < iWorkers; ++i)
        m_threads.emplace_back([this] { Work(); });
}

DeflatePipeline::~DeflatePipeline() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_workCv.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

ChunkResult DeflatePipeline::Take(size_t j) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_doneCv.wait(lock, [&] { return m_results[j].Done; });
    ChunkResult r = std::move(m_results[j]);
    m_results[j] = ChunkResult{};
    m_ahead -= m_jobs[j].Length;
    --m_aheadJobs;
    m_cursor = j + 1;
    lock.unlock();
    m_workCv.notify_all();
    return r;
}

void DeflatePipeline::Work() {
    Deflater deflater;
    for (;;) {
        size_t j;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_workCv.wait(lock, [&] { return m_stop || CanStart(); });
            if (m_stop) return;
            j = m_next++;
            m_ahead += m_jobs[j].Length;
            ++m_aheadJobs;
        }
        ChunkResult r;
        const PlanFile& f = m_files[m_jobs[j].File];
        deflater.Run(m_probe, f.Path, m_jobs[j], f.Level, r);
        r.Done = true;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_results[j] = std::move(r);
        }
        m_doneCv.notify_all();
    }
}

bool DeflatePipeline::CanStart() const {
    if (m_next >= m_jobs.size()) return false;
    if (m_next == m_cursor) return true; // the one being waited for, whatever its size
    return m_ahead + m_jobs[m_next].Length <= AheadBudget && m_aheadJobs < AheadJobs;
}

unsigned WorkerCount() {
    unsigned n = std::thread::hardware_concurrency();
    return std::clamp(n, 1u, 8u);
}

} // namespace libZip::detail
