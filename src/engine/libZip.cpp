#include "engine/libZip.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>
#include <zip.h>
#include <zlib.h>

#include "engine/BackupRunOwner.h"
#include "engine/RunState.h"
#include "support/UserInteraction.h"
#include "support/libDates.h"
#include "support/libLog.h"
#include "support/libStrings.h"

namespace libZip {

namespace {

// ---- module state (one engine per process, used from the one UI thread) ------------

int DefaultPrint(const std::string&) { return 0; }

int DefaultComment(std::string& sComment) {
    std::string sAnswer;
    if (UserInteraction::Ui().InputBox("Enter a comment", "Stowline", "", sAnswer) && !sAnswer.empty())
        sComment = sAnswer;
    return 1;
}

int DefaultPassword(std::string& sPassword, int iSize, const std::string&, const std::string&) {
    std::string sAnswer;
    if (!UserInteraction::Ui().InputBox("Please enter password!", "Stowline", "", sAnswer) || sAnswer.empty()) return 1;
    sPassword = sAnswer.substr(0, iSize > 0 ? static_cast<size_t>(iSize - 1) : 0);
    return 0;
}

int DefaultService(const std::string&, int64_t) { return 0; }

ZipUserFunctions g_functions{DefaultPrint, DefaultComment, DefaultPassword, DefaultService, {}};
ZpOpt g_options;
OpenFunction g_open;

int OpenSource(const std::string& sPath) {
    if (g_open) return g_open(sPath);
    int fd;
    do {
        fd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Size of the password buffer the engine offers to the password call-back.
constexpr int PasswordBufferSize = 256;

// ---- patterns --------------------------------------------------------------------

char Fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Whole-text wildcard match: "*" any run, "?" any one character, "#" one digit,
// "[...]" / "[!...]" one character (not) in the list with "a-z" ranges; letter case ignored.
bool MatchFrom(const char* s, const char* p) {
    const char* starP = nullptr;
    const char* starS = nullptr;
    while (*s) {
        bool bStep = false;
        if (*p == '*') {
            starP = ++p;
            starS = s;
            continue;
        }
        if (*p == '?') {
            bStep = true;
        } else if (*p == '#') {
            bStep = std::isdigit(static_cast<unsigned char>(*s)) != 0;
        } else if (*p == '[') {
            const char* q = p + 1;
            bool bNegate = false;
            if (*q == '!') {
                bNegate = true;
                ++q;
            }
            const char* listStart = q;
            bool bFound = false;
            while (*q && (*q != ']' || q == listStart)) {
                if (q[1] == '-' && q[2] && q[2] != ']') {
                    if (Fold(*s) >= Fold(q[0]) && Fold(*s) <= Fold(q[2])) bFound = true;
                    q += 3;
                } else {
                    if (Fold(*s) == Fold(*q)) bFound = true;
                    ++q;
                }
            }
            if (*q == ']') {
                bStep = bFound != bNegate;
                if (bStep) {
                    p = q + 1;
                    ++s;
                    continue;
                }
            } else {
                // No closing bracket: the "[" is an ordinary character.
                bStep = Fold(*s) == '[';
            }
        } else if (*p) {
            bStep = Fold(*s) == Fold(*p);
        }
        if (bStep) {
            ++s;
            ++p;
            continue;
        }
        if (!starP) return false;
        p = starP;
        s = ++starS;
    }
    while (*p == '*')
        ++p;
    return *p == '\0';
}

bool MatchPattern(const std::string& sText, const std::string& sPattern) {
    if (MatchFrom(sText.c_str(), sPattern.c_str())) return true;
    // A final ".*" also matches names without an extension ("*.*" matches every name).
    if (sPattern.size() >= 2 && sPattern.compare(sPattern.size() - 2, 2, ".*") == 0 &&
        sText.find('.') == std::string::npos)
        return MatchFrom(sText.c_str(), sPattern.substr(0, sPattern.size() - 2).c_str());
    return false;
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// A name-list pattern: matched against the file name, or against the full path when it
// holds a "/" past its first character ("/*.doc" is a name pattern, "/data/tmp/*" a path one).
struct Pattern {
    std::string Text;
    bool FullPath = false;
};

Pattern MakePattern(const std::string& s) {
    Pattern p;
    if (!s.empty() && s[0] == '/' && s.find('/', 1) == std::string::npos) {
        p.Text = s.substr(1);
    } else {
        p.Text = s;
        p.FullPath = s.find('/') != std::string::npos;
    }
    return p;
}

bool Matches(const Pattern& p, const std::string& sPath, const std::string& sName) {
    return MatchPattern(p.FullPath ? sPath : sName, p.Text);
}

// ---- parallel deflate ----------------------------------------------------------------
// Deflate at level 9 is where a zip run spends its time. The files (and long files in
// chunks of ChunkSize) are deflated ahead by worker threads, and libzip is handed the
// finished raw deflate data, which it writes as it is. Each chunk is deflated on its own
// and all but the last end on a byte boundary, so the chunks of a file form one ordinary
// deflate stream. No chunk refers back into the one before it: a file that changes while
// it is read (a growing log) still gives a consistent entry, whose CRC matches what is
// stored, at the cost of a little compression at each chunk start. The data deflated ahead is bounded
// (AheadBudget), so memory does not grow with file sizes. All call-backs stay on the
// calling thread; the workers only read files and deflate.

constexpr uint64_t ChunkSize = 1u << 20;
constexpr uint64_t AheadBudget = 16u << 20;
constexpr size_t AheadJobs = 512;

struct ChunkJob {
    size_t File = 0; // index in the plan
    uint64_t Offset = 0;
    uint64_t Length = 0;
    bool Last = false;
};

struct ChunkResult {
    std::string Out;
    uLong Crc = 0;
    uint64_t InLength = 0;
    int Errno = 0; // the file could not be opened or read
    bool Done = false;
};

// One deflate stream kept for a thread's whole life.
class Deflater {
public:
    Deflater() = default;
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    ~Deflater() {
        if (m_init) deflateEnd(&m_z);
    }

    // Reads the chunk from sPath and deflates it.
    void Run(const std::string& sPath, const ChunkJob& job, int iLevel, ChunkResult& r) {
        const uint64_t want = job.Length;
        m_in.resize(static_cast<size_t>(want));
        int fd = OpenSource(sPath);
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

private:
    z_stream m_z{};
    bool m_init = false;
    int m_level = -1;
    std::vector<unsigned char> m_in;
};

struct PlanFile {
    std::string Path;
    int Level = 9;
    size_t FirstJob = 0;
    size_t Jobs = 0;
};

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

class DeflatePipeline {
public:
    DeflatePipeline(std::vector<PlanFile> files, std::vector<ChunkJob> jobs, unsigned iWorkers)
        : m_files(std::move(files)), m_jobs(std::move(jobs)), m_results(m_jobs.size()) {
        for (unsigned i = 0; i < iWorkers; ++i)
            m_threads.emplace_back([this] { Work(); });
    }
    ~DeflatePipeline() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_workCv.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }
    DeflatePipeline(const DeflatePipeline&) = delete;
    DeflatePipeline& operator=(const DeflatePipeline&) = delete;

    // The plan's next file to be written, whose chunks the workers deflate first.
    bool IsNext(size_t iFile) const { return iFile < m_files.size() && m_files[iFile].FirstJob == m_cursor; }
    const PlanFile& File(size_t iFile) const { return m_files[iFile]; }

    // Waits for job j (the cursor) and hands its result over; the caller owns it then.
    ChunkResult Take(size_t j) {
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

private:
    void Work() {
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
            deflater.Run(f.Path, m_jobs[j], f.Level, r);
            r.Done = true;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_results[j] = std::move(r);
            }
            m_doneCv.notify_all();
        }
    }
    bool CanStart() const {
        if (m_next >= m_jobs.size()) return false;
        if (m_next == m_cursor) return true; // the one being waited for, whatever its size
        return m_ahead + m_jobs[m_next].Length <= AheadBudget && m_aheadJobs < AheadJobs;
    }

    std::vector<PlanFile> m_files;
    std::vector<ChunkJob> m_jobs;
    std::vector<ChunkResult> m_results;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_workCv, m_doneCv;
    size_t m_next = 0;
    std::atomic<size_t> m_cursor{0};
    uint64_t m_ahead = 0;
    size_t m_aheadJobs = 0;
    bool m_stop = false;
};

unsigned WorkerCount() {
    unsigned n = std::thread::hardware_concurrency();
    return std::clamp(n, 1u, 8u);
}

// ---- the queued files of an open archive ------------------------------------------

struct Session;

// One file queued in the archive: a lazily opened source, so that at most a few source
// files are open at any time however many files the archive holds. Owned by the session;
// libzip's FREE only marks it.
struct QueuedFile {
    Session* Owner = nullptr;
    std::string Path;
    std::string Name;
    int64_t Size = 0;
    time_t MTime = 0;
    int Level = 9; // 0: stored
    std::shared_ptr<const ZipUserFunctions> Functions;
    bool Verbose = false;
    bool Freed = false;
    bool Announced = false;
    zip_error_t Error;
    // Reading state.
    int Fd = -1; // stored files
    int64_t Position = 0;
    size_t PlanIndex = SIZE_MAX; // deflated files: place in the pipeline's plan
    bool FromPipeline = false;
    std::vector<ChunkJob> Chunks; // deflated on the calling thread (no pipeline)
    size_t NextChunk = 0;
    ChunkResult Current;
    size_t CurrentPos = 0;
    uLong Crc = 0;
    uint64_t InTotal = 0;
    uint64_t OutTotal = 0;
    bool Complete = false;
};

struct Session {
    zip_t* Archive = nullptr;
    std::string ZipFile;
    std::unordered_set<std::string> Names;
    std::vector<std::unique_ptr<QueuedFile>> Files; // in archive order
    bool Stopped = false;                           // the service call-back answered stop
    bool LeftOut = false;                           // a source file could not be read and was left out
    std::vector<std::string> Unreadable;            // names found unreadable while writing, not yet removed
    std::unique_ptr<DeflatePipeline> Pipeline;
    Deflater InlineDeflater;
    uint64_t BytesSincePoll = 0; // source bytes written since the poll call-back last ran
    ~Session() {
        Pipeline.reset();
        for (auto& f : Files)
            zip_error_fini(&f->Error);
    }
};

std::unique_ptr<Session> g_session;

void MarkUnreadable(QueuedFile* f, int iZipError, int iErrno) {
    zip_error_set(&f->Error, iZipError, iErrno);
    f->Owner->Unreadable.push_back(f->Name);
}

// Source bytes between two calls of the poll call-back while a file is written.
constexpr uint64_t PollBytes = 4u << 20;

// Counts written source bytes and runs the poll call-back every PollBytes. False when
// it answers stop.
bool Polled(QueuedFile* f, uint64_t lBytes) {
    Session& s = *f->Owner;
    s.BytesSincePoll += lBytes;
    if (s.BytesSincePoll < PollBytes || !f->Functions->Poll) return true;
    s.BytesSincePoll = 0;
    if (f->Functions->Poll() == 0) return true;
    s.Stopped = true;
    zip_error_set(&f->Error, ZIP_ER_CANCELLED, 0);
    return false;
}

// Fetches the next deflated chunk of f into f->Current. False when the file could not be read.
bool NextChunk(QueuedFile* f) {
    Session& s = *f->Owner;
    if (f->FromPipeline) {
        const PlanFile& pf = s.Pipeline->File(f->PlanIndex);
        f->Current = s.Pipeline->Take(pf.FirstJob + f->NextChunk);
    } else {
        f->Current = ChunkResult{};
        s.InlineDeflater.Run(f->Path, f->Chunks[f->NextChunk], f->Level, f->Current);
    }
    ++f->NextChunk;
    f->CurrentPos = 0;
    if (f->Current.Errno != 0) return false;
    f->Crc = crc32_combine(f->Crc, f->Current.Crc, static_cast<z_off_t>(f->Current.InLength));
    f->InTotal += f->Current.InLength;
    f->OutTotal += f->Current.Out.size();
    return true;
}

size_t ChunkCount(const QueuedFile* f) {
    return f->FromPipeline ? f->Owner->Pipeline->File(f->PlanIndex).Jobs : f->Chunks.size();
}

zip_int64_t SourceCallback(void* pState, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto* f = static_cast<QueuedFile*>(pState);
    switch (cmd) {
    case ZIP_SOURCE_OPEN: {
        if (f->Owner->Stopped) {
            zip_error_set(&f->Error, ZIP_ER_CANCELLED, 0);
            return -1;
        }
        if (!f->Announced) {
            // Once per file, right before it is written, even if a failed write is retried.
            f->Announced = true;
            if (f->Verbose && f->Functions->Print) f->Functions->Print("  adding: " + f->Name);
            if (f->Functions->Service && f->Functions->Service(f->Path, f->Size) != 0) {
                f->Owner->Stopped = true;
                zip_error_set(&f->Error, ZIP_ER_CANCELLED, 0);
                return -1;
            }
        }
        f->Position = 0;
        f->Complete = false;
        if (f->Level == 0) {
            if (f->Fd >= 0) ::close(f->Fd);
            f->Fd = OpenSource(f->Path);
            if (f->Fd < 0) {
                MarkUnreadable(f, ZIP_ER_OPEN, errno);
                return -1;
            }
            return 0;
        }
        Session& s = *f->Owner;
        f->FromPipeline = s.Pipeline && f->PlanIndex != SIZE_MAX && s.Pipeline->IsNext(f->PlanIndex);
        if (!f->FromPipeline) f->Chunks = ChunksOf(0, static_cast<uint64_t>(f->Size));
        f->NextChunk = 0;
        f->Crc = crc32(0, nullptr, 0);
        f->InTotal = f->OutTotal = 0;
        if (!NextChunk(f)) {
            MarkUnreadable(f, ZIP_ER_OPEN, f->Current.Errno);
            return -1;
        }
        return 0;
    }
    case ZIP_SOURCE_READ: {
        if (f->Level == 0) {
            // Never more than the size found when the file was selected: the sizes written
            // in the headers (and the Zip64 decision) rest on it.
            zip_uint64_t remaining = static_cast<zip_uint64_t>(f->Size - f->Position);
            if (len > remaining) len = remaining;
            if (len == 0) return 0;
            ssize_t n;
            do {
                n = ::read(f->Fd, data, len);
            } while (n < 0 && errno == EINTR);
            if (n < 0) {
                MarkUnreadable(f, ZIP_ER_READ, errno);
                return -1;
            }
            f->Position += n;
            if (!Polled(f, static_cast<uint64_t>(n))) return -1;
            return n;
        }
        zip_uint64_t given = 0;
        auto* out = static_cast<char*>(data);
        while (given < len) {
            if (f->CurrentPos == f->Current.Out.size()) {
                if (f->NextChunk >= ChunkCount(f)) break;
                if (!NextChunk(f)) {
                    MarkUnreadable(f, ZIP_ER_READ, f->Current.Errno);
                    return -1;
                }
                if (!Polled(f, f->Current.InLength)) return -1;
                continue;
            }
            size_t n = std::min<size_t>(static_cast<size_t>(len - given), f->Current.Out.size() - f->CurrentPos);
            std::memcpy(out + given, f->Current.Out.data() + f->CurrentPos, n);
            f->CurrentPos += n;
            given += n;
        }
        return static_cast<zip_int64_t>(given);
    }
    case ZIP_SOURCE_CLOSE:
        if (f->Fd >= 0) ::close(f->Fd);
        f->Fd = -1;
        if (f->Level != 0) {
            f->Complete = f->NextChunk >= ChunkCount(f) && f->CurrentPos == f->Current.Out.size();
            // Swapped, not assigned: assigning an empty string keeps the old buffer.
            ChunkResult released;
            std::swap(f->Current, released);
            std::vector<ChunkJob>().swap(f->Chunks);
        }
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &f->Error);
        if (!st) return -1;
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        st->size = static_cast<zip_uint64_t>(f->Size);
        st->mtime = f->MTime;
        if (f->Level != 0) {
            // Already deflated data: libzip writes it as it is. The CRC and sizes are
            // known once all of it has been read.
            st->valid |= ZIP_STAT_COMP_METHOD;
            st->comp_method = ZIP_CM_DEFLATE;
            if (f->Complete) {
                st->valid |= ZIP_STAT_CRC | ZIP_STAT_COMP_SIZE;
                st->crc = static_cast<zip_uint32_t>(f->Crc);
                st->size = f->InTotal;
                st->comp_size = f->OutTotal;
            }
        }
        return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&f->Error, data, len);
    case ZIP_SOURCE_FREE:
        if (f->Fd >= 0) ::close(f->Fd);
        f->Fd = -1;
        f->Freed = true;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&f->Error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// Plans the deflating of every queued file still in the archive, in archive order.
void StartPipeline(Session& s) {
    s.Pipeline.reset();
    std::vector<PlanFile> files;
    std::vector<ChunkJob> jobs;
    for (auto& f : s.Files) {
        f->PlanIndex = SIZE_MAX;
        if (f->Freed || f->Level == 0) continue;
        PlanFile pf;
        pf.Path = f->Path;
        pf.Level = f->Level;
        pf.FirstJob = jobs.size();
        std::vector<ChunkJob> chunks = ChunksOf(files.size(), static_cast<uint64_t>(f->Size));
        pf.Jobs = chunks.size();
        jobs.insert(jobs.end(), chunks.begin(), chunks.end());
        f->PlanIndex = files.size();
        files.push_back(std::move(pf));
    }
    if (!files.empty())
        s.Pipeline = std::make_unique<DeflatePipeline>(std::move(files), std::move(jobs), WorkerCount());
}

// libzip's error for the archive itself, as an engine result code.
int ResultFromZipError(int iZipError) {
    switch (iZipError) {
    case ZIP_ER_OK:
        return ZE_OK;
    case ZIP_ER_CANCELLED:
        return ZE_ABORT;
    case ZIP_ER_MEMORY:
        return ZE_MEM;
    case ZIP_ER_EOF:
        return ZE_EOF;
    case ZIP_ER_NOZIP:
    case ZIP_ER_INCONS:
    case ZIP_ER_MULTIDISK:
        return ZE_FORM;
    case ZIP_ER_CRC:
    case ZIP_ER_COMPRESSED_DATA:
    case ZIP_ER_ZLIB:
    case ZIP_ER_INTERNAL:
        return ZE_LOGIC;
    case ZIP_ER_SEEK:
    case ZIP_ER_READ:
    case ZIP_ER_TELL:
        return ZE_READ;
    case ZIP_ER_WRITE:
    case ZIP_ER_CLOSE:
        return ZE_WRITE;
    case ZIP_ER_TMPOPEN:
    case ZIP_ER_OPEN:
    case ZIP_ER_EXISTS:
    case ZIP_ER_RDONLY:
        return ZE_CREAT;
    case ZIP_ER_RENAME:
    case ZIP_ER_REMOVE:
        return ZE_TEMP;
    case ZIP_ER_NOENT:
        return ZE_NAME;
    default:
        return ZE_PARMS;
    }
}

// ---- selection of files from a name list ------------------------------------------

struct Selected {
    std::string Path;
    std::string Name; // as stored; directories end with "/"
    bool IsDir = false;
    int64_t Size = 0;
    time_t MTime = 0;
    mode_t Mode = 0;
};

struct Selection {
    std::vector<Selected> Items;
    bool LeftOut = false;
};

class Selector {
public:
    Selector(const ZpOpt& options, std::vector<Pattern> includes, std::vector<Pattern> excludes)
        : m_opt(options), m_includes(std::move(includes)), m_excludes(std::move(excludes)) {
        if (options.Date && (options.fIncludeDate || options.fExcludeDate)) {
            const std::string& d = *options.Date;
            if (d.size() == 8 &&
                std::all_of(d.begin(), d.end(), [](char c) { return std::isdigit((unsigned char)c); })) {
                std::tm tm{};
                tm.tm_mon = std::stoi(d.substr(0, 2)) - 1;
                tm.tm_mday = std::stoi(d.substr(2, 2));
                tm.tm_year = std::stoi(d.substr(4, 4)) - 1900;
                tm.tm_isdst = -1;
                m_cutoff = std::mktime(&tm);
                m_dateFilter = true;
            } else {
                m_badDate = true;
            }
        }
    }

    bool BadOptions() const { return m_badDate; }

    void AddName(const std::string& sName, Selection& out) {
        if (HasWildcard(sName)) {
            size_t slash = sName.rfind('/');
            std::string sFolder = slash == std::string::npos ? "." : sName.substr(0, slash + 1);
            std::string sPattern = slash == std::string::npos ? sName : sName.substr(slash + 1);
            if (sFolder.size() > 1) sFolder.pop_back();
            bool bAll = (sPattern == "*" || sPattern == "*.*") && m_includes.empty();
            struct stat st {};
            if (::stat(sFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
            Walk(sFolder, &sPattern, bAll, out);
            return;
        }
        std::string sPath = sName;
        while (sPath.size() > 1 && sPath.back() == '/')
            sPath.pop_back();
        struct stat st {};
        if (::stat(sPath.c_str(), &st) != 0) return; // a name that matches nothing adds nothing
        if (S_ISDIR(st.st_mode)) {
            // The named folder itself is entered even when it is a symbolic link: the user
            // named it. Links inside it are not followed, so no walk can loop.
            AddDir(sPath, st, out);
            Walk(sPath, nullptr, true, out);
        } else if (S_ISREG(st.st_mode)) {
            AddFile(sPath, BaseName(sPath), st, out);
        }
    }

private:
    static std::string BaseName(const std::string& sPath) {
        size_t slash = sPath.rfind('/');
        return slash == std::string::npos ? sPath : sPath.substr(slash + 1);
    }

    std::string StoredName(const std::string& sPath) const {
        std::string s = sPath;
        if (!m_opt.szRootDir.empty()) {
            std::string root = m_opt.szRootDir;
            if (root.back() != '/') root += '/';
            if (s.compare(0, root.size(), root) == 0) s = s.substr(root.size());
        }
        size_t i = 0;
        while (i < s.size() && s[i] == '/')
            ++i;
        s = s.substr(i);
        if (s.compare(0, 2, "./") == 0) s = s.substr(2);
        return s;
    }

    bool DatePasses(time_t t) const {
        if (!m_dateFilter) return true;
        if (m_opt.fIncludeDate && t < m_cutoff) return false;
        if (m_opt.fExcludeDate && t >= m_cutoff) return false;
        return true;
    }

    void AddDir(const std::string& sPath, const struct stat& st, Selection& out) {
        // Folders are recorded only in full archives: a date-selected or pattern-selected
        // archive holds the chosen files alone.
        if (m_opt.fNoDirEntries || m_dateFilter || !m_includes.empty()) return;
        std::string sName = StoredName(sPath);
        if (sName.empty()) return;
        out.Items.push_back(Selected{sPath, sName + "/", true, 0, st.st_mtime, st.st_mode});
    }

    void AddFile(const std::string& sPath, const std::string& sName, const struct stat& st, Selection& out) {
        if (!m_includes.empty() && std::none_of(m_includes.begin(), m_includes.end(),
                                                [&](const Pattern& p) { return Matches(p, sPath, sName); }))
            return;
        for (const Pattern& p : m_excludes)
            if (Matches(p, sPath, sName)) return;
        if (!DatePasses(st.st_mtime)) return;
        std::string sStored = StoredName(sPath);
        if (sStored.empty()) return;
        // Readable now? A file that cannot be opened is left out (result 18).
        int fd = OpenSource(sPath);
        if (fd < 0) {
            out.LeftOut = true;
            return;
        }
        ::close(fd);
        out.Items.push_back(Selected{sPath, sStored, false, static_cast<int64_t>(st.st_size), st.st_mtime, st.st_mode});
    }

    // Walks a folder: its files (matching sPattern when given), then, when recursing,
    // its subfolders in name order, depth first. bDirEntries: record each subfolder as an
    // entry right before its contents.
    void Walk(const std::string& sFolder, const std::string* pPattern, bool bDirEntries, Selection& out) {
        struct Pending {
            std::string Path;
            struct stat St;
            bool Top;
        };
        std::vector<Pending> stack;
        stack.push_back(Pending{sFolder, {}, true});
        std::vector<std::string> names;
        while (!stack.empty()) {
            Pending cur = std::move(stack.back());
            stack.pop_back();
            if (!cur.Top && bDirEntries) AddDir(cur.Path, cur.St, out);
            DIR* dir = ::opendir(cur.Path.c_str());
            if (!dir) {
                out.LeftOut = true; // a folder that cannot be read: its files are left out
                continue;
            }
            names.clear();
            while (dirent* e = ::readdir(dir)) {
                if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
                if (!m_opt.fSystem && e->d_name[0] == '.') continue;
                names.emplace_back(e->d_name);
            }
            ::closedir(dir);
            std::sort(names.begin(), names.end());
            std::string sPrefix = cur.Path == "/" ? "/" : cur.Path + "/";
            size_t firstSub = stack.size();
            for (const std::string& sName : names) {
                std::string sPath = sPrefix + sName;
                struct stat lst {};
                if (::lstat(sPath.c_str(), &lst) != 0) continue;
                if (S_ISDIR(lst.st_mode)) {
                    if (m_opt.fRecurse) stack.push_back(Pending{sPath, lst, false});
                    continue;
                }
                struct stat st = lst;
                if (S_ISLNK(lst.st_mode)) {
                    // A link to a file is archived as that file; links to folders are
                    // neither entered nor archived; dangling links hold no data.
                    if (::stat(sPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
                }
                if (!S_ISREG(st.st_mode)) continue; // devices, pipes, sockets
                if (pPattern && !MatchPattern(sName, *pPattern)) continue;
                AddFile(sPath, sName, st, out);
            }
            // Visit the subfolders in name order.
            std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(firstSub), stack.end());
        }
    }

    const ZpOpt& m_opt;
    std::vector<Pattern> m_includes;
    std::vector<Pattern> m_excludes;
    bool m_dateFilter = false;
    bool m_badDate = false;
    time_t m_cutoff = 0;
};

// Splits a name list into the names to archive, the "-i" patterns and the "-x" patterns.
bool ParseNames(const std::vector<std::string>& names, std::vector<std::string>& items, std::vector<Pattern>& includes,
                std::vector<Pattern>& excludes) {
    enum { Items, Includes, Excludes } mode = Items;
    for (const std::string& n : names) {
        if (n == "-i") {
            mode = Includes;
        } else if (n == "-x") {
            mode = Excludes;
        } else if (n.empty()) {
            continue;
        } else if (mode == Items) {
            if (n[0] == '-') return false; // no other options are taken
            items.push_back(n);
        } else if (mode == Includes) {
            includes.push_back(MakePattern(n));
        } else {
            excludes.push_back(MakePattern(n));
        }
    }
    return true;
}

zip_source_t* MakeSource(Session& s, const Selected& item, std::shared_ptr<const ZipUserFunctions> fns, int iLevel) {
    auto owned = std::make_unique<QueuedFile>();
    QueuedFile* f = owned.get();
    f->Owner = &s;
    f->Path = item.Path;
    f->Name = item.Name;
    f->Size = item.Size;
    f->MTime = item.MTime;
    // Empty files are stored, as other zip programs do: deflate adds bytes to nothing.
    f->Level = item.Size == 0 ? 0 : iLevel;
    f->Functions = std::move(fns);
    f->Verbose = g_options.fVerbose && !g_options.fQuiet;
    zip_error_init(&f->Error);
    zip_source_t* src = zip_source_function(s.Archive, SourceCallback, f);
    if (!src) {
        zip_error_fini(&f->Error);
        return nullptr;
    }
    s.Files.push_back(std::move(owned));
    return src;
}

// Queues the selection in the session's archive. Returns a result code.
int Queue(Session& s, const Selection& sel, const std::string& sPassword) {
    auto fns = std::make_shared<const ZipUserFunctions>(g_functions);
    std::vector<zip_uint64_t> added;
    auto rollback = [&] {
        for (zip_uint64_t i : added)
            zip_delete(s.Archive, i);
    };
    const int iLevel = std::clamp(g_options.fLevel - '0', 0, 9);
    for (const Selected& item : sel.Items) {
        if (!s.Names.insert(item.Name).second) continue; // already in this run's archive
        zip_int64_t idx;
        if (item.IsDir) {
            idx = zip_dir_add(s.Archive, item.Name.c_str(), ZIP_FL_ENC_GUESS);
        } else {
            zip_source_t* src = MakeSource(s, item, fns, iLevel);
            if (!src) {
                rollback();
                return ZE_MEM;
            }
            // A name already in an archive we add to is replaced by the newer copy, as zip does.
            idx = zip_file_add(s.Archive, item.Name.c_str(), src, ZIP_FL_ENC_GUESS | ZIP_FL_OVERWRITE);
            if (idx < 0) zip_source_free(src);
        }
        if (idx < 0) {
            int code = ResultFromZipError(zip_error_code_zip(zip_get_error(s.Archive)));
            s.Names.erase(item.Name);
            rollback();
            return code == ZE_OK ? ZE_LOGIC : code;
        }
        added.push_back(static_cast<zip_uint64_t>(idx));
        const auto uIdx = static_cast<zip_uint64_t>(idx);
        zip_file_set_mtime(s.Archive, uIdx, item.MTime, 0);
        zip_uint32_t attr = static_cast<zip_uint32_t>(item.Mode & 0xFFFF) << 16;
        if (item.IsDir) attr |= 0x10; // the MS-DOS directory bit, for other unzips
        zip_file_set_external_attributes(s.Archive, uIdx, 0, ZIP_OPSYS_UNIX, attr);
        if (!item.IsDir) {
            if (iLevel == 0 || item.Size == 0)
                zip_set_file_compression(s.Archive, uIdx, ZIP_CM_STORE, 0);
            else
                zip_set_file_compression(s.Archive, uIdx, ZIP_CM_DEFLATE, static_cast<zip_uint32_t>(iLevel));
            if (!sPassword.empty() &&
                zip_file_set_encryption(s.Archive, uIdx, ZIP_EM_TRAD_PKWARE, sPassword.c_str()) != 0) {
                rollback();
                return ZE_PARMS;
            }
        }
    }
    return ZE_OK;
}

int OpenSession(const std::string& sZipFile, std::unique_ptr<Session>& out) {
    int err = 0;
    zip_t* za = zip_open(sZipFile.c_str(), ZIP_CREATE, &err);
    if (!za) return ResultFromZipError(err);
    out = std::make_unique<Session>();
    out->Archive = za;
    out->ZipFile = sZipFile;
    return ZE_OK;
}

// Writes (or drops) the session's archive. Compression happens here.
int CloseSession(std::unique_ptr<Session> s, bool bKeep) {
    if (!s) return ZE_OK;
    if (!bKeep) {
        zip_discard(s->Archive);
        s->Archive = nullptr;
        return ZE_OK;
    }
    for (;;) {
        s->Unreadable.clear();
        StartPipeline(*s);
        if (zip_close(s->Archive) == 0) {
            s->Archive = nullptr;
            return s->LeftOut ? ZE_OPEN : ZE_OK;
        }
        s->Pipeline.reset();
        int code = ResultFromZipError(zip_error_code_zip(zip_get_error(s->Archive)));
        if (s->Stopped) code = ZE_ABORT;
        if (code != ZE_ABORT && !s->Unreadable.empty()) {
            // A source that could not be read while writing: leave it out and write the
            // rest. libzip starts the archive again; files already announced to the
            // service call-back are not announced twice.
            bool bRemoved = false;
            const std::vector<std::string> failed = s->Unreadable;
            for (const std::string& sName : failed) {
                zip_int64_t idx = zip_name_locate(s->Archive, sName.c_str(), 0);
                if (idx >= 0 && zip_delete(s->Archive, static_cast<zip_uint64_t>(idx)) == 0) bRemoved = true;
                for (auto& f : s->Files)
                    if (f->Name == sName) f->Freed = true;
            }
            if (bRemoved) {
                s->LeftOut = true;
                continue;
            }
        }
        zip_discard(s->Archive);
        s->Archive = nullptr;
        return code == ZE_OK ? ZE_LOGIC : code;
    }
}

int ArchiveInto(Session& s, const std::vector<std::string>& names) {
    std::vector<std::string> items;
    std::vector<Pattern> includes, excludes;
    if (!ParseNames(names, items, includes, excludes)) return ZE_PARMS;
    if (items.empty()) return ZE_NONE;
    Selector selector(g_options, includes, excludes);
    if (selector.BadOptions()) return ZE_PARMS;
    Selection sel;
    for (const std::string& n : items)
        selector.AddName(n, sel);
    if (sel.Items.empty()) return sel.LeftOut ? ZE_OPEN : ZE_NONE;

    std::string sPassword;
    if (g_options.fEncrypt) {
        std::string sAnswer;
        if (g_functions.Password(sAnswer, PasswordBufferSize, "Enter password: ", s.ZipFile) != 0 || sAnswer.empty())
            return ZE_PARMS; // asked to encrypt without a password: never store in the clear
        sPassword = sAnswer.substr(0, PasswordBufferSize - 1);
    }
    if (g_options.fComment) {
        std::string sComment;
        g_functions.Comment(sComment);
        if (!sComment.empty()) {
            if (sComment.size() > 0xFFFF) sComment.resize(0xFFFF);
            if (zip_set_archive_comment(s.Archive, sComment.c_str(), static_cast<zip_uint16_t>(sComment.size())) != 0)
                return ZE_NOTE;
        }
    }
    int code = Queue(s, sel, sPassword);
    if (code != ZE_OK) return code;
    // Files left out here are reported by this call; the close reports only those that
    // fail while the archive is written.
    return sel.LeftOut ? ZE_OPEN : ZE_OK;
}

} // namespace

// ---- public operations -------------------------------------------------------------

std::string ZipResultMessage(int iCode) {
    switch (iCode) {
    case 0:
        return "";
    case 2:
        return "Unexpected end of zip file";
    case 3:
        return std::string("A generic error in the zipfile format was detected") + ".  " +
               "Processing may have completed successfully anyway; some broken " +
               "zipfiles created by other archivers have simple work-arounds.";
    case 4:
        return std::string("zip was unable to allocate memory for one or more ") +
               "buffers during program initialization";
    case 5:
        return "A severe error in the zipfile format was detected.  Processing probably failed immediately";
    case 6:
    case 7:
    case 16:
        return "Miscellaneous Zip Error (" + std::to_string(iCode) + ")";
    case 8:
        return "Out of memory or Zip -T failed";
    case 9:
        return std::string("The user aborted zip prematurely with control-C") + " (or similar)";
    case 10:
        return "Zip encountered an error while using a temp file";
    case 11:
        return "Read or seek error";
    case 12:
        return "Zip has nothing to do";
    case 13:
        return "Missing or empty zip file";
    case 14:
        return "Error writing to a file";
    case 15:
        return "Zip was unable to create a file to write to";
    case 18:
        return std::string("One or more source files were unable to be archived from the filespec") +
               "  This error is typically caused by a file in use.";
    default:
        return "Unhandled Error#" + std::to_string(iCode) + " has occurred";
    }
}

bool ZipResultIsError(int iCode, bool bIncremental) {
    if (iCode == ZE_OK || iCode == ZE_OPEN) return false;
    if (iCode == ZE_NONE) return !bIncremental;
    return true;
}

int ZpInit(const ZipUserFunctions& functions) {
    g_functions.Print = functions.Print ? functions.Print : PrintFunction(DefaultPrint);
    g_functions.Comment = functions.Comment ? functions.Comment : CommentFunction(DefaultComment);
    g_functions.Password = functions.Password ? functions.Password : PasswordFunction(DefaultPassword);
    g_functions.Service = functions.Service ? functions.Service : ServiceFunction(DefaultService);
    g_functions.Poll = functions.Poll;
    return 1;
}

void ZpSetOptions(const ZpOpt& options) { g_options = options; }
ZpOpt ZpGetOptions() { return g_options; }

int ZpArchive(const std::string& sZipFile, const std::vector<std::string>& names) {
    if (sZipFile.empty()) return ZE_NAME;
    if (g_session && g_session->ZipFile == sZipFile) return ArchiveInto(*g_session, names);
    std::unique_ptr<Session> s;
    int code = OpenSession(sZipFile, s);
    if (code != ZE_OK) return code;
    code = ArchiveInto(*s, names);
    if (ZipResultIsError(code, false) && code != ZE_NONE) {
        CloseSession(std::move(s), false);
        return code;
    }
    int closeCode = CloseSession(std::move(s), true);
    return closeCode != ZE_OK ? closeCode : code;
}

int ZpOpenArchive(const std::string& sZipFile) {
    if (g_session) {
        if (g_session->ZipFile == sZipFile) return ZE_OK;
        CloseSession(std::move(g_session), true);
    }
    if (sZipFile.empty()) return ZE_NAME;
    return OpenSession(sZipFile, g_session);
}

int ZpCloseArchive(bool bKeep) { return CloseSession(std::move(g_session), bKeep); }

std::string ZpOpenArchiveName() { return g_session ? g_session->ZipFile : std::string(); }

void ZpVersion(ZpVer& version) {
    std::string v = zip_libzip_version();
    int parts[3] = {0, 0, 0};
    size_t pos = 0;
    for (int i = 0; i < 3 && pos <= v.size(); ++i) {
        size_t dot = v.find('.', pos);
        std::string part = v.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
        parts[i] = std::atoi(part.c_str());
        if (dot == std::string::npos) break;
        pos = dot + 1;
    }
    version.Major = parts[0];
    version.Minor = parts[1];
    version.Patch = parts[2];
    version.Name = ("libzip " + v).substr(0, 20);
    version.Zlib = (std::string("zlib") + ZLIB_VERSION).substr(0, 10);
}

std::string ZipVersionText() {
    ZpVer v;
    ZpVersion(v);
    return " Windll v" + std::to_string(v.Major) + "." + std::to_string(v.Minor) + " Patch " + std::to_string(v.Patch) +
           " " + v.Name + " " + v.Zlib;
}

void SetOpenFunction(OpenFunction fn) { g_open = std::move(fn); }

// ---- the backup run's zip step -----------------------------------------------------

bool BuildNameList(const std::string& sEntry, const std::string& sExcludeSpec, std::vector<std::string>& names) {
    names.clear();
    size_t star = sEntry.find("*.");
    // Split as folder, "-i", pattern only when the pattern is the whole last component
    // ("/data/*.doc"); "/data/report*.doc" split there would name a folder "/data/report",
    // so it is passed whole and matched in its folder.
    const bool bSplit = star != std::string::npos && sEntry.find("*.*") == std::string::npos && star > 0 &&
                        sEntry[star - 1] == '/' && sEntry.find('/', star) == std::string::npos;
    if (!bSplit) {
        names.push_back(sEntry);
    } else {
        names.push_back(sEntry.substr(0, star));
        names.push_back("-i");
        names.push_back("/" + sEntry.substr(star));
    }
    if (!sExcludeSpec.empty()) {
        std::vector<std::string> excludes;
        if (libStrings::GetFileList(sExcludeSpec, excludes)) return false;
        names.push_back("-x");
        for (const std::string& x : excludes)
            if (!x.empty()) names.push_back(x);
    }
    return true;
}

namespace {

// The status line shows each file right before it is compressed; the window stays usable
// here, and the abort command takes effect within that file.
int ServiceCallback(const std::string& sName, int64_t lSize) {
    std::string sText = sName.substr(0, 4097);
    if (lSize > 0) sText += " (" + std::to_string(lSize) + ")";
    RunStatus::SetMessageText(sText);
    UserInteraction::DoEvents();
    UserInteraction::DoEvents();
    if (RunState::AbortRequested()) {
        libLog::LogEvent("Backup terminated by user");
        RunStatus::SetMessageText("Backup aborted!");
        UserInteraction::DoEvents();
        return 1;
    }
    return 0;
}

// While a long file is written: keep the window responsive and honour the abort command
// without waiting for the next file.
int PollCallback() {
    UserInteraction::DoEvents();
    if (!RunState::AbortRequested()) return 0;
    libLog::LogEvent("Backup terminated by user");
    RunStatus::SetMessageText("Backup aborted!");
    UserInteraction::DoEvents();
    return 1;
}

int CommentCallback(std::string& sComment) {
    std::string sText = libLog::PendingComment();
    if (sText.empty()) UserInteraction::Ui().InputBox("Enter a comment", "Stowline", "", sText);
    if (!sText.empty()) sComment = sText.substr(0, 4096);
    return 1;
}

ZipStepResult Report(int iCode, bool bIncremental) {
    ZipStepResult r;
    r.Code = iCode;
    r.IsError = ZipResultIsError(iCode, bIncremental);
    if (iCode != ZE_OK && !(iCode == ZE_NONE && bIncremental)) libLog::LogEvent(ZipResultMessage(iCode));
    return r;
}

} // namespace

ZipStepResult ArchiveEntry(const ZipJobValues& job, const std::string& sZipFile, const std::string& sEntry,
                           int iEntryIndex) {
    std::vector<std::string> names;
    if (!BuildNameList(sEntry, job.ExcludeSpec, names)) {
        libLog::LogEvent("Error loading list of exclude specifications.");
        ZipStepResult r;
        r.Abandon = true;
        r.IsError = true;
        return r;
    }
    ZipUserFunctions fns;
    fns.Print = [](const std::string&) { return 0; };
    fns.Comment = CommentCallback;
    if (!job.Password.empty()) {
        std::string sPassword = job.Password;
        fns.Password = [sPassword](std::string& sOut, int iSize, const std::string&, const std::string&) {
            sOut = sPassword.substr(0, iSize > 0 ? static_cast<size_t>(iSize - 1) : 0);
            return 0;
        };
    }
    fns.Service = ServiceCallback;
    fns.Poll = PollCallback;
    int code;
    if (ZpInit(fns) == 0) {
        code = ZE_INIT;
    } else {
        ZpOpt opt;
        if (job.Incremental) opt.Date = libDates::Format(job.DateLastRun, "mmddyyyy");
        opt.szRootDir = "";
        opt.fEncrypt = !job.Password.empty();
        opt.fSystem = true;
        opt.fIncludeDate = job.Incremental;
        opt.fVerbose = true;
        opt.fRecurse = job.Subdirectories;
        opt.fComment = iEntryIndex == 0 && !libLog::PendingComment().empty();
        opt.fLevel = '9';
        ZpSetOptions(opt);
        code = ZpOpenArchive(sZipFile);
        if (code == ZE_OK) code = ZpArchive(sZipFile, names);
    }
    return Report(code, job.Incremental);
}

ZipStepResult FinishArchive(const ZipJobValues& job, bool bKeep) {
    return Report(ZpCloseArchive(bKeep), job.Incremental);
}

} // namespace libZip
