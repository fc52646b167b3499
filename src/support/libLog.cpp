#include "support/libLog.h"

#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"

namespace libLog {

namespace {
std::string& Comment() {
    static std::string s;
    return s;
}

bool Drop(const std::string& sQuestion, const std::string& sFile) {
    using namespace UserInteraction;
    if (MsgBox(sQuestion, Buttons::OKCancel, Icon::Question, "Stowline") != Answer::OK) return false;
    libFiles::uKill(sFile);
    return true;
}
} // namespace

void LogEvent(const std::string& sText) {
    try {
        std::string s = sText.empty() ? std::string("Null") : sText;
        for (char& c : s)
            if (c == '"') c = '\'';
        libFiles::AppendToFile(LogFileName(),
                               libDates::Format(libDates::Now(), "mm/dd/yyyy hh:mm:ss") + "  " + s + "\r\n");
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "libLog", "LogEvent()", "");
    }
}

void LogEventLevel(int lLevel, const std::string& sText) {
    if (appPreferences::LoggingMode <= lLevel) LogEvent(sText);
}

std::string LogFileName() { return appMisc::AppFolder() + appMisc::ExeBaseName() + ".log"; }
std::string ErrorFileName() { return appMisc::AppFolder() + appMisc::ExeBaseName() + ".err"; }

void ViewTransactionLog() { libFiles::ViewFile(LogFileName(), "Transaction Log", appPreferences::LogViewCommand); }
void ViewErrorLog() { libFiles::ViewFile(ErrorFileName(), "Error log", appPreferences::LogViewCommand); }

bool DropTransactionLog() { return Drop("Drop log file?", LogFileName()); }
bool DropErrorLog() { return Drop("Drop error log file?", ErrorFileName()); }

const std::string& PendingComment() { return Comment(); }
void SetPendingComment(const std::string& sText) { Comment() = sText; }

} // namespace libLog
