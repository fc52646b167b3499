#include "engine/TargetFlush.h"

#include "support/StowError.h"
#include "support/libFiles.h"

#include <cerrno>
#include <sys/stat.h>
#include <utility>

TargetFlush::TargetFlush(std::string sTarget) : m_sTarget(sTarget.empty() ? "/" : std::move(sTarget)) {}

int TargetFlush::Flush() {
    if (!m_bDirty) return 0;
    try {
        libFiles::SyncFileSystem(m_sTarget);
    } catch (const StowError& e) {
        return e.Errno != 0 ? e.Errno : EIO;
    }
    m_bDirty = false;
    return 0;
}

bool TargetFlush::Covers(const std::string& sPath) const {
    struct stat target {};
    struct stat path {};
    return ::stat(m_sTarget.c_str(), &target) == 0 && ::stat(sPath.empty() ? "/" : sPath.c_str(), &path) == 0 &&
           target.st_dev == path.st_dev;
}
