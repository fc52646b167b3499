#pragma once
// rclone driven as an external program: every remote operation of an off-site copy is one
// rclone command. rclone's own configuration is used as it is (RCLONE_CONFIG and the rest of the
// environment are inherited); nothing here holds a credential.

#include <functional>
#include <string>
#include <vector>

namespace Rclone {

// A transfer's progress as rclone's stats give it.
struct Stats {
    long long Bytes = 0;      // moved so far
    long long TotalBytes = 0; // to move in all, as far as rclone knows yet
    double Speed = 0;         // bytes per second
    double Elapsed = 0;       // seconds since the transfer began
};
using StatsSink = std::function<void(const Stats&)>;
// Asked between reads while rclone runs: true stops it (a user's cancel).
using StopWanted = std::function<bool()>;

struct Result {
    int Status = -1;    // rclone's exit status; -1 when it could not be started or was killed
    std::string Output; // what it wrote to standard output
    std::string Reason; // why it failed: its last error line, trimmed ("" after success)
    Stats Moved;        // a transfer's last stats (all zero for other commands)
    std::string Log;    // a transfer's log lines (rclone's JSON) other than its stats
    bool Ok() const { return Status == 0; }
};

// rclone's exit status for a folder that does not exist.
constexpr int DirectoryNotFound = 3;

// Runs "rclone <args>" (found through PATH) with no input and waits for it, letting events run.
// It never asks for a password: an encrypted configuration without its password fails.
Result Run(const std::vector<std::string>& args);
// Runs a command that moves data ("copyto", "copy", "sync"...) as Run does, limited by the
// OffsiteBandwidth preference (--bwlimit as written) and with rclone's stats as JSON once a
// second, each handed to onStats as it comes. stopWanted returning true stops it, as an abort of
// the run does (Status -1, Reason "stopped").
Result Transfer(const std::vector<std::string>& args, const StatsSink& onStats = {}, const StopWanted& stopWanted = {});
// A command started at once and waited for later, while the caller runs others (a listing during
// an upload). Its output is kept aside, so it never stalls unread. Stopped if not waited for.
class Background {
public:
    explicit Background(const std::vector<std::string>& args);
    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    // Waits for it (letting events run; an abort of the run stops it) and gives what Run would.
    Result Wait();

private:
    int m_iOut = -1, m_iErr = -1;
    int m_pid = -1;
    bool m_bRunning = false;
    Result m_done;
};

// "12.3 MiB in 4.2 s (2.9 MiB/s)": a transfer's stats for the log.
std::string Summary(const Stats& stats);
// "12.3 MiB of 30.0 MiB (41%)" (without a known total "12.3 MiB"): a transfer's progress.
std::string Progress(const Stats& stats);

} // namespace Rclone
