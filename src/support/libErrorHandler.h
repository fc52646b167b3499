#pragma once
// The single error-report procedure: appends a report block to the error file,
// shows a message box and, when fatal, unwinds to main, which ends the process with status 3.

#include "support/StowError.h"

#include <string>

namespace libErrorHandler {

// Thrown by a fatal report once its block is written and its box dismissed. Deliberately not a
// std::exception, so that no error trap on the way out reports it again; only main and the event
// loop's entry catch it, and they end the process with status 3 after every destructor ran.
// Code that must catch everything (catch (...)) rethrows it.
struct FatalApplicationError {};

// Appends the seven-line block to libLog::ErrorFileName(); fatal: "Fatal Application Error" box,
// then throws FatalApplicationError; otherwise "Non Fatal Application Error" box and returns.
void HandleError(bool bFatal, const StowError& err, const std::string& sModuleName, const std::string& sProcedureName,
                 const std::string& sDetails);

// "ERR#" + Number + " @ " + Source + " - " + Description.
std::string Headline(const StowError& err);
// The exact block text HandleError appends (dates from libDates::Now()).
std::string ReportBlock(bool bFatal, const StowError& err, const std::string& sModuleName,
                        const std::string& sProcedureName, const std::string& sDetails);

// Runs f inside the error trap of an operation (fatal report with module and procedure).
// A FatalApplicationError from deeper down passes through unreported.
template <class F> auto Trap(const char* sModule, const char* sProcedure, F f) -> decltype(f()) {
    try {
        return f();
    } catch (const std::exception& e) {
        HandleError(true, ErrorFromException(e), sModule, sProcedure, "");
        throw FatalApplicationError{}; // not reached: tells the compiler a fatal report never returns
    }
}

} // namespace libErrorHandler
