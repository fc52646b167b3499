#pragma once
// Start-up: single instance, command line, then the main window and the tray agent
// (or the headless agent without a display), and the orderly shut-down.

#include "app/ScheduleView.h"

#include <string>
#include <vector>

namespace appSetup {

// Exit statuses of the process.
constexpr int ExitOk = 0;        // every job named after /RUN completed without failure (or none)
constexpr int ExitJobFailed = 1; // a named job failed, was abandoned, missing or could not be opened; /STATUS: an
                                 // active job is failed or stale
constexpr int ExitUsage = 2;     // help for an unknown switch, a refused second instance, no display
constexpr int ExitFatal = 3;     // a fatal error report

// The process entry: steps of start-up in order, then the event loop (or the headless agent).
// The factory creates the main window once the application object exists.
int Main(int argc, char** argv, const ScheduleViewFactory& factory);

// True once a fatal report has ended the event loops: code that ran a nested loop (a box, pending
// events) must not carry on as if nothing happened.
bool FatalExitPending();

// Splits at blanks and TABs (no quoting). Index 0 stays empty; the arguments are at 1..count;
// at most iMaxArgs are taken, the rest of the line is ignored.
std::vector<std::string> SplitCommandLine(const std::string& sCommandLine, int iMaxArgs = 32);

// The lines of the command-line help joined with CR LF: the five original ones, then the
// later switches.
std::string CommandLineHelpText();
// The help box ("Command-Line Help"); without a display on standard output.
void ShowCommandLineHelp();

// Whether the command line must hold the one-instance lock: everything but "/STATUS" without
// "/RUN", "/VERIFY" and "/RESTORE", which read and so answer while an agent runs (and never
// take the lock, so that an agent starting meanwhile is not refused).
bool NeedsInstanceLock(const std::string& sCommandLine);

// "/STATUS": one line per job on standard output (name, state, last run, last success, next
// run, TAB-separated); iExitStatus becomes 1 when an active job is failed or stale.
void PrintStatus(int& iExitStatus);

// Processes the command line: "/?", "/RESTORE" and "/VERIFY" (which end the program),
// "/RUN" jobs (run at once), unknown switches, "/STATUS" (after the jobs; ends the program),
// "/EXIT".
// Returns true when the program ends here; iExitStatus is then the process status. When it
// returns false, iExitStatus holds the outcome of the "/RUN" jobs (0 or 1) for the end.
bool DirectExecute(const std::string& sCommandLine, int& iExitStatus);

// Installs the translation "stowline_<locale>.qm" found in sFolder or in its "translations"
// subfolder (the closest match for the locale: "de_DE" falls back to "de"), in place of the one
// installed before. Returns false, leaving the English texts, when none is found.
bool InstallTranslation(const std::string& sFolder, const std::string& sLocale);

// True when a display can be used: DISPLAY or WAYLAND_DISPLAY set, and the Qt platform is not

// offscreen or minimal.
bool DisplayAvailable();

// The tray menu's "Exit Stowline" (and, without a notification area, the File menu's): saves the
// preferences, stops the timer, removes the tray icon, unloads the main window and the agent,
// lets events run once, closes whatever is still open, and ends the event loop. Refused while a
// run is in progress.
void ExitStowline();

} // namespace appSetup
