#pragma once
// The single error-report procedure: appends a report block to the error file,
// shows a message box and, when fatal, ends the process with status 3.

#include "support/StowError.h"

#include <functional>
#include <string>

namespace libErrorHandler {

// Appends the seven-line block to libLog::ErrorFileName(); fatal: "Fatal Application Error" box,
// then the fatal-exit hook (default std::_Exit(3)); otherwise "Non Fatal Application Error" box.
void HandleError(bool bFatal, const StowError& err, const std::string& sModuleName, const std::string& sProcedureName,
                 const std::string& sDetails);

// "ERR#" + Number + " @ " + Source + " - " + Description.
std::string Headline(const StowError& err);
// The exact block text HandleError appends (dates from libDates::Now()).
std::string ReportBlock(bool bFatal, const StowError& err, const std::string& sModuleName,
                        const std::string& sProcedureName, const std::string& sDetails);

// Replaces the fatal end (tests throw from it). An empty function restores std::_Exit(3).
// The hook must not return; if it does, the process ends with status 3. A test hook should throw
// a type NOT derived from std::exception, so that enclosing traps do not report it again.
void SetFatalExitHook(std::function<void()> hook);

// Runs f inside the error trap of an operation (fatal report with module and procedure).
// When the fatal hook throws, that exception passes through.
template <class F> auto Trap(const char* sModule, const char* sProcedure, F f) -> decltype(f()) {
    try {
        return f();
    } catch (const std::exception& e) {
        HandleError(true, ErrorFromException(e), sModule, sProcedure, "");
        throw; // reached only when a test hook returned; never silently continue
    }
}

} // namespace libErrorHandler
