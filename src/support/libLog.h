#pragma once
// The transaction log (one timestamped line per event) and the file names of
// both logs, with the operations that view or drop them.

#include <string>

namespace libLog {

// Appends "mm/dd/yyyy hh:mm:ss" + two blanks + text + CR LF ("" -> "Null", '"' -> "'").
// Trapped ("libLog", "LogEvent()").
void LogEvent(const std::string& sText);
// LogEvent when appPreferences::LoggingMode <= lLevel.
void LogEventLevel(int lLevel, const std::string& sText);
// The text of the latest line written by LogEvent itself (not through LogEventLevel): the
// lines every logging mode keeps, errors among them. A failure report names it as the reason.
const std::string& LastUnconditionalEvent();
void ClearLastUnconditionalEvent();
// AppFolder() + "stowline.log" / "stowline.err".
std::string LogFileName();
std::string ErrorFileName();
// ViewFile(LogFileName(), "Transaction Log", LogViewCommand) / (ErrorFileName(), "Error log", ...).
void ViewTransactionLog();
void ViewErrorLog();
// "Drop log file?" / "Drop error log file?" (OK/Cancel, question icon); on OK uKill the file.
// Returns true when dropped (the user said OK).
bool DropTransactionLog();
bool DropErrorLog();
// The process-wide pending comment written by the next run.
const std::string& PendingComment();
void SetPendingComment(const std::string& sText);

} // namespace libLog
