#include "app/TerminalProgress.h"

#include "support/libStrings.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Columns of the terminal, less one so that the line never wraps (a wrapped line cannot be
// rewritten with "\r").
size_t Columns() {
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) return ws.ws_col - 1;
    return 79;
}

void WriteAll(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const ssize_t n = ::write(STDERR_FILENO, s.data() + i, s.size() - i);
        if (n <= 0) return; // a terminal gone: nothing more to show
        i += static_cast<size_t>(n);
    }
}

} // namespace

TerminalProgress::TerminalProgress() {
    if (::isatty(STDERR_FILENO) == 1) m_scope.emplace(this);
}

std::string TerminalProgress::EndText(const RunProgress::View& view) {
    return view.Name + ": " + std::to_string(view.DoneFiles) + " files (" +
           libStrings::SizeText(static_cast<double>(view.DoneBytes)) + ") in " + libStrings::DurationText(view.Elapsed);
}

void TerminalProgress::Show(const RunProgress::View& view) { Write(RunProgress::LineText(view), false); }

void TerminalProgress::End(const RunProgress::View& view) { Write(EndText(view), true); }

void TerminalProgress::Write(const std::string& sLine, bool bFinal) {
    std::lock_guard lock(m_mutex);
    std::string sText = sLine.substr(0, Columns());
    const size_t iLength = sText.size();
    // Blanks over what the longer line before left.
    if (iLength < m_iShown) sText.append(m_iShown - iLength, ' ');
    WriteAll("\r" + sText + (bFinal ? "\n" : ""));
    m_iShown = bFinal ? 0 : iLength;
}
