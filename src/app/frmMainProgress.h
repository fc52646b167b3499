#pragma once
// The desktop's progress display: while a backup, restore or verify goes on, the main window's
// status bar shows its bar and figures and the tray icon's tooltip its percent and time left.
// Installed for as long as the desktop program runs.

#include "engine/RunProgress.h"

#include <optional>

class GuiProgress : public RunProgress::Display {
public:
    GuiProgress();
    GuiProgress(const GuiProgress&) = delete;
    GuiProgress& operator=(const GuiProgress&) = delete;

    // Called on the work's thread: the view reaches the windows on the program's main thread.
    void Show(const RunProgress::View& view) override;
    void End(const RunProgress::View& view) override;

private:
    std::optional<RunProgress::DisplayScope> m_scope;
};
