// The zip engine's call-back table and options, its result texts and version, and the
// backup run's zip step. The selection of files lives in ZipSelection.cpp, the
// parallel deflate in ZipDeflate.cpp and the archive writing in ZipArchive.cpp.

#include "engine/libZip.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <zip.h>
#include <zlib.h>

#include "engine/BackupRunOwner.h"
#include "engine/CacheFolders.h"
#include "engine/RunProgress.h"
#include "engine/RunState.h"
#include "engine/ZipInternal.h"
#include "support/UserInteraction.h"
#include "support/libDates.h"
#include "support/libLog.h"

namespace libZip {

namespace {

// The comment typed in the input box ("" when the user gave none).
std::string AskComment() {
    std::string sAnswer;
    if (!UserInteraction::Ui().InputBox("Enter a comment", "Stowline", "", sAnswer)) return "";
    return sAnswer;
}

int DefaultPrint(const std::string&) { return 0; }

int DefaultComment(std::string& sComment) {
    std::string sAnswer = AskComment();
    if (!sAnswer.empty()) sComment = sAnswer;
    return 1;
}

int DefaultPassword(std::string& sPassword, int iSize, const std::string&, const std::string&) {
    std::string sAnswer;
    if (!UserInteraction::Ui().InputBox("Please enter password!", "Stowline", "", sAnswer) || sAnswer.empty()) return 1;
    sPassword = detail::FitPassword(sAnswer, iSize);
    return 0;
}

int DefaultService(const std::string&, int64_t) { return 0; }

} // namespace

namespace detail {

std::string FitPassword(const std::string& sPassword, int iSize) {
    return sPassword.substr(0, iSize > 0 ? static_cast<size_t>(iSize - 1) : 0);
}

} // namespace detail

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

ZipEngine::ZipEngine(const FileSystemProbe& probe) : m_state(std::make_unique<detail::EngineState>(probe)) {
    ZpInit({}); // the default routines
}

ZipEngine::~ZipEngine() = default;

int ZipEngine::ZpInit(const ZipUserFunctions& functions) {
    ZipUserFunctions& table = m_state->Functions;
    table.Print = functions.Print ? functions.Print : PrintFunction(DefaultPrint);
    table.Comment = functions.Comment ? functions.Comment : CommentFunction(DefaultComment);
    table.Password = functions.Password ? functions.Password : PasswordFunction(DefaultPassword);
    table.Service = functions.Service ? functions.Service : ServiceFunction(DefaultService);
    table.Poll = functions.Poll;
    return 1;
}

void ZipEngine::ZpSetOptions(const ZpOpt& options) { m_state->Options = options; }

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

// ---- the backup run's zip step -----------------------------------------------------

namespace {

// The run is stopped by the user's abort command or a stop signal: say so in the log and the
// status line.
int StopForAbort() {
    if (RunState::StopRequested()) libLog::LogEvent("  Stopped: the program was asked to end");
    libLog::LogEvent("Backup terminated by user");
    RunStatus::SetMessageText("Backup aborted!");
    UserInteraction::DoEvents();
    return 1;
}

// The file the writer began last: it counts as done for the run's progress once the writer
// goes on to the next one (or the step ends), so that a long file is not taken as written
// before its bytes are. The calling thread's only.
int64_t s_lWriting = -1;

void NoteWritten() {
    if (s_lWriting >= 0) RunProgress::NoteDone(1, s_lWriting);
    s_lWriting = -1;
}

// The status line shows each file right before it is compressed; the window stays usable
// here, and the abort command takes effect within that file.
int ServiceCallback(const std::string& sName, int64_t lSize) {
    std::string sText = sName.substr(0, 4097);
    if (lSize > 0) sText += " (" + std::to_string(lSize) + ")";
    RunStatus::SetMessageText(sText);
    NoteWritten();
    s_lWriting = std::max<int64_t>(0, lSize);
    UserInteraction::DoEvents();
    UserInteraction::DoEvents();
    return RunState::AbortRequested() ? StopForAbort() : 0;
}

// While a long file is written: keep the window responsive and honour the abort command
// without waiting for the next file.
int PollCallback() {
    UserInteraction::DoEvents();
    return RunState::AbortRequested() ? StopForAbort() : 0;
}

int CommentCallback(std::string& sComment) {
    std::string sText = libLog::PendingComment();
    if (sText.empty()) sText = AskComment();
    if (!sText.empty()) sComment = sText.substr(0, 4096);
    return 1;
}

} // namespace

ZipStepResult ZipEngine::Report(int iCode, bool bIncremental) {
    ZipStepResult r;
    NoteWritten();
    r.Code = iCode;
    r.IsError = ZipResultIsError(iCode, bIncremental);
    if (r.IsError) r.Errno = ZpLastSystemError();
    if (iCode != ZE_OK && !(iCode == ZE_NONE && bIncremental)) libLog::LogEvent(ZipResultMessage(iCode));
    for (const auto& [sPath, sTarget] : m_state->Links)
        libLog::LogEvent("  Stored link '" + sPath + "' -> '" + sTarget + "'");
    m_state->Links.clear();
    RunProgress::NoteLeftOut(static_cast<int64_t>(m_state->LeftOut.size() + m_state->Skipped.size()));
    // Every file left out by name, so that none is missing from the backup in silence.
    for (const detail::LeftOutFile& f : m_state->LeftOut)
        libLog::LogEvent("  Not backed up: '" + f.Path + "': " + f.Reason);
    m_state->LeftOut.clear();
    for (const detail::LeftOutFile& f : m_state->Skipped)
        libLog::LogEvent("  Not backed up: '" + f.Path + "': " + f.Reason);
    m_state->Skipped.clear();
    return r;
}

ZipStepResult ZipEngine::ArchiveEntry(const ZipJobValues& job, const std::string& sZipFile, const std::string& sEntry,
                                      int iEntryIndex) {
    s_lWriting = -1; // nothing of an earlier run's step
    // Only what this step leaves out is its to name.
    m_state->LeftOut.clear();
    m_state->Skipped.clear();
    m_state->Links.clear();
    std::vector<std::string> names;
    if (!BuildNameList(sEntry, job.ExcludeSpec, names)) {
        libLog::LogEvent("Error loading list of exclude specifications.");
        ZipStepResult r;
        r.Abandon = true;
        r.IsError = true;
        return r;
    }
    ZipUserFunctions fns;
    fns.Print = DefaultPrint;
    fns.Comment = CommentCallback;
    if (!job.Password.empty()) {
        std::string sPassword = job.Password;
        fns.Password = [sPassword](std::string& sOut, int iSize, const std::string&, const std::string&) {
            sOut = detail::FitPassword(sPassword, iSize);
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
        opt.fEncrypt = !job.Password.empty();
        opt.fAes = job.Aes;
        opt.fSystem = true;
        opt.fIncludeDate = job.Incremental;
        opt.fVerbose = true;
        opt.fRecurse = job.Subdirectories;
        opt.fComment = iEntryIndex == 0 && !libLog::PendingComment().empty();
        opt.fLevel = '9';
        opt.Caches = CacheFolders::OfRun();
        opt.fCountTotal = job.CountsTotal;
        ZpSetOptions(opt);
        code = ZpOpenArchive(sZipFile);
        if (code == ZE_OK) code = ZpArchive(sZipFile, names);
    }
    return Report(code, job.Incremental);
}

ZipStepResult ZipEngine::FinishArchive(const ZipJobValues& job, bool bKeep) {
    m_state->LeftOut.clear();
    m_state->Skipped.clear();
    m_state->Links.clear();
    return Report(ZpCloseArchive(bKeep), job.Incremental);
}

} // namespace libZip
