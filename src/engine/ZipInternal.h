#pragma once
// What the pieces of the zip engine share: the state of one engine (ZipEngine's, set up in
// libZip.cpp), the compact records of the selected entries and their selection from a name
// list (ZipSelection.cpp), the parallel deflate of their data (ZipDeflate.cpp), used by the
// archive session (ZipArchive.cpp), which writes through ZipWriter.h. Not for other callers.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>
#include <zip.h>
#include <zlib.h>

#include "engine/CacheFolders.h"
#include "engine/WorkerThreads.h"
#include "engine/ZipAes.h"
#include "engine/ZipWriter.h"
#include "engine/libZip.h"

namespace libZip::detail {

// Size of the password buffer the engine offers to the password call-back.
constexpr int PasswordBufferSize = 256;

// A password as it fits a buffer of iSize bytes (one is kept for the terminator).
std::string FitPassword(const std::string& sPassword, int iSize);

// ---- selection of files from a name list ------------------------------------------

// One compact record per archive entry, in archive order: its folder is shared with its
// siblings, its leaf name kept in one arena. A million entries cost about 100 bytes each
// here, whatever their path lengths. The writer fills in what the central directory needs.
enum class EntryKind : uint8_t { File, Dir, Link };
enum class EntryState : uint8_t { Queued, Written, Dropped };

struct Entry {
    uint32_t Folder = 0;
    uint32_t Leaf = 0; // offset of the leaf name in the arena; directories have none
    int64_t Size = 0;
    int64_t MTime = 0;
    uint32_t Mode = 0; // st_mode
    EntryKind Kind = EntryKind::File;
    EntryState State = EntryState::Queued;
    uint8_t Level = 9;      // 0: stored
    uint8_t Password = 0;   // 1-based index into the session's passwords; 0: none
    bool Withdrawn = false; // taken back before the archive is written
    bool Aes = false;       // with a password: WinZip AES-256, encrypted by the deflate workers
    // Set when written, by the writer alone: the deflate workers read only the fields above.
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint32_t Crc = 0;
    bool LocalZip64 = false;
    uint64_t DataSize = 0; // as read: a file may have changed since it was selected
    uint64_t CompSize = 0;
    uint64_t Offset = 0;
};

class EntryStore {
public:
    // A folder on disk (final "/") whose stored name is sPath from iStoredFrom on.
    uint32_t AddFolder(std::string sPath, size_t iStoredFrom);
    // Adds the entry (leaf "" for a folder's own entry). False when its name is already there.
    bool Add(Entry e, std::string_view sLeaf);
    bool Contains(std::string_view sName) const;
    size_t Size() const { return m_entries.size(); }
    uint32_t Folders() const { return static_cast<uint32_t>(m_folders.size()); }
    Entry& operator[](size_t i) { return m_entries[i]; }
    const Entry& operator[](size_t i) const { return m_entries[i]; }
    std::string Path(size_t i) const;      // on disk
    std::string Name(size_t i) const;      // as stored
    std::string_view Leaf(size_t i) const; // "" for folders
    std::string_view Stored(uint32_t iFolder) const;

private:
    struct FolderRec {
        std::string Path;
        uint32_t StoredFrom;
        uint64_t Hash; // of the stored name
    };
    uint64_t HashOf(uint32_t iFolder, std::string_view sLeaf) const;
    size_t Find(uint64_t hash, std::string_view sStoredFolder, std::string_view sLeaf) const;
    void Grow();

    std::deque<FolderRec> m_folders;
    std::string m_leaves;
    std::deque<Entry> m_entries;
    std::vector<uint64_t> m_slots; // (hash high 32 bits << 32) | (entry + 1); 0 = free
};

// A file or folder the name list selected but that cannot go into the archive, and why.
struct LeftOutFile {
    std::string Path;
    std::string Reason;
    size_t Order = 0; // the store's size when it was met: left-out files are named in walk order
};

struct Selection {
    explicit Selection(EntryStore& store) : Store(store) {}
    EntryStore& Store;
    size_t Count = 0;     // entries selected (names already in the archive included)
    bool LeftOut = false; // a file or folder could not be read and was left out
    std::vector<LeftOutFile> LeftOutFiles;
    std::vector<LeftOutFile> Skipped;                       // not archivable by kind: named, no error
    std::vector<std::pair<std::string, std::string>> Links; // stored links and their targets
};

// What a walk found, in walk order. The walk itself touches no store: ApplyWalk takes its
// findings into a Selection on the thread that owns the store, so that the walk may run on a
// thread of its own while that thread writes (SelectionWalk).
struct WalkEvent {
    enum class Kind : uint8_t { Folder, Entry, LeftOut, Skipped, Link, Cache };
    Kind What = Kind::Entry;
    Entry Item;            // Entry: its record, Item.Folder counted from the walk's first folder
    std::string Text;      // Folder: its path with a final "/"; Entry: its leaf name; else a path
    std::string Other;     // LeftOut, Skipped: why; Link: the target
    size_t StoredFrom = 0; // Folder: where its stored name begins in Text
    CacheFolders::Reason Cache = CacheFolders::Reason::None;
    dev_t Device = 0; // Cache: the folder left out, named once however often it is met
    ino_t Inode = 0;
};

// Where a walk hands its findings, a batch at a time (a folder's, at most WalkBatch events).
class WalkSink {
public:
    virtual ~WalkSink() = default;
    virtual void Take(std::vector<WalkEvent>& batch) = 0; // leaves batch empty
};
constexpr size_t WalkBatch = 256;

// Takes a walk's findings into sel, whose store had iFolderBase folders when the walk began.
void ApplyWalk(std::vector<WalkEvent>& batch, uint32_t iFolderBase, const ZpOpt& options, Selection& sel);

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
    std::vector<LeftOutFile> Skipped;
    std::vector<std::pair<std::string, std::string>> Links;
    // The errno of the last archive that could not be opened or written.
    int LastSystemError = 0;
};

// The entries of the archive pOld added to that no new entry (in store) replaced, written again
// after the new ones: their data deflated as it was, traditionally encrypted ones with
// sPassword (the archive's), AES ones as they are (their salts, keys and codes their own). An
// archive whose headers do not check out is not carried on: its entries would get fresh
// checksums and read as sound. ZE_WRITE when w failed (its Error() says why).
int CopyOldEntries(zip_t* pOld, const EntryStore& store, const std::string& sPassword, ZipWriter& w,
                   std::vector<std::pair<std::string, ZipEntryRecord>>& old);

// Deepest folder level a walk enters below a named folder: no tree can make it run on.
constexpr int MaxWalkDepth = 1024;

// Walks the files and folders the name list names under the options, in archive order, into
// sink, trying the opening of each of the first iCheckFiles files through probe (later ones are
// left to whoever reads them). Stops early when stop is asked. Returns ZE_PARMS (bad name list
// or date), ZE_NONE (nothing named) or ZE_OK (walked); SelectionResult tells the rest.
int WalkFiles(const std::vector<std::string>& names, const ZpOpt& options, const FileSystemProbe& probe, WalkSink& sink,
              size_t iCheckFiles, std::stop_token stop = {});

// What a walk that returned iWalked selected: ZE_NONE (nothing), ZE_OPEN (nothing, something
// left out) or ZE_OK (sel.LeftOut tells whether something was left out).
int SelectionResult(int iWalked, const Selection& sel);

// Selects the files and folders the name list names under the options into sel.Store, in
// archive order, trying each file's opening through probe, on the calling thread. Returns
// ZE_PARMS (bad name list or date), ZE_NONE (nothing named or nothing selected), ZE_OPEN
// (nothing selected, something left out) or ZE_OK (sel.LeftOut tells whether something was
// left out; sel.LeftOutFiles names them).
int SelectFiles(const std::vector<std::string>& names, const ZpOpt& options, const FileSystemProbe& probe,
                Selection& sel);

// A walk on a thread of its own, ahead of the thread that owns the store and writes: that
// thread takes its findings as they come. At most MaxQueued events wait; when no thread can
// be started, the walk runs whole on the first Take.
class SelectionWalk {
public:
    SelectionWalk(const std::vector<std::string>& names, const ZpOpt& options, const FileSystemProbe& probe,
                  size_t iCheckFiles);
    SelectionWalk(const SelectionWalk&) = delete;
    SelectionWalk& operator=(const SelectionWalk&) = delete;

    // Takes what the walk found since into sel (its store had iFolderBase folders when the walk
    // began). bWait: waits for something new or the end. True once the walk has ended and
    // everything it found is taken. Rethrows what the walk ended with (std::bad_alloc).
    bool Take(Selection& sel, uint32_t iFolderBase, bool bWait);
    // Whether Take would find something new.
    bool HasNews();
    // WalkFiles's answer, once Take said the walk has ended.
    int Walked() const { return m_iWalked; }

private:
    class Sink; // hands the walk's batches over, waiting while MaxQueued events wait
    void Run(std::stop_token stop);

    const std::vector<std::string>& m_names;
    const ZpOpt& m_options;
    const FileSystemProbe& m_probe;
    const size_t m_iCheckFiles;
    std::mutex m_mutex;
    std::condition_variable_any m_newsCv, m_roomCv;
    std::deque<std::vector<WalkEvent>> m_batches;
    size_t m_iQueued = 0; // events in m_batches
    bool m_bEnded = false;
    int m_iWalked = ZE_OK;
    bool m_bInline = false;
    WorkerThreads m_thread; // last: stopped and joined first
};

// ---- parallel deflate ----------------------------------------------------------------

struct ChunkJob {
    size_t Entry = 0;
    uint64_t Offset = 0;
    uint64_t Length = 0;
    bool Last = false;
};

struct ChunkResult {
    std::string Out;
    uint32_t Crc = 0;
    uint64_t InLength = 0;
    int Errno = 0;       // the file could not be opened or read
    bool Stored = false; // a whole file that deflate could not shrink: Out holds it as it is
    bool Done = false;
    // An AES entry: a whole one's Out is encrypted, salt to code. The first piece of a long one
    // is encrypted after its salt and verifier, and hands on the encryptor for the rest.
    std::unique_ptr<AesEncryptor> Aes;
    bool CipherFailed = false; // libcrypto failed: nothing of the entry may be written
};

// A source file a worker opened ahead of reading it (Fd), or the errno its opening failed with;
// neither: the file is opened when it is read.
struct OpenedSource {
    int Fd = -1;
    int Errno = 0;
};

// One thread's compressor (libdeflate) and the zlib inflate stream that joins the pieces of
// long files, both kept for the thread's whole life.
class Deflater {
public:
    Deflater() = default;
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    ~Deflater();

    // Reads the chunk of the entry (a file opened through probe, or already opened as src,
    // which it closes; or a link's target) and deflates it at iLevel (0: as it is); with an AES
    // password, encrypts what it can (a whole entry, or the first piece of a long one).
    void Run(const FileSystemProbe& probe, const std::string& sPath, EntryKind kind, const ChunkJob& job, int iLevel,
             std::string_view sAesPassword, ChunkResult& r, OpenedSource src = {});

private:
    void Deflate(const FileSystemProbe& probe, const std::string& sPath, EntryKind kind, const ChunkJob& job,
                 int iLevel, ChunkResult& r, OpenedSource src);

    // Makes the complete deflate stream out[0, produced) continuable by the next chunk.
    bool Continue(std::string& out, size_t& produced);
    // Whether samples of data say that deflate cannot shrink it (long data only).
    bool Incompressible(const unsigned char* data, uint64_t len);

    z_stream m_inflate{};
    bool m_inflateInit = false;
    struct libdeflate_compressor* m_whole = nullptr;
    int m_wholeLevel = -1;
    std::vector<unsigned char> m_in;
    std::vector<char> m_out;
    std::vector<unsigned char> m_scratch;
    struct libdeflate_compressor* m_sampler = nullptr; // the fastest level, for samples
    std::vector<unsigned char> m_sample;
};

// Whether an entry's data goes through the pipeline (files with bytes, links, and every AES
// file: even an empty one has its salt and code, made by a worker).
inline bool HasData(const Entry& e) {
    return !e.Withdrawn && (e.Kind == EntryKind::Link || (e.Kind == EntryKind::File && (e.Size > 0 || e.Aes)));
}

// Worker threads that deflate the data of the store's entries in archive order, a bounded
// distance ahead of the one taking the results. Only the calling thread touches the store
// (it may add entries while the workers run): it makes the chunks as the window has room
// for them, each carrying what its worker needs, so nothing grows with the number of entries.
// When no worker could be started, Take deflates each chunk on the calling thread.
class DeflatePipeline {
public:
    // passwords: the session's (Entry::Password - 1), read on the calling thread only.
    DeflatePipeline(const FileSystemProbe& probe, const EntryStore& store, const std::vector<std::string>& passwords,
                    unsigned iWorkers);
    DeflatePipeline(const DeflatePipeline&) = delete;
    DeflatePipeline& operator=(const DeflatePipeline&) = delete;

    // Entries below iEnd may be deflated.
    void Publish(size_t iEnd);
    // Whether Take would not wait for a worker: the next chunk in order is done, or no worker
    // runs, or one failed.
    bool Ready();
    // Waits for the next chunk in order and hands it over with its job. Rethrows what a worker
    // ended with (std::bad_alloc, ...): the pipeline has stopped then.
    ChunkResult Take(ChunkJob& job);

private:
    struct Slot {
        ChunkJob Job;
        std::string Path;
        EntryKind Kind = EntryKind::File;
        int Level = 9;
        std::string AesPassword; // the first chunk of an AES entry derives its keys from it
        ChunkResult Result;
    };
    void Work(const std::stop_token& stop);
    bool MakeJob(); // appends the next chunk to the window; false when there is none
    void Fill();    // on the calling thread, under the lock

    const FileSystemProbe& m_probe;
    const EntryStore& m_store;
    const std::vector<std::string>& m_passwords;
    std::deque<Slot> m_window; // from the cursor on
    size_t m_base = 0;         // sequence number of m_window.front()
    size_t m_next = 0;         // sequence number of the next chunk to start
    size_t m_genEntry = 0;     // where the making of chunks stands
    uint64_t m_genOffset = 0;
    size_t m_published = 0;
    uint64_t m_windowBytes = 0;       // source bytes of the chunks in the window
    Deflater m_inline;                // the calling thread's, when no worker runs
    std::atomic<int> m_aheadOpen = 0; // descriptors the workers opened ahead of reading
    int m_aheadLimit = 240;           // and how many they may hold
    std::mutex m_mutex;
    std::condition_variable_any m_workCv, m_doneCv;
    WorkerThreads m_workers; // last: stopped and joined first
};

// The number of deflate workers for this machine.
unsigned WorkerCount();

} // namespace libZip::detail
