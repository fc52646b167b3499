#pragma once
// The zip engine: a streaming zip writer (ZipWriter.h) behind the small set of operations
// the program expects of a zip engine (install call-backs, set options, archive a name
// list, give a version), the engine's result codes and texts, and the backup run's zip step.
//
// Archives are standard zip files: deflate (level from the options, 9 for backups),
// traditional PKWARE encryption when a password is set, Zip64 when sizes or counts
// need it, and an archive comment. Every entry carries its exact modification time (the
// extended timestamp field) besides the DOS date and time, and its Unix mode. Entry names
// are the full path without the leading "/"; folders get directory entries ("data/sub/");
// symbolic links are stored as links (their target as data), never followed.
//
// One archive per run, written once. A run keeps its archive open across all its entries:
// ArchiveEntry (or ZpArchive inside ZpOpenArchive/ZpCloseArchive) selects the files into
// compact records (about 100 bytes per entry). A call that selects a few entries leaves
// them to be written when the archive is closed by FinishArchive / ZpCloseArchive; one that
// selects more than 256 starts writing at that point and writes the rest of its entries
// while it walks, before it returns. Either way worker threads deflate the files (long
// ones in 1 MiB pieces) a bounded distance ahead of the writer, which streams each entry
// to the file and writes the central directory at the end; every call-back runs on the
// calling thread. The service call-back fires once per file, in archive order, right
// before that file is written; a stop answer ends the archive within that file. Each call
// names the files it selected and could not read, in walk order, in its own result.
// What a run leaves behind:
//   - an entry that ends with a zip error (nothing to do, bad name list, ...) queues
//     nothing itself; the entries before it are still written by FinishArchive;
//   - a stop answer of the service call-back (user abort) or a failure while writing
//     discards the whole new archive: nothing is left under the archive's name (an
//     archive that existed before the run is left as it was);
//   - a source file that cannot be read, whether found so at selection or while the
//     archive is written, is left out and the rest is written (result 18); so is a
//     file or folder whose path is too long, too deep or that vanished. ArchiveEntry
//     and FinishArchive log each one ("  Not backed up: '<path>': <reason>"), and each
//     stored link ("  Stored link '<path>' -> '<target>'"). A file that fails while it is
//     written is cut back out of the archive. Pipes, sockets and devices are named with the
//     same line but are no failure: no archive can hold them.
// The archive is written to a temporary file beside the archive (<archive>.XXXXXX) and
// renamed only when it is complete, so no half-written archive ever carries the archive's
// name. The backup run goes one step further: it names an archive in the job's
// temporary folder (JobTemp), flushes it, and only then applies retention and moves
// it to its final name in the target folder. Folders whose name begins with
// JobTemp::Prefix are never entered by the selection. Adding to an archive that exists
// (ZpArchive on an existing file) reads it with libzip and writes its entries again.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/FileSystemProbe.h"
#include "jobs/CBackupJob.h"

class CacheFolders;

namespace libZip {

// ---- Result codes of the engine ----------------------------------------------------
constexpr int ZE_OK = 0;
constexpr int ZE_EOF = 2;    // unexpected end of zip file
constexpr int ZE_FORM = 3;   // zip file structure invalid
constexpr int ZE_MEM = 4;    // out of memory
constexpr int ZE_LOGIC = 5;  // internal logic error
constexpr int ZE_BIG = 6;    // entry too large
constexpr int ZE_NOTE = 7;   // invalid comment format
constexpr int ZE_TEST = 8;   // test failed or out of memory
constexpr int ZE_ABORT = 9;  // user interrupt (the service call-back's stop answer)
constexpr int ZE_TEMP = 10;  // error using a temporary file
constexpr int ZE_READ = 11;  // read or seek error
constexpr int ZE_NONE = 12;  // nothing to do
constexpr int ZE_NAME = 13;  // missing or empty zip file
constexpr int ZE_WRITE = 14; // error writing to a file
constexpr int ZE_CREAT = 15; // could not create a file to write to
constexpr int ZE_PARMS = 16; // bad command-line (name list or options)
constexpr int ZE_OPEN = 18;  // could not open a source file: left out, the rest archived
constexpr int ZE_INIT = 255; // the call-back table could not be installed

// The text of a result code ("" for 0): the engine's message for the transaction log.
std::string ZipResultMessage(int iCode);
// True when the code is a zip error for the run: everything but 0, 18, and 12 when the
// run is incremental (an incremental run with no changed files is a success).
bool ZipResultIsError(int iCode, bool bIncremental);

// ---- Call-back table ---------------------------------------------------------------
// print: receives the engine's message texts (file names as they are added). Result ignored.
using PrintFunction = std::function<int(const std::string& sText)>;
// comment: fills sComment with the archive comment ("" = none). Result 1.
using CommentFunction = std::function<int(std::string& sComment)>;
// password: fills sPassword (at most iSize - 1 bytes are used); result 0 when given,
// 1 when the user gave none (the files are then stored without encryption).
using PasswordFunction =
    std::function<int(std::string& sPassword, int iSize, const std::string& sPrompt, const std::string& sName)>;
// service: called once per file right before it is written, with its path on disk and
// its size in bytes; a nonzero result stops the archive (result 9).
using ServiceFunction = std::function<int(const std::string& sName, int64_t lSize)>;

// poll: called on the calling thread every 4 MiB of source data while files are written,
// so that a long file does not hold up the window or an abort; nonzero stops the archive
// (result 9) within that file. Optional; no default.
using PollFunction = std::function<int()>;

struct ZipUserFunctions {
    PrintFunction Print;
    CommentFunction Comment;
    PasswordFunction Password;
    ServiceFunction Service;
    PollFunction Poll;
};

// ---- Options -----------------------------------------------------------------------
struct ZpOpt {
    // "mmddyyyy"; used by fIncludeDate / fExcludeDate. No value = no date.
    std::optional<std::string> Date;
    // When not empty, names below this folder are stored relative to it.
    std::string szRootDir;
    bool fEncrypt = false;      // encrypt with the password call-back's answer
    bool fAes = false;          // with fEncrypt: WinZip AES-256 (AE-2) instead of traditional encryption
    bool fSystem = false;       // include names beginning with "." (else left out)
    bool fIncludeDate = false;  // only files (and folders) modified on or after Date
    bool fExcludeDate = false;  // only files (and folders) modified before Date
    bool fVerbose = false;      // print call-back gets "  adding: name" per file
    bool fQuiet = false;        // print call-back gets nothing
    bool fRecurse = false;      // recurse into subfolders
    bool fComment = false;      // ask the comment call-back and store the archive comment
    bool fNoDirEntries = false; // no directory entries
    char fLevel = '6';          // '0' (store) .. '9' (maximum deflate)
    // The walk's selection is a part of the active run progress's count (RunProgress::
    // NoteCountPart once the walk has ended).
    bool fCountTotal = false;
    // Folders met inside a walk that these rules leave out are not entered (null: none is).
    CacheFolders* Caches = nullptr;
};

// ---- Version -----------------------------------------------------------------------
struct ZpVer {
    int Major = 0; // libzip's version
    int Minor = 0;
    int Patch = 0;
    std::string Name; // at most 20 characters: "libzip " + libzip's version
    std::string Zlib; // at most 10 characters: "zlib" + zlib's version
};
void ZpVersion(ZpVer& version);
// " Windll v" + major + "." + minor + " Patch " + patch + " " + Name + " " + Zlib:
// the engine's version text shown by the about box.
std::string ZipVersionText();

// ---- The backup run's zip step -----------------------------------------------------
// What the zip step needs of the job.
struct ZipJobValues {
    std::string ExcludeSpec; // CR LF lines
    bool Incremental = false;
    double DateLastRun = 0;
    bool Subdirectories = false;
    std::string Password;
    bool Aes = false; // the password encrypts with AES-256 (else traditionally)
    // The step's walk counts what it selects for the run's progress (fCountTotal).
    bool CountsTotal = false;
};
inline ZipJobValues ZipJobValuesOf(const CBackupJob& job) {
    return ZipJobValues{job.ExcludeSpec(), job.Incremental(),
                        job.DateLastRun(), job.Subdirectories(),
                        job.Password(),    job.Encryption() == CBackupJob::EncryptionKind::Aes256};
}

// The name list passed for a source entry: the entry ("*.*" and plain names unchanged;
// "folder/*.ext" as "folder/", "-i", "/*.ext"), then "-x" and every exclusion line when
// there are exclusions. Returns false when the exclusion list cannot be split.
bool BuildNameList(const std::string& sEntry, const std::string& sExcludeSpec, std::vector<std::string>& names);

struct ZipStepResult {
    int Code = ZE_OK;
    bool IsError = false; // a zip error: stop zipping, record the run with Failure True
    bool Abandon = false; // the exclusion list could not be split: abandon the run
    int Errno = 0;        // the system's reason when the archive could not be written (0: none known)
};

// ---- The engine ----------------------------------------------------------------------
namespace detail {
struct EngineState;
}

// One zip engine: its call-back table, its options, the archive it keeps open and the file
// system it reads through. Whoever archives owns one (a backup run makes one for its zip
// step); engines share nothing, and every call-back runs on the thread that calls the engine.
class ZipEngine {
public:
    explicit ZipEngine(const FileSystemProbe& probe = FileSystemProbe::Real());
    ~ZipEngine(); // an archive still open is dropped, as ZpCloseArchive(false) would
    ZipEngine(const ZipEngine&) = delete;
    ZipEngine& operator=(const ZipEngine&) = delete;

    // Installs the call-back table: every slot starts from the module's default routine and
    // is replaced when the caller gives one. Defaults: print ignores the text; comment asks
    // "Enter a comment" in an input box; password asks "Please enter password!"; service
    // goes on; poll is left out. Returns nonzero on success.
    int ZpInit(const ZipUserFunctions& functions);

    void ZpSetOptions(const ZpOpt& options);

    // Archives the name list into sZipFile (created when missing, added to otherwise).
    // Names: a file; a folder (its files, and its tree when fRecurse; plus directory
    // entries); a wildcard "folder/pattern" (matching files of the folder, and of its
    // subfolders when fRecurse); "-i" followed by patterns limits the files of the names
    // before it to those whose name matches; "-x" followed by patterns leaves out every
    // name matching one of them. Patterns: "*", "?", "#", "[...]", "[!...]", letter case
    // ignored, "*.*" matches every name; a pattern with "/" inside is matched against the
    // full path, otherwise against the file name. No limit on the number of names.
    // When an archive opened by ZpOpenArchive for the same file is open, the files are
    // queued in it and written by ZpCloseArchive (a long selection is written as it is
    // walked); otherwise the archive is written before this returns. Returns a result code.
    int ZpArchive(const std::string& sZipFile, const std::vector<std::string>& names);

    // Keeps sZipFile open for several ZpArchive calls (closes any other one first,
    // writing it). Returns a result code (0 when open).
    int ZpOpenArchive(const std::string& sZipFile);
    // Writes the open archive (bKeep) or drops everything queued since ZpOpenArchive
    // (!bKeep; result 0). What is not written yet is compressed here; the service
    // call-back fires per file.
    // Returns a result code; 0 when no archive is open.
    int ZpCloseArchive(bool bKeep = true);
    // The errno behind the last archive that could not be opened or written (0: none known).
    int ZpLastSystemError() const;

    // ---- the backup run's zip step ----
    // Zips one source entry into the run's archive sZipFile (the zip base name + ".zip"):
    // installs the call-backs (service: status line + abort through RunState; comment: the
    // pending comment, for entry 0 only; password: the job's Password when set), sets the
    // options (level 9, recursion, encryption, incremental date), builds the name list and
    // queues the files in the archive (writing them as it walks when there are more than
    // 256), which stays open for the next entries. Writes the
    // result's message with LogEvent, as the result table says, and returns it.
    ZipStepResult ArchiveEntry(const ZipJobValues& job, const std::string& sZipFile, const std::string& sEntry,
                               int iEntryIndex);
    // Ends the run's zip step: writes the archive (compressing every file not written yet;
    // the service call-back fires for them here) or, with bKeep false, drops it (abandoned run). Writes
    // the result's message with LogEvent and returns it. Call it once after the last
    // ArchiveEntry, also after an entry's zip error, so that the earlier entries are kept.
    ZipStepResult FinishArchive(const ZipJobValues& job, bool bKeep = true);

private:
    ZipStepResult Report(int iCode, bool bIncremental);

    std::unique_ptr<detail::EngineState> m_state;
};

} // namespace libZip
