#include "support/libErrorHandler.h"

#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/libDates.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <cstdio>
#include <cstring>

namespace libErrorHandler {

namespace {
std::string Clean(const std::string& sText, char cReplacement) {
    if (sText.empty()) return "Null";
    std::string s = sText;
    for (char& c : s)
        if (c == '\'' || c == '"' || c == ';') c = cReplacement;
    return s;
}
} // namespace

std::string Headline(const StowError& err) {
    return "ERR#" + std::to_string(err.Number) + " @ " + err.Source + " - " + err.Description;
}

std::string ReportBlock(bool bFatal, const StowError& err, const std::string& sModuleName,
                        const std::string& sProcedureName, const std::string& sDetails) {
    const std::string sHeadline = Headline(err);
    const std::string sDetailText = sHeadline + "\r\n" + std::string(40, '-') + "\r\n" +
                                    "Module/Function: " + sModuleName + "/" + sProcedureName + "." + "\r\n\r\n" +
                                    sDetails;
    std::string s;
    s += std::string(80, '-') + "\r\n";
    s += "Date:        " + libDates::ShortDateTime(libDates::Now()) + "\r\n";
    s += "Computer:    " + appMisc::ComputerName() + "\r\n";
    s += std::string("Severity:    ") + (bFatal ? "Fatal" : "Non-Fatal") + "\r\n";
    s += "Description: " + Clean(sHeadline, '~') + "\r\n";
    s += "Last DLL:    " + std::to_string(err.Errno) + "\r\n";
    s += "Details:     " + Clean(sDetailText, '`') + "\r\n";
    return s;
}

void HandleError(bool bFatal, const StowError& err, const std::string& sModuleName, const std::string& sProcedureName,
                 const std::string& sDetails) {
    using namespace UserInteraction;
    const std::string sFile = libLog::ErrorFileName();
    const std::string sBlock = ReportBlock(bFatal, err, sModuleName, sProcedureName, sDetails);
    try {
        libFiles::AppendToFile(sFile, sBlock);
    } catch (const std::exception& e) {
        // The report cannot be kept (full disk, read-only folder): it goes to standard error so
        // that it is never lost in silence; the box and the fatal end follow as usual.
        const StowError writeErr = ErrorFromException(e);
        const std::string s =
            "stowline: cannot write the error report '" + sFile + "': " + writeErr.Reason() + ":\n" + sBlock;
        std::fwrite(s.data(), 1, s.size(), stderr);
        std::fflush(stderr);
    }
    const std::string sHeadline = Clean(Headline(err), '~');
    if (bFatal) {
        MsgBox(sHeadline + "\r\n\r\n" + "Application will now terminate.", Buttons::OK, Icon::Exclamation,
               "Fatal Application Error");
        throw FatalApplicationError{};
    }
    MsgBox(sHeadline + "\r\n\r\n" + "Press Ok to Continue.", Buttons::OK, Icon::Exclamation,
           "Non Fatal Application Error");
}

} // namespace libErrorHandler
