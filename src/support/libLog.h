#pragma once
// The transaction log (one timestamped line per event) and the file names of
// both logs, with the operations that view or drop them.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

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

// While it lives, keeps the lines this process appends to the log (a run's lines, for its
// report): the first iHead and the last iTail as written (time stamp included), and the count
// of those left out between, so that a run of a million lines costs a bounded memory. Captures
// may nest; each sees every line. The thread that writes the log only.
class LineCapture {
public:
    explicit LineCapture(size_t iHead = 100, size_t iTail = 400);
    ~LineCapture();
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;

    // The kept lines, oldest first; where lines were left out, one line says how many.
    std::vector<std::string> Lines() const;
    // The text (without its time stamp) of the last line written by LogEvent itself, the lines
    // every logging mode keeps, errors among them; "" when there was none.
    const std::string& LastUnconditional() const { return m_sLastUnconditional; }
    // Called by the log for each line.
    void Add(const std::string& sLine, const std::string& sText, bool bUnconditional);

private:
    size_t m_iHead, m_iTail;
    std::vector<std::string> m_head;
    std::deque<std::string> m_tail;
    uint64_t m_lLeftOut = 0;
    std::string m_sLastUnconditional;
};

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
