#pragma once
// What the pieces of the zip engine share: the state of one engine (ZipEngine's, set up in
// libZip.cpp), the selection of files from a name list (ZipSelection.cpp) and the parallel
// deflate of the selected files (ZipDeflate.cpp), used by the archive writer
// (ZipArchive.cpp). Not for other callers.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>
#include <zlib.h>

#include "engine/libZip.h"

namespace libZip::detail {

// Size of the password buffer the engine offers to the password call-back.
constexpr int PasswordBufferSize = 256;

// A password as it fits a buffer of iSize bytes (one is kept for the terminator).
std::string FitPassword(const std::string& sPassword, int iSize);

// ---- selection of files from a name list ------------------------------------------

struct Selected {
    std::string Path;
    std::string Name; // as stored; directories end with "/"
    bool IsDir = false;
    int64_t Size = 0;
    time_t MTime = 0;
    mode_t Mode = 0;
};

// A file or folder the name list selected but that cannot go into the archive, and why.
struct LeftOutFile {
    std::string Path;
    std::string Reason;
};

struct Selection {
    std::vector<Selected> Items;
    bool LeftOut = false; // a file or folder could not be read and was left out
    std::vector<LeftOutFile> LeftOutFiles;
};

// An archive kept open across ZpArchive calls (ZipArchive.cpp).
struct Session;

// The state of one ZipEngine. Used from the thread that calls the engine; the deflate
// workers only read Probe.
struct EngineState {
    explicit EngineState(const FileSystemProbe& probe);
    ~EngineState(); // where Session is complete
    EngineState(const EngineState&) = delete;
    EngineState& operator=(const EngineState&) = delete;

    ZipUserFunctions Functions;
    ZpOpt Options;
    const FileSystemProbe& Probe;
    std::unique_ptr<Session> Open; // the archive kept open by ZpOpenArchive
    // What was left out since the run's zip step last logged it (ArchiveEntry / FinishArchive
    // log and clear it).
    std::vector<LeftOutFile> LeftOut;
    // The errno of the last archive that could not be opened or written.
    int LastSystemError = 0;
};

// Deepest folder level a walk enters below a named folder: no tree can make it run on.
constexpr int MaxWalkDepth = 1024;

// Selects the files and folders the name list names under the options, in archive
// order, trying each file's opening through probe. Returns ZE_PARMS (bad name list or
// date), ZE_NONE (nothing named or nothing selected), ZE_OPEN (nothing selected, something
// left out) or ZE_OK (sel.LeftOut tells whether something was left out; sel.LeftOutFiles
// names them).
int SelectFiles(const std::vector<std::string>& names, const ZpOpt& options, const FileSystemProbe& probe,
                Selection& sel);

// ---- parallel deflate ----------------------------------------------------------------

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
    ~Deflater();

    // Reads the chunk from sPath (opened through probe) and deflates it.
    void Run(const FileSystemProbe& probe, const std::string& sPath, const ChunkJob& job, int iLevel, ChunkResult& r);

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

// The chunks a file of lSize bytes is deflated in (one for an empty file).
std::vector<ChunkJob> ChunksOf(size_t iFile, uint64_t lSize);

// Worker threads that deflate the plan's chunks in order, a bounded distance ahead of
// the one taking the results.
class DeflatePipeline {
public:
    DeflatePipeline(const FileSystemProbe& probe, std::vector<PlanFile> files, std::vector<ChunkJob> jobs,
                    unsigned iWorkers);
    ~DeflatePipeline();
    DeflatePipeline(const DeflatePipeline&) = delete;
    DeflatePipeline& operator=(const DeflatePipeline&) = delete;

    // The plan's next file to be written, whose chunks the workers deflate first.
    bool IsNext(size_t iFile) const { return iFile < m_files.size() && m_files[iFile].FirstJob == m_cursor; }
    const PlanFile& File(size_t iFile) const { return m_files[iFile]; }

    // Waits for job j (the cursor) and hands its result over; the caller owns it then.
    ChunkResult Take(size_t j);

private:
    void Work();
    bool CanStart() const;

    const FileSystemProbe& m_probe;
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

// The number of deflate workers for this machine.
unsigned WorkerCount();

} // namespace libZip::detail
