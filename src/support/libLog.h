#pragma once
// The transaction log (one timestamped line per event) and the file names of
// both logs, with the operations that view or drop them.

#include <cstdint>
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
// How many lines could not be appended to the log since the program started (each went to
// standard error with the reason instead): a caller compares the count before and after a run.
uint64_t UnwrittenLines();
// AppFolder() + "stowline.log" / "stowline.err".
std::string LogFileName();
std::string ErrorFileName();
// The older generation of a log: its name + ".1".
std::string OlderGeneration(const std::string& sFile);
// ViewFile(LogFileName(), "Transaction Log", LogViewCommand) / (ErrorFileName(), "Error log", ...).
// When the file is missing or empty but its older generation holds lines, that one is shown.
void ViewTransactionLog();
void ViewErrorLog();
// "Drop log file?" / "Drop error log file?" (OK/Cancel, question icon); on OK uKill the file and
// its older generation. Returns true when dropped (the user said OK).
bool DropTransactionLog();
bool DropErrorLog();
// The process-wide pending comment written by the next run.
const std::string& PendingComment();
void SetPendingComment(const std::string& sText);

// Renames sFile to its older generation (replacing an older one) when it holds more than
// lLimitBytes; 0 is no limit. Returns true when it did.
bool RotateIfPast(const std::string& sFile, uint64_t lLimitBytes);

// For the life of a run: the transaction log and the error report file are rotated first when
// past the limit (the MaxLogSizeMB preference unless given in bytes), never in the middle of the
// run, and the log is opened once and kept open, each line still reaching the system as it is
// written. Nested scopes share the outermost one.
class RunLog {
public:
    RunLog();
    explicit RunLog(uint64_t lLimitBytes);
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;
};

} // namespace libLog
