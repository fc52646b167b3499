// The archive session: the files queued in an archive kept open across a run's entries,
// the libzip source that hands them over deflated, and the writing of the archive.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <unordered_set>
#include <zip.h>

#include "engine/ZipInternal.h"

namespace libZip {

using namespace detail;

namespace {

// ---- the queued files of an open archive ------------------------------------------

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

} // namespace

struct detail::Session {
    EngineState* Engine = nullptr; // the engine whose archive this is
    zip_t* Archive = nullptr;
    std::string ZipFile;
    std::unordered_set<std::string> Names;
    std::vector<std::unique_ptr<QueuedFile>> Files; // in archive order
    bool Stopped = false;                           // the service call-back answered stop
    bool LeftOut = false;                           // a source file could not be read and was left out
    std::vector<std::string> Unreadable;            // names found unreadable while writing, not yet removed
    std::vector<LeftOutFile> UnreadableWhy;         // their paths, and why
    std::unique_ptr<DeflatePipeline> Pipeline;
    Deflater InlineDeflater;
    uint64_t BytesSincePoll = 0; // source bytes written since the poll call-back last ran
    ~Session() {
        Pipeline.reset();
        for (auto& f : Files)
            zip_error_fini(&f->Error);
    }
};

namespace {

// Ends the archive within this file: the call-back answered stop.
void Stop(QueuedFile* f) {
    f->Owner->Stopped = true;
    zip_error_set(&f->Error, ZIP_ER_CANCELLED, 0);
}

void CloseSourceFile(QueuedFile* f) {
    if (f->Fd >= 0) ::close(f->Fd);
    f->Fd = -1;
}

void MarkUnreadable(QueuedFile* f, int iZipError, int iErrno) {
    zip_error_set(&f->Error, iZipError, iErrno);
    f->Owner->Unreadable.push_back(f->Name);
    f->Owner->UnreadableWhy.push_back(LeftOutFile{f->Path, std::strerror(iErrno)});
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
    Stop(f);
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
        s.InlineDeflater.Run(s.Engine->Probe, f->Path, f->Chunks[f->NextChunk], f->Level, f->Current);
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
            Stop(f);
            return -1;
        }
        if (!f->Announced) {
            // Once per file, right before it is written, even if a failed write is retried.
            f->Announced = true;
            if (f->Verbose) f->Functions->Print("  adding: " + f->Name);
            if (f->Functions->Service(f->Path, f->Size) != 0) {
                Stop(f);
                return -1;
            }
        }
        f->Position = 0;
        f->Complete = false;
        if (f->Level == 0) {
            CloseSourceFile(f);
            f->Fd = f->Owner->Engine->Probe.OpenSource(f->Path);
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
        CloseSourceFile(f);
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
        CloseSourceFile(f);
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
        s.Pipeline =
            std::make_unique<DeflatePipeline>(s.Engine->Probe, std::move(files), std::move(jobs), WorkerCount());
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

// ---- queueing and writing ------------------------------------------------------------

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
    f->Verbose = s.Engine->Options.fVerbose && !s.Engine->Options.fQuiet;
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
    auto fns = std::make_shared<const ZipUserFunctions>(s.Engine->Functions);
    std::vector<zip_uint64_t> added;
    auto rollback = [&] {
        for (zip_uint64_t i : added)
            zip_delete(s.Archive, i);
    };
    const int iLevel = std::clamp(s.Engine->Options.fLevel - '0', 0, 9);
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

// The errno behind libzip's error, when the system gave one.
int SystemError(zip_error_t* pError) {
    return zip_error_system_type(pError) == ZIP_ET_SYS ? zip_error_code_system(pError) : 0;
}

int OpenSession(EngineState& engine, const std::string& sZipFile, std::unique_ptr<Session>& out) {
    int err = 0;
    errno = 0;
    zip_t* za = zip_open(sZipFile.c_str(), ZIP_CREATE, &err);
    if (!za) {
        engine.LastSystemError = errno;
        return ResultFromZipError(err);
    }
    out = std::make_unique<Session>();
    out->Engine = &engine;
    out->Archive = za;
    out->ZipFile = sZipFile;
    return ZE_OK;
}

void Discard(Session& s) {
    zip_discard(s.Archive);
    s.Archive = nullptr;
}

// Writes (or drops) the session's archive. Compression happens here.
int CloseSession(std::unique_ptr<Session> s, bool bKeep) {
    if (!s) return ZE_OK;
    if (!bKeep) {
        Discard(*s);
        return ZE_OK;
    }
    for (;;) {
        s->Unreadable.clear();
        s->UnreadableWhy.clear();
        StartPipeline(*s);
        if (zip_close(s->Archive) == 0) {
            s->Archive = nullptr;
            return s->LeftOut ? ZE_OPEN : ZE_OK;
        }
        s->Pipeline.reset();
        int code = ResultFromZipError(zip_error_code_zip(zip_get_error(s->Archive)));
        s->Engine->LastSystemError = SystemError(zip_get_error(s->Archive));
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
                s->Engine->LeftOut.insert(s->Engine->LeftOut.end(), s->UnreadableWhy.begin(), s->UnreadableWhy.end());
                continue;
            }
        }
        Discard(*s);
        return code == ZE_OK ? ZE_LOGIC : code;
    }
}

int ArchiveInto(Session& s, const std::vector<std::string>& names) {
    EngineState& engine = *s.Engine;
    Selection sel;
    const int iSelected = SelectFiles(names, engine.Options, engine.Probe, sel);
    engine.LeftOut.insert(engine.LeftOut.end(), sel.LeftOutFiles.begin(), sel.LeftOutFiles.end());
    if (iSelected != ZE_OK) return iSelected;

    std::string sPassword;
    if (engine.Options.fEncrypt) {
        std::string sAnswer;
        if (engine.Functions.Password(sAnswer, PasswordBufferSize, "Enter password: ", s.ZipFile) != 0 ||
            sAnswer.empty())
            return ZE_PARMS; // asked to encrypt without a password: never store in the clear
        sPassword = FitPassword(sAnswer, PasswordBufferSize);
    }
    if (engine.Options.fComment) {
        std::string sComment;
        engine.Functions.Comment(sComment);
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

EngineState::EngineState(const FileSystemProbe& probe) : Probe(probe) {}

EngineState::~EngineState() {
    // An archive still open when its engine goes is dropped, never half written.
    if (Open) CloseSession(std::move(Open), false);
}

int ZipEngine::ZpArchive(const std::string& sZipFile, const std::vector<std::string>& names) {
    EngineState& engine = *m_state;
    if (sZipFile.empty()) return ZE_NAME;
    if (engine.Open && engine.Open->ZipFile == sZipFile) return ArchiveInto(*engine.Open, names);
    std::unique_ptr<Session> s;
    int code = OpenSession(engine, sZipFile, s);
    if (code != ZE_OK) return code;
    code = ArchiveInto(*s, names);
    if (ZipResultIsError(code, false) && code != ZE_NONE) {
        CloseSession(std::move(s), false);
        return code;
    }
    int closeCode = CloseSession(std::move(s), true);
    return closeCode != ZE_OK ? closeCode : code;
}

int ZipEngine::ZpOpenArchive(const std::string& sZipFile) {
    EngineState& engine = *m_state;
    engine.LastSystemError = 0;
    if (engine.Open) {
        if (engine.Open->ZipFile == sZipFile) return ZE_OK;
        CloseSession(std::move(engine.Open), true);
    }
    if (sZipFile.empty()) return ZE_NAME;
    return OpenSession(engine, sZipFile, engine.Open);
}

int ZipEngine::ZpCloseArchive(bool bKeep) {
    m_state->LastSystemError = 0;
    return CloseSession(std::move(m_state->Open), bKeep);
}

int ZipEngine::ZpLastSystemError() const { return m_state->LastSystemError; }

std::string ZipEngine::ZpOpenArchiveName() const { return m_state->Open ? m_state->Open->ZipFile : std::string(); }

} // namespace libZip
