// The archive session: the entries selected into an archive kept open across a run's
// entries, kept as compact records, and the writing of the archive when it is closed: the
// deflate workers run ahead of the writer, which streams each entry to the file as its data
// comes (ZipWriter) and writes the central directory from the records at the end. Adding to
// an archive that exists reads it with libzip and writes its entries again after the new ones.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include "engine/ZipInternal.h"
#include "engine/ZipWriter.h"

namespace libZip {

using namespace detail;

struct detail::Session {
    EngineState* Engine = nullptr; // the engine whose archive this is
    std::string ZipFile;
    EntryStore Store;
    zip_t* Old = nullptr;               // the archive that existed, when added to
    std::vector<std::string> Passwords; // Entry::Password - 1
    std::string Comment;
    bool LeftOut = false; // a source file could not be read and was left out
    ~Session() {
        if (Old) zip_discard(Old);
    }
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

// Writes the entries of one session in order. Every call-back runs here, on the calling thread.
class SessionWriter {
public:
    explicit SessionWriter(Session& s) : m_s(s), m_engine(*s.Engine), m_fns(s.Engine->Functions) {}

    int Run() {
        EntryStore& store = m_s.Store;
        if (store.Size() == 0 && !m_s.Old) return ZE_OK;
        if (m_w.Create(m_s.ZipFile) != 0) {
            m_engine.LastSystemError = m_w.Error();
            return ZE_CREAT;
        }
        m_pipe = std::make_unique<DeflatePipeline>(m_engine.Probe, store, 0, WorkerCount());
        const bool bVerbose = m_engine.Options.fVerbose && !m_engine.Options.fQuiet;
        uint64_t lCount = 0;
        for (size_t i = 0; i < store.Size(); ++i) {
            Entry& e = store[i];
            if (e.State != EntryState::Queued) continue;
            const std::string sName = store.Name(i);
            int code = ZE_OK;
            if (e.Kind == EntryKind::Dir) {
                ZipEntryRecord rec = RecordOf(e, sName);
                if (!m_w.Begin(rec, true, "") || !m_w.End(rec, 0, 0, 0)) return WriteFailed();
                Written(e, rec);
                ++lCount;
                continue;
            }
            const std::string sPath = store.Path(i);
            if (bVerbose) m_fns.Print("  adding: " + sName);
            if (m_fns.Service(sPath, e.Size) != 0) return ZE_ABORT;
            code = WriteFile(i, e, sName, sPath);
            if (code != ZE_OK) return code;
            if (e.State == EntryState::Written) ++lCount;
        }
        m_pipe.reset();
        std::vector<std::pair<std::string, ZipEntryRecord>> old;
        if (m_s.Old) {
            int code = CopyOld(old);
            if (code != ZE_OK) return code;
            lCount += old.size();
        }
        if (lCount == 0) {
            // Nothing to hold: no archive, as when nothing was selected.
            m_w.Discard();
            return m_s.LeftOut ? ZE_OPEN : ZE_OK;
        }
        for (size_t i = 0; i < store.Size(); ++i) {
            if (store[i].State != EntryState::Written) continue;
            const std::string sName = store.Name(i);
            if (!m_w.Central(RecordOf(store[i], sName))) return WriteFailed();
        }
        for (auto& [sName, rec] : old) {
            rec.Name = sName;
            if (!m_w.Central(rec)) return WriteFailed();
        }
        if (!m_w.Finish(m_s.Comment)) return WriteFailed();
        return m_s.LeftOut ? ZE_OPEN : ZE_OK;
    }

private:
    int WriteFailed() {
        m_engine.LastSystemError = m_w.Error();
        return ZE_WRITE;
    }

    std::string_view PasswordOf(const Entry& e) const {
        return e.Password == 0 ? std::string_view() : std::string_view(m_s.Passwords[e.Password - 1]);
    }

    // Counts written source bytes and runs the poll call-back every PollBytes.
    bool Polled(uint64_t lBytes) {
        m_sincePoll += lBytes;
        if (m_sincePoll < PollBytes || !m_fns.Poll) return true;
        m_sincePoll = 0;
        return m_fns.Poll() == 0;
    }

    void LeaveOut(Entry& e, const std::string& sPath, int iErrno) {
        e.State = EntryState::Dropped;
        m_s.LeftOut = true;
        m_engine.LeftOut.push_back(LeftOutFile{sPath, std::strerror(iErrno)});
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
            LeaveOut(e, sPath, r.Errno);
            return ZE_OK;
        }
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
                LeaveOut(e, sPath, r.Errno);
                return ZE_OK;
            }
            crc = crc32_combine(crc, r.Crc, static_cast<z_off_t>(r.InLength));
            lIn += r.InLength;
            lOut += r.Out.size();
        }
        if (!m_w.End(rec, static_cast<uint32_t>(crc), lIn, lOut)) return WriteFailed();
        Written(e, rec);
        return ZE_OK;
    }

    // The entries of the archive added to that no new entry replaced, written again after
    // the new ones (their data deflated as it was, encrypted ones with this archive's password).
    int CopyOld(std::vector<std::pair<std::string, ZipEntryRecord>>& old) {
        const zip_int64_t n = zip_get_num_entries(m_s.Old, 0);
        const std::string sPassword = m_s.Passwords.empty() ? "" : m_s.Passwords.back();
        for (zip_int64_t j = 0; j < n; ++j) {
            const auto idx = static_cast<zip_uint64_t>(j);
            zip_stat_t st;
            if (zip_stat_index(m_s.Old, idx, 0, &st) != 0) return ZE_FORM;
            std::string sName = st.name;
            if (m_s.Store.Contains(sName)) continue; // replaced by the newer copy, as zip does
            const bool bEncrypted = st.encryption_method != ZIP_EM_NONE;
            if (bEncrypted && sPassword.empty()) return ZE_PARMS;
            ZipEntryRecord rec;
            rec.Name = sName;
            rec.MTime = st.mtime;
            zip_uint8_t opsys = 0;
            zip_uint32_t attr = 0;
            zip_file_get_external_attributes(m_s.Old, idx, 0, &opsys, &attr);
            const bool bDir = !sName.empty() && sName.back() == '/';
            rec.Mode = opsys == ZIP_OPSYS_UNIX && (attr >> 16) != 0 ? attr >> 16 : (bDir ? 040755 : 0100644);
            zip_uint16_t len = 0;
            const zip_uint8_t* ut = zip_file_extra_field_get_by_id(m_s.Old, idx, 0x5455, 0, &len, ZIP_FL_CENTRAL);
            if (ut && len >= 5 && (ut[0] & 1))
                rec.MTime = static_cast<int32_t>(ut[1] | (ut[2] << 8) | (ut[3] << 16) | (uint32_t(ut[4]) << 24));
            rec.Method = st.comp_method;
            rec.Crc = st.crc;
            rec.Size = st.size;
            rec.CompSize = st.comp_size - (bEncrypted ? 12 : 0);
            if (!m_w.Begin(rec, true, bEncrypted ? sPassword : std::string_view())) return WriteFailed();
            zip_file_t* zf = bEncrypted ? zip_fopen_index_encrypted(m_s.Old, idx, ZIP_FL_COMPRESSED, sPassword.c_str())
                                        : zip_fopen_index(m_s.Old, idx, ZIP_FL_COMPRESSED);
            if (!zf) return ZE_READ;
            char buf[65536];
            zip_int64_t got;
            uint64_t total = 0;
            while ((got = zip_fread(zf, buf, sizeof buf)) > 0) {
                total += static_cast<uint64_t>(got);
                if (!m_w.Data(buf, static_cast<size_t>(got))) {
                    zip_fclose(zf);
                    return WriteFailed();
                }
            }
            zip_fclose(zf);
            if (got < 0 || total != rec.CompSize) return ZE_READ;
            if (!m_w.End(rec, rec.Crc, rec.Size, rec.CompSize)) return WriteFailed();
            old.emplace_back(std::move(sName), rec);
        }
        return ZE_OK;
    }

    Session& m_s;
    EngineState& m_engine;
    const ZipUserFunctions m_fns;
    ZipWriter m_w;
    std::unique_ptr<DeflatePipeline> m_pipe;
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
        s->Old = zip_open(sZipFile.c_str(), ZIP_RDONLY, &err);
        if (!s->Old) {
            engine.LastSystemError = errno;
            return ResultFromZipError(err);
        }
    }
    out = std::move(s);
    return ZE_OK;
}

// Writes (or drops) the session's archive. Compression happens here.
int CloseSession(std::unique_ptr<Session> s, bool bKeep) {
    if (!s || !bKeep) return ZE_OK;
    return SessionWriter(*s).Run();
}

int ArchiveInto(Session& s, const std::vector<std::string>& names) {
    EngineState& engine = *s.Engine;
    Selection sel(s.Store);
    const size_t iFirst = s.Store.Size();
    const int iSelected = SelectFiles(names, engine.Options, engine.Probe, sel);
    engine.LeftOut.insert(engine.LeftOut.end(), sel.LeftOutFiles.begin(), sel.LeftOutFiles.end());
    engine.Skipped.insert(engine.Skipped.end(), sel.Skipped.begin(), sel.Skipped.end());
    engine.Links.insert(engine.Links.end(), sel.Links.begin(), sel.Links.end());
    if (iSelected != ZE_OK) return iSelected;
    // What this call selected is written only when it is complete.
    auto drop = [&] {
        for (size_t i = iFirst; i < s.Store.Size(); ++i) {
            s.Store[i].State = EntryState::Dropped;
            s.Store[i].Withdrawn = true;
        }
    };

    std::string sPassword;
    if (engine.Options.fEncrypt) {
        std::string sAnswer;
        if (engine.Functions.Password(sAnswer, PasswordBufferSize, "Enter password: ", s.ZipFile) != 0 ||
            sAnswer.empty()) {
            drop();
            return ZE_PARMS; // asked to encrypt without a password: never store in the clear
        }
        sPassword = FitPassword(sAnswer, PasswordBufferSize);
    }
    if (engine.Options.fComment) {
        std::string sComment;
        engine.Functions.Comment(sComment);
        if (!sComment.empty()) s.Comment = sComment.substr(0, 0xFFFF);
    }
    if (!sPassword.empty()) {
        auto it = std::find(s.Passwords.begin(), s.Passwords.end(), sPassword);
        if (it == s.Passwords.end()) it = s.Passwords.insert(it, sPassword);
        if (s.Passwords.size() > 255) {
            drop();
            return ZE_PARMS;
        }
        const auto iIndex = static_cast<uint8_t>(it - s.Passwords.begin() + 1);
        for (size_t i = iFirst; i < s.Store.Size(); ++i)
            if (s.Store[i].Kind != EntryKind::Dir) s.Store[i].Password = iIndex;
    }
    // Files left out here are reported by this call; the close reports only those that
    // fail while the archive is written.
    return sel.LeftOut ? ZE_OPEN : ZE_OK;
}

} // namespace

// ---- public operations -------------------------------------------------------------

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

std::string ZipEngine::ZpOpenArchiveName() const { return m_state->Open ? m_state->Open->ZipFile : std::string(); }

} // namespace libZip
