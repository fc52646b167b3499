#include "support/appMisc.h"

#include "support/UserInteraction.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace appMisc {

namespace {
std::mutex g_mutex;
std::string g_override;
std::string g_default;

// Creates a folder and its missing parents, 0700: the application folder holds the job files,
// logs and archive flags of one user (and missing parents of ~/.local/share are made so too, as
// the base directory rules ask). Existing folders keep their mode.
bool MakeTree(const std::string& sFolder) {
    std::string s;
    for (size_t i = 0; i < sFolder.size(); ++i) {
        s += sFolder[i];
        if ((sFolder[i] == '/' || i + 1 == sFolder.size()) && s.size() > 1 && !libFiles::DirExists(s))
            if (::mkdir(s.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return libFiles::DirExists(sFolder);
}

std::string DefaultFolder() {
    std::string sExe = ExePath();
    if (!sExe.empty()) {
        std::string sDir = libFiles::FilePathStripFileName(sExe);
        // An installed program (<prefix>/bin beside <prefix>/share/stowline) keeps each user's
        // files in the user's folder, also when run as root: /usr/bin is no place for them.
        const bool bInstalled = libFiles::DirExists(sDir + "../share/stowline");
        if (!sDir.empty() && !bInstalled && ::access(sDir.c_str(), W_OK) == 0) return sDir;
    }
    std::string sBase;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/')
        sBase = x;
    else if (const char* h = std::getenv("HOME"); h && *h)
        sBase = std::string(h) + "/.local/share";
    else
        sBase = "/tmp";
    return libFiles::AddTrailingSlash(sBase) + "stowline/";
}
} // namespace

std::string AppFolder() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::string& s = g_override.empty() ? g_default : g_override;
    if (s.empty()) s = DefaultFolder();
    if (!libFiles::DirExists(s)) MakeTree(s);
    return s;
}

void SetAppFolder(const std::string& sPath) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_override = sPath.empty() ? std::string() : libFiles::AddTrailingSlash(sPath);
    if (!g_override.empty() && !libFiles::DirExists(g_override)) MakeTree(g_override);
}

std::string ExeBaseName() { return "stowline"; }

std::string ExePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    return std::string(buf, static_cast<size_t>(n));
}

std::string JobFolder() { return AppFolder() + "BackupJobs/"; }

std::string ComputerName() {
    try {
        char buf[256] = {};
        if (::gethostname(buf, sizeof buf - 1) != 0) return "";
        return std::string(buf); // cut at the first NUL
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "appMisc", "ComputerName()", "");
        return "";
    }
}

void OpenWebPage(const std::string& sUrl) {
    using namespace UserInteraction;
    try {
        if (Ui().OpenDocument(sUrl)) return;
        MsgBox("Stowline was unable to open the following url on your system:\r\n" + sUrl, Buttons::OK,
               Icon::Exclamation, "Error Opening Webpage");
    } catch (const libErrorHandler::FatalApplicationError&) {
        throw;
    } catch (...) {
        // Opening a web page never reports errors.
    }
}

void ShowHelpContents() { UserInteraction::Ui().ShowHelp(""); }
void ShowHelpIndex() { UserInteraction::Ui().ShowHelp("index"); }

} // namespace appMisc
