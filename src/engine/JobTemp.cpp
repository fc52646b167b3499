#include "engine/JobTemp.h"

#include "support/StowError.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace JobTemp {

std::string FolderOf(const std::string& sTarget, const std::string& sJobName) {
    return libFiles::AddTrailingSlash(sTarget) + Prefix + libStrings::StripFileNameChars(sJobName) + "/";
}

bool IsTempName(const std::string& sName) { return sName.rfind(Prefix, 0) == 0; }

bool Reclaim(const std::string& sFolder) {
    struct stat st {};
    const std::string sPath = libFiles::RemoveTrailingSlash(sFolder);
    if (::lstat(sPath.c_str(), &st) != 0) return true;
    uint64_t lBytes = 0;
    bool bOk;
    if (S_ISDIR(st.st_mode)) {
        bOk = libFiles::RemoveTree(sPath, lBytes);
    } else {
        // Not ours as we make it, but it bears the job's temporary name: it goes too.
        lBytes = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
        bOk = ::unlink(sPath.c_str()) == 0;
    }
    const int iErr = errno;
    libLog::LogEvent("  Reclaimed " + std::to_string(lBytes) + " bytes left by an interrupted run in '" + sFolder +
                     "'");
    if (!bOk) libLog::LogEvent("  Could not remove all leftovers in '" + sFolder + "': " + std::strerror(iErr));
    return bOk;
}

void Create(const std::string& sFolder) {
    const std::string sPath = libFiles::RemoveTrailingSlash(sFolder);
    if (::mkdir(sPath.c_str(), 0700) == 0) return;
    const int iErr = errno;
    struct stat st {};
    if (iErr == EEXIST && ::lstat(sPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
    throw ErrorFromErrno(iErr, sPath);
}

void Remove(const std::string& sFolder) {
    uint64_t lBytes = 0;
    (void)libFiles::RemoveTree(libFiles::RemoveTrailingSlash(sFolder), lBytes);
}

} // namespace JobTemp
