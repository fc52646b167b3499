#include "support/libLog.h"

#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace libLog {

namespace {
std::string& Comment() {
    static std::string s;
    return s;
}
std::string& LastUnconditional() {
    static std::string s;
    return s;
}
bool g_bLevelled = false;  // LogEvent is running for LogEventLevel
uint64_t g_lUnwritten = 0; // lines that could not be appended to the log

// The log kept open while a run goes on (RunLog); closed outside runs.
struct KeptLog {
    int Depth = 0;
    std::string Path; // the log of the run, named once at its start
    libFiles::AppendFile File;
    double StampSerial = -1; // the time of the last line and its text: a run writes many a second
    std::string Stamp;
};
KeptLog& Kept() {
    static KeptLog k;
    return k;
}
std::vector<LineCapture*>& Captures() {
    static std::vector<LineCapture*> v;
    return v;
}

// Appends the line to the log: through the open log during a run (opened again after the log
// was dropped), opened for this line otherwise.
void AppendLine(const std::string& sFile, const std::string& sBytes) {
    KeptLog& kept = Kept();
    if (kept.Depth == 0) {
        libFiles::AppendToFile(sFile, sBytes);
        return;
    }
    if (!kept.File.IsOpen()) kept.File.Open(sFile);
    try {
        kept.File.Append(sBytes);
    } catch (...) {
        kept.File.Close(); // the next line tries afresh
        throw;
    }
}

// The bytes below 32 escaped, so that no name can end a line early or forge another one.
std::string EscapeControls(const std::string& sText) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string s;
    s.reserve(sText.size());
    for (const char c : sText) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 32) {
            s += c;
        } else if (c == '\r') {
            s += "\\r";
        } else if (c == '\n') {
            s += "\\n";
        } else if (c == '\t') {
            s += "\\t";
        } else {
            s += "\\x";
            s += kHex[b >> 4];
            s += kHex[b & 15];
        }
    }
    return s;
}

// The line could not be appended: it goes to standard error, and the user hears of it once.
void ReportUnwritableLog(const std::string& sFile, const std::string& sReason, const std::string& sLine) {
    ++g_lUnwritten;
    const std::string s =
        "stowline: cannot write the transaction log '" + sFile + "': " + sReason + ": " + sLine + "\n";
    std::fwrite(s.data(), 1, s.size(), stderr);
    std::fflush(stderr);
    static bool bShown = false;
    if (bShown) return;
    bShown = true;
    using namespace UserInteraction;
    MsgBox("The transaction log '" + sFile + "' cannot be written: " + sReason +
               ".\r\n\r\nLog lines go to standard error until it can be written again.",
           Buttons::OK, Icon::Exclamation, "Stowline");
}

bool Drop(const std::string& sQuestion, const std::string& sFile) {
    using namespace UserInteraction;
    if (MsgBox(sQuestion, Buttons::OKCancel, Icon::Question, "Stowline") != Answer::OK) return false;
    Kept().File.Close(); // a run going on starts a new log with its next line
    libFiles::uKill(sFile);
    libFiles::uKill(OlderGeneration(sFile));
    return true;
}

// The file, or its older generation when only that one holds lines.
std::string FileToView(const std::string& sFile) {
    const std::string sOlder = OlderGeneration(sFile);
    return libFiles::FileLen(sFile) == 0 && libFiles::FileLen(sOlder) > 0 ? sOlder : sFile;
}
} // namespace

void LogEvent(const std::string& sText) {
    std::string s = sText.empty() ? std::string("Null") : sText;
    for (char& c : s)
        if (c == '"') c = '\'';
    KeptLog& kept = Kept();
    const double dNow = libDates::Now();
    if (kept.Depth == 0 || dNow != kept.StampSerial) {
        kept.Stamp = libDates::Format(dNow, "mm/dd/yyyy hh:mm:ss");
        kept.StampSerial = kept.Depth > 0 ? dNow : -1;
    }
    const std::string sLine = kept.Stamp + "  " + EscapeControls(s);
    if (!g_bLevelled) LastUnconditional() = EscapeControls(s);
    for (LineCapture* pCapture : Captures())
        pCapture->Add(sLine, EscapeControls(s), !g_bLevelled);
    // A log that cannot be written never ends the program: the run it describes goes on.
    const std::string sFile = kept.Depth > 0 ? kept.Path : LogFileName();
    try {
        AppendLine(sFile, sLine + "\r\n");
    } catch (const std::exception& e) {
        const StowError err = ErrorFromException(e);
        ReportUnwritableLog(sFile, err.Reason(), sLine);
    }
}

void LogEventLevel(int lLevel, const std::string& sText) {
    if (appPreferences::LoggingMode > lLevel) return;
    g_bLevelled = true;
    LogEvent(sText);
    g_bLevelled = false;
}

const std::string& LastUnconditionalEvent() { return LastUnconditional(); }
void ClearLastUnconditionalEvent() { LastUnconditional().clear(); }
uint64_t UnwrittenLines() { return g_lUnwritten; }

std::string LogFileName() { return appMisc::AppFolder() + appMisc::ExeBaseName() + ".log"; }
std::string ErrorFileName() { return appMisc::AppFolder() + appMisc::ExeBaseName() + ".err"; }

std::string OlderGeneration(const std::string& sFile) { return sFile + ".1"; }

void ViewTransactionLog() {
    libFiles::ViewFile(FileToView(LogFileName()), "Transaction Log", appPreferences::LogViewCommand);
}
void ViewErrorLog() { libFiles::ViewFile(FileToView(ErrorFileName()), "Error log", appPreferences::LogViewCommand); }

bool DropTransactionLog() { return Drop("Drop log file?", LogFileName()); }
bool DropErrorLog() { return Drop("Drop error log file?", ErrorFileName()); }

const std::string& PendingComment() { return Comment(); }
void SetPendingComment(const std::string& sText) { Comment() = sText; }

bool RotateIfPast(const std::string& sFile, uint64_t lLimitBytes) {
    if (lLimitBytes == 0 || libFiles::FileLen(sFile) <= lLimitBytes) return false;
    // One step, so the log is under one of its two names at every moment.
    return std::rename(sFile.c_str(), OlderGeneration(sFile).c_str()) == 0;
}

LineCapture::LineCapture(size_t iHead, size_t iTail) : m_iHead(iHead), m_iTail(iTail) { Captures().push_back(this); }

LineCapture::~LineCapture() { std::erase(Captures(), this); }

void LineCapture::Add(const std::string& sLine, const std::string& sText, bool bUnconditional) {
    if (bUnconditional) m_sLastUnconditional = sText;
    if (m_head.size() < m_iHead) {
        m_head.push_back(sLine);
        return;
    }
    m_tail.push_back(sLine);
    if (m_tail.size() > m_iTail) {
        m_tail.pop_front();
        ++m_lLeftOut;
    }
}

std::vector<std::string> LineCapture::Lines() const {
    std::vector<std::string> lines(m_head);
    if (m_lLeftOut > 0) lines.push_back("... " + std::to_string(m_lLeftOut) + " lines left out ...");
    lines.insert(lines.end(), m_tail.begin(), m_tail.end());
    return lines;
}

RunLog::RunLog() : RunLog(static_cast<uint64_t>(std::max(appPreferences::MaxLogSizeMB, 0)) << 20) {}

RunLog::RunLog(uint64_t lLimitBytes) {
    KeptLog& kept = Kept();
    if (kept.Depth++ > 0) return;
    kept.Path = LogFileName();
    kept.StampSerial = -1;
    // A log that cannot be renamed just grows: the run goes on and its lines still reach it.
    RotateIfPast(kept.Path, lLimitBytes);
    RotateIfPast(ErrorFileName(), lLimitBytes);
    // They name the user's files and folders: an older version left them readable by others.
    for (const std::string& sFile : {kept.Path, ErrorFileName()}) {
        libFiles::MakePrivate(sFile);
        libFiles::MakePrivate(OlderGeneration(sFile));
    }
}

RunLog::~RunLog() {
    KeptLog& kept = Kept();
    if (--kept.Depth == 0) kept.File.Close();
}

} // namespace libLog
