#pragma once
// The command line's progress: one line on standard error, rewritten in place ("\r") while a
// job's backup, restore or verify goes on, and left with the job's figures and a newline when
// it ends. Only when standard error is a terminal: scripts and logs get nothing.

#include "engine/RunProgress.h"

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

class TerminalProgress : public RunProgress::Display {
public:
    // Installs itself as the process's progress display while standard error is a terminal.
    TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void Show(const RunProgress::View& view) override;
    void End(const RunProgress::View& view) override;

    // The line a finished job leaves: "Documents: 120 files (3.4 MiB) in 5.2 s".
    static std::string EndText(const RunProgress::View& view);

private:
    void Write(const std::string& sLine, bool bFinal);

    std::mutex m_mutex;
    size_t m_iShown = 0;                              // the length of the line on the terminal now
    std::optional<RunProgress::DisplayScope> m_scope; // last: uninstalled first
};
