// The archive session: the entries selected into an archive kept open across a run's
// entries, kept as compact records, and the writing of the archive, during a long selection
// and when it is closed: the deflate workers run ahead of the writer, which streams each
// entry to the file as its data comes (ZipWriter) and writes the central directory from the
// records at the end. Adding to an archive that exists reads it with libzip and writes its
// entries again after the new ones (ZipCopyOld.cpp).

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include "engine/ArchiveSource.h"
#include "engine/RunProgress.h"
#include "engine/ZipInternal.h"
#include "engine/ZipWriter.h"

namespace libZip {

using namespace detail;

namespace {
class SessionWriter;
}

struct detail::Session {
    EngineState* Engine = nullptr; // the engine whose archive this is
    std::string ZipFile;
    EntryStore Store;
    zip_t* Old = nullptr;               // the archive that existed, when added to
    std::vector<std::string> Passwords; // Entry::Password - 1
    std::string Comment;
    // Writes the archive; made by the first call whose selection is long enough to be
    // written while it goes on, else when the archive is closed.
    std::unique_ptr<SessionWriter> Writer;
    int Failed = ZE_OK; // the writing failed or was stopped: the archive is discarded
    ~Session();
};

namespace {

// Source bytes between two calls of the poll call-back while files are written.
constexpr uint64_t PollBytes = 4u << 20;

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

// ---- writing -----------------------------------------------------------------------

ZipEntryRecord RecordOf(const Entry& e, std::string_view sName) {
    ZipEntryRecord rec;
    rec.Name = sName;
    rec.MTime = e.MTime;
    rec.Mode = e.Mode;
    rec.Flags = e.Flags;
    rec.Method = e.Method;
    rec.Crc = e.Crc;
    rec.Size = e.State == EntryState::Written ? e.DataSize : static_cast<uint64_t>(e.Size);
    rec.CompSize = e.CompSize;
    rec.Offset = e.Offset;
    rec.LocalZip64 = e.LocalZip64;
    rec.AesStrength = e.Aes && e.Password != 0 ? AesStrength256 : 0;
    rec.AesVendor = AesVendorVersion;
    return rec;
}

void Written(Entry& e, const ZipEntryRecord& rec) {
    e.State = EntryState::Written;
    e.Flags = rec.Flags;
    e.Method = rec.Method;
    e.Crc = rec.Crc;
    e.DataSize = rec.Size;
    e.CompSize = rec.CompSize;
    e.Offset = rec.Offset;
    e.LocalZip64 = rec.LocalZip64;
}

// Writes the entries of one session in order, as their data comes from the deflate
// workers: during a long selection already, else when the archive is closed. Every
// call-back runs here, on the calling thread.
class SessionWriter {
public:
    explicit SessionWriter(Session& s) : m_s(s), m_engine(*s.Engine), m_fns(s.Engine->Functions) {}

    bool Started() const { return m_pipe != nullptr; }

    // Creates the archive's temporary file and starts the deflate workers.
    int Start() {
        if (m_pipe) return ZE_OK;
        if (m_w.Create(m_s.ZipFile) != 0) {
            m_engine.LastSystemError = m_w.Error();
            return ZE_CREAT;
        }
        m_pipe = std::make_unique<DeflatePipeline>(m_engine.Probe, m_s.Store, m_s.Passwords, WorkerCount());
        return ZE_OK;
    }

    // Whether entries before iEnd are still to be written.
    bool Pending(size_t iEnd) const { return m_cursor < iEnd; }

    // Writes the entries before iEnd that are not written yet, at most iMost of them. !bWait:
    // stops at the first one whose data is not deflated yet (a long file is still finished once
    // begun). A deflate worker (or this thread) out of memory fails the archive, which is then
    // discarded.
    int Write(size_t iEnd, bool bWait, size_t iMost = SIZE_MAX) try {
        EntryStore& store = m_s.Store;
        m_pipe->Publish(iEnd);
        const bool bVerbose = m_engine.Options.fVerbose && !m_engine.Options.fQuiet;
        const size_t iStop = m_cursor + std::min(iMost, iEnd - std::min(iEnd, m_cursor));
        for (; m_cursor < iStop; ++m_cursor) {
            const size_t i = m_cursor;
            Entry& e = store[i];
            if (e.State != EntryState::Queued) continue;
            const std::string sName = store.Name(i);
            if (e.Kind == EntryKind::Dir) {
                ZipEntryRecord rec = RecordOf(e, sName);
                if (!m_w.Begin(rec, true, "") || !m_w.End(rec, 0, 0, 0)) return WriteFailed();
                Written(e, rec);
                ++m_count;
                continue;
            }
            if (!bWait && HasData(e) && !m_pipe->Ready()) return ZE_OK;
            const std::string sPath = store.Path(i);
            if (bVerbose) m_fns.Print("  adding: " + sName);
            if (m_fns.Service(sPath, e.Size) != 0) return ZE_ABORT;
            const int code = WriteFile(i, e, sName, sPath);
            if (code != ZE_OK) return code;
            if (e.State == EntryState::Written) ++m_count;
        }
        return ZE_OK;
    } catch (const std::bad_alloc&) {
        return ZE_MEM;
    }

    // The files left out while written, from entry iFrom on (all when 0); the rest stay.
    std::vector<LeftOutFile> TakeLeftOut(size_t iFrom) {
        std::vector<LeftOutFile> out;
        auto it = std::stable_partition(m_leftOut.begin(), m_leftOut.end(),
                                        [&](const LeftOutFile& f) { return f.Order < iFrom; });
        out.assign(std::make_move_iterator(it), std::make_move_iterator(m_leftOut.end()));
        m_leftOut.erase(it, m_leftOut.end());
        return out;
    }

    // Writes what is left, the entries of the archive added to and the central directory.
    int Finish() {
        EntryStore& store = m_s.Store;
        if (store.Size() == 0 && !m_s.Old) return ZE_OK;
        int code = Start();
        if (code == ZE_OK) code = Write(store.Size(), true);
        if (code != ZE_OK) return code;
        m_pipe.reset();
        // Read failures met now are this call's to name.
        std::vector<LeftOutFile> late = TakeLeftOut(0);
        const bool bLeftOut = !late.empty();
        m_engine.LeftOut.insert(m_engine.LeftOut.end(), late.begin(), late.end());
        std::vector<std::pair<std::string, ZipEntryRecord>> old;
        if (m_s.Old) {
            code = CopyOldEntries(m_s.Old, m_s.Store, m_s.Passwords.empty() ? "" : m_s.Passwords.back(), m_w, old);
            if (code == ZE_WRITE) return WriteFailed();
            if (code != ZE_OK) return code;
            m_count += old.size();
        }
        if (m_count == 0) {
            // Nothing to hold: no archive, as when nothing was selected.
            m_w.Discard();
            return bLeftOut ? ZE_OPEN : ZE_OK;
        }
        uint64_t lTotal = old.size();
        for (size_t i = 0; i < store.Size(); ++i)
            lTotal += store[i].State == EntryState::Written ? 1 : 0;
        for (size_t i = 0; i < store.Size(); ++i) {
            if (store[i].State != EntryState::Written) continue;
            const std::string sName = store.Name(i);
            if (!m_w.Central(RecordOf(store[i], sName), lTotal)) return WriteFailed();
        }
        for (auto& [sName, rec] : old) {
            rec.Name = sName;
            if (!m_w.Central(rec, lTotal)) return WriteFailed();
        }
        if (!m_w.Finish(m_s.Comment)) return WriteFailed();
        return bLeftOut ? ZE_OPEN : ZE_OK;
    }

private:
    int WriteFailed() {
        m_engine.LastSystemError = m_w.Error();
        return ZE_WRITE;
    }

    // The password the writer encrypts with: traditional entries only (AES data comes encrypted).
    std::string_view PasswordOf(const Entry& e) const {
        return e.Password == 0 || e.Aes ? std::string_view() : std::string_view(m_s.Passwords[e.Password - 1]);
    }

    // Counts written source bytes and runs the poll call-back every PollBytes.
    bool Polled(uint64_t lBytes) {
        m_sincePoll += lBytes;
        if (m_sincePoll < PollBytes || !m_fns.Poll) return true;
        m_sincePoll = 0;
        return m_fns.Poll() == 0;
    }

    void LeaveOut(size_t i, Entry& e, const std::string& sPath, int iErrno) {
        e.State = EntryState::Dropped;
        m_leftOut.push_back(LeftOutFile{sPath, std::strerror(iErrno), i});
    }

    // Takes the chunks of entry i that are still to come, after a failure.
    void Drain(size_t i, ChunkJob job) {
        while (!job.Last && job.Entry == i)
            m_pipe->Take(job);
    }

    int WriteFile(size_t i, Entry& e, const std::string& sName, const std::string& sPath) {
        ZipEntryRecord rec = RecordOf(e, sName);
        const std::string_view sPassword = PasswordOf(e);
        if (!HasData(e)) {
            rec.Method = 0;
            rec.Size = rec.CompSize = 0;
            rec.Crc = 0;
            if (!m_w.Begin(rec, true, sPassword) || !m_w.End(rec, 0, 0, 0)) return WriteFailed();
            Written(e, rec);
            return ZE_OK;
        }
        ChunkJob job;
        ChunkResult r = m_pipe->Take(job);
        if (job.Entry != i) return ZE_LOGIC;
        if (r.Errno != 0) {
            Drain(i, job);
            LeaveOut(i, e, sPath, r.Errno);
            return ZE_OK;
        }
        if (r.CipherFailed) return ZE_LOGIC; // never written unencrypted
        if (job.Last) {
            // The whole data is at hand: CRC and sizes go into the local header.
            rec.Method = r.Stored ? 0 : 8;
            rec.Flags = rec.Method == 8 && e.Level >= 8 ? 2 : 0; // maximum compression
            rec.Crc = r.Crc;
            rec.Size = r.InLength;
            rec.CompSize = r.Out.size();
            if (!m_w.Begin(rec, true, sPassword) || !m_w.Data(r.Out.data(), r.Out.size()) ||
                !m_w.End(rec, r.Crc, r.InLength, r.Out.size()))
                return WriteFailed();
            Written(e, rec);
            return Polled(r.InLength) ? ZE_OK : ZE_ABORT;
        }
        // A long file, in pieces: the sizes and CRC follow the data.
        rec.Method = e.Level == 0 ? 0 : 8;
        rec.Flags = rec.Method == 8 && e.Level >= 8 ? 2 : 0;
        if (!m_w.Begin(rec, false, sPassword)) return WriteFailed();
        std::unique_ptr<AesEncryptor> aes = std::move(r.Aes); // the pieces after the first: encrypted here, in order
        if (e.Aes && !aes) return ZE_LOGIC;
        uLong crc = r.Crc;
        uint64_t lIn = r.InLength, lOut = r.Out.size();
        for (;;) {
            if (!m_w.Data(r.Out.data(), r.Out.size())) return WriteFailed();
            if (!Polled(r.InLength)) return ZE_ABORT;
            if (job.Last) break;
            r = m_pipe->Take(job);
            if (job.Entry != i) return ZE_LOGIC;
            if (r.Errno != 0) {
                Drain(i, job);
                if (!m_w.Rewind(rec)) return WriteFailed();
                LeaveOut(i, e, sPath, r.Errno);
                return ZE_OK;
            }
            if (aes && (!aes->Encrypt(r.Out.data(), r.Out.size()) || (job.Last && !aes->Finish(r.Out))))
                return ZE_LOGIC;
            crc = crc32_combine(crc, r.Crc, static_cast<z_off_t>(r.InLength));
            lIn += r.InLength;
            lOut += r.Out.size();
        }
        if (!m_w.End(rec, static_cast<uint32_t>(crc), lIn, lOut)) return WriteFailed();
        Written(e, rec);
        return ZE_OK;
    }

    Session& m_s;
    EngineState& m_engine;
    const ZipUserFunctions& m_fns;
    ZipWriter m_w;
    std::unique_ptr<DeflatePipeline> m_pipe;
    size_t m_cursor = 0;                // the next entry to write
    uint64_t m_count = 0;               // entries written
    std::vector<LeftOutFile> m_leftOut; // files that failed while written, not named yet
    uint64_t m_sincePoll = 0;
};

int OpenSession(EngineState& engine, const std::string& sZipFile, std::unique_ptr<Session>& out) {
    auto s = std::make_unique<Session>();
    s->Engine = &engine;
    s->ZipFile = sZipFile;
    struct stat st {};
    if (::stat(sZipFile.c_str(), &st) == 0 && st.st_size > 0) {
        // An archive that exists is added to; something else under its name is left alone.
        int err = 0;
        errno = 0;
        s->Old = ArchiveSource::Open(sZipFile, 0, err);
        if (!s->Old) {
            engine.LastSystemError = errno;
            return ResultFromZipError(err);
        }
    }
    out = std::move(s);
    return ZE_OK;
}

// Writes (or drops) the session's archive. What was not written yet is compressed here.
int CloseSession(std::unique_ptr<Session> s, bool bKeep) {
    if (!s || !bKeep) return ZE_OK;
    if (s->Failed != ZE_OK) return s->Failed;
    if (!s->Writer) s->Writer = std::make_unique<SessionWriter>(*s);
    return s->Writer->Finish();
}

// A call that selects this many entries starts writing them while its walk goes on, so that
// the walk, the deflate and the writing overlap. Shorter ones are written when the archive is
// closed: their files are read then, as late as can be.
constexpr size_t StreamAfter = 256;
// Entries written between two looks at what the walk found.
constexpr size_t WriteStep = 64;

// Files and links are encrypted, with AES-256 when the options ask for it; folders never.
// With AES a link's target is stored as it is, like the entries' names: readers such as
// bsdtar refuse an AES link entry and would fail the whole archive.
void SetPassword(const EngineState& engine, Entry& e, uint8_t iPassword) {
    if (e.Kind == EntryKind::Dir || (e.Kind == EntryKind::Link && engine.Options.fAes)) return;
    e.Password = iPassword;
    e.Aes = iPassword != 0 && engine.Options.fAes;
}

// What the entries of one ZpArchive call need before they can be written: the password
// (asked only once something is selected) and the archive comment.
int PrepareEntries(Session& s, size_t iFirst, uint8_t& iPassword) {
    EngineState& engine = *s.Engine;
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
        if (!sComment.empty()) s.Comment = sComment.substr(0, 0xFFFF);
    }
    iPassword = 0;
    if (!sPassword.empty()) {
        auto it = std::find(s.Passwords.begin(), s.Passwords.end(), sPassword);
        if (it == s.Passwords.end()) it = s.Passwords.insert(it, sPassword);
        if (s.Passwords.size() > 255) return ZE_PARMS;
        iPassword = static_cast<uint8_t>(it - s.Passwords.begin() + 1);
    }
    for (size_t i = iFirst; i < s.Store.Size(); ++i)
        SetPassword(engine, s.Store[i], iPassword);
    return ZE_OK;
}

// What a walk selected from entry iFirst on, for the run's progress: files and links as the
// writer tells them done (a link by its target's length).
void CountSelected(const EntryStore& store, size_t iFirst) {
    int64_t lFiles = 0, lBytes = 0;
    for (size_t i = iFirst; i < store.Size(); ++i) {
        if (store[i].Kind == EntryKind::Dir) continue;
        ++lFiles;
        lBytes += store[i].Size;
    }
    RunProgress::NoteCountPart(lFiles, lBytes);
}

// Where one ZpArchive call stands.
struct Step {
    explicit Step(EntryStore& store) : Sel(store), First(store.Size()) {}
    Selection Sel;
    const size_t First;     // its first entry in the store
    bool Streaming = false; // its entries are written while it walks
    bool Prepared = false;  // its password and comment were asked for
    int PrepareCode = ZE_OK;
    uint8_t Password = 0;
};

// Selects into the session's store while the walk runs on a thread of its own; past StreamAfter
// entries, writes them as the deflate workers finish them. Returns what the walk selected.
int SelectAndWrite(Session& s, const std::vector<std::string>& names, Step& step) try {
    EngineState& engine = *s.Engine;
    const uint32_t iFolderBase = s.Store.Folders();
    size_t iPassworded = step.First; // entries before this have their password
    SelectionWalk walk(names, engine.Options, engine.Probe, StreamAfter);
    for (bool bEnded = false; !bEnded;) {
        // The walk is waited for only when nothing can be written meanwhile.
        bEnded = walk.Take(step.Sel, iFolderBase, !step.Streaming || !s.Writer->Pending(s.Store.Size()));
        const size_t iEnd = s.Store.Size();
        if (bEnded && engine.Options.fCountTotal) CountSelected(s.Store, step.First);
        if (!step.Streaming) {
            if (step.Prepared || iEnd - step.First < StreamAfter) continue;
            step.Prepared = true;
            step.PrepareCode = PrepareEntries(s, step.First, step.Password);
            if (step.PrepareCode != ZE_OK) continue; // selected to the end, then dropped
            if (!s.Writer) s.Writer = std::make_unique<SessionWriter>(s);
            s.Failed = s.Writer->Start();
            if (s.Failed != ZE_OK) return ZE_OK; // the walk is stopped as it goes
            step.Streaming = true;
            iPassworded = iEnd;
        }
        for (; iPassworded < iEnd; ++iPassworded)
            SetPassword(engine, s.Store[iPassworded], step.Password);
        // Waits for the workers only when the walk has found nothing new to hand them.
        s.Failed = s.Writer->Write(iEnd, !walk.HasNews(), WriteStep);
        if (s.Failed != ZE_OK) return ZE_OK;
    }
    if (step.Streaming) s.Failed = s.Writer->Write(s.Store.Size(), true);
    return SelectionResult(walk.Walked(), step.Sel);
} catch (const std::bad_alloc&) {
    // The walk (or this thread taking its findings) ran out of memory: the archive is discarded,
    // like a deflate worker's.
    s.Failed = ZE_MEM;
    return ZE_OK;
}

int ArchiveInto(Session& s, const std::vector<std::string>& names) {
    EngineState& engine = *s.Engine;
    if (s.Failed != ZE_OK) return s.Failed;
    Step step(s.Store);
    const int iSelected = SelectAndWrite(s, names, step);
    Selection& sel = step.Sel;
    const size_t iFirst = step.First;
    if (step.Streaming && s.Failed == ZE_OK) {
        // Named in walk order, with those the selection left out.
        std::vector<LeftOutFile> late = s.Writer->TakeLeftOut(iFirst);
        if (!late.empty()) {
            sel.LeftOut = true;
            sel.LeftOutFiles.insert(sel.LeftOutFiles.end(), late.begin(), late.end());
            std::stable_sort(sel.LeftOutFiles.begin(), sel.LeftOutFiles.end(),
                             [](const LeftOutFile& a, const LeftOutFile& b) { return a.Order < b.Order; });
        }
    }
    engine.LeftOut.insert(engine.LeftOut.end(), sel.LeftOutFiles.begin(), sel.LeftOutFiles.end());
    engine.Skipped.insert(engine.Skipped.end(), sel.Skipped.begin(), sel.Skipped.end());
    engine.Links.insert(engine.Links.end(), sel.Links.begin(), sel.Links.end());
    if (s.Failed != ZE_OK) {
        // Stopped or failed while writing: the archive is discarded when it is closed.
        s.Writer.reset();
        return s.Failed;
    }
    if (iSelected != ZE_OK) return iSelected;
    if (!step.Prepared) step.PrepareCode = PrepareEntries(s, iFirst, step.Password);
    if (step.PrepareCode != ZE_OK) {
        // What this call selected is written only when it is complete.
        for (size_t i = iFirst; i < s.Store.Size(); ++i) {
            s.Store[i].State = EntryState::Dropped;
            s.Store[i].Withdrawn = true;
        }
        return step.PrepareCode;
    }
    // Files left out here are reported by this call; the close reports only those that
    // fail while the archive is written then.
    return sel.LeftOut ? ZE_OPEN : ZE_OK;
}

} // namespace

// ---- public operations -------------------------------------------------------------

detail::Session::~Session() {
    Writer.reset(); // its workers read the store
    if (Old) zip_discard(Old);
}

EngineState::EngineState(const FileSystemProbe& probe) : Probe(probe) {}

EngineState::~EngineState() {
    // An archive still open when its engine goes is dropped, never half written.
    Open.reset();
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

} // namespace libZip
