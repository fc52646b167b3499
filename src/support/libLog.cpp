#include "support/libLog.h"

#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"

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
bool g_bLevelled = false; // LogEvent is running for LogEventLevel

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
    libFiles::uKill(sFile);
    return true;
}
} // namespace

void LogEvent(const std::string& sText) {
    std::string s = sText.empty() ? std::string("Null") : sText;
    for (char& c : s)
        if (c == '"') c = '\'';
    const std::string sLine = libDates::Format(libDates::Now(), "mm/dd/yyyy hh:mm:ss") + "  " + EscapeControls(s);
    if (!g_bLevelled) LastUnconditional() = EscapeControls(s);
    // A log that cannot be written never ends the program: the run it describes goes on.
    const std::string sFile = LogFileName();
    try {
        libFiles::AppendToFile(sFile, sLine + "\r\n");
    } catch (const std::exception& e) {
        const StowError err = ErrorFromException(e);
        ReportUnwritableLog(sFile, err.LastDllError != 0 ? std::strerror(err.LastDllError) : err.Description, sLine);
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

std::string LogFileName() { return appMisc::AppFolder() + appMisc::ExeBaseName() + ".log"; }
std::string ErrorFileName() { return appMisc::AppFolder() + appMisc::ExeBaseName() + ".err"; }

void ViewTransactionLog() { libFiles::ViewFile(LogFileName(), "Transaction Log", appPreferences::LogViewCommand); }
void ViewErrorLog() { libFiles::ViewFile(ErrorFileName(), "Error log", appPreferences::LogViewCommand); }

bool DropTransactionLog() { return Drop("Drop log file?", LogFileName()); }
bool DropErrorLog() { return Drop("Drop error log file?", ErrorFileName()); }

const std::string& PendingComment() { return Comment(); }
void SetPendingComment(const std::string& sText) { Comment() = sText; }

} // namespace libLog
