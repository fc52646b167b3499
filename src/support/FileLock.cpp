#include "support/FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace {
int Operation(FileLock::Mode mode) { return mode == FileLock::Mode::Shared ? LOCK_SH : LOCK_EX; }
} // namespace

FileLock::FileLock(FileLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_bHeld(std::exchange(other.m_bHeld, false)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_fd = std::exchange(other.m_fd, -1);
        m_bHeld = std::exchange(other.m_bHeld, false);
    }
    return *this;
}

bool FileLock::Open(const std::string& sPath) {
    Release();
    if (sPath.empty()) return false;
    m_fd = ::open(sPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // Someone allowed to read the lock file but not to write it can still lock it.
    if (m_fd < 0 && errno == EACCES) m_fd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    return m_fd >= 0;
}

FileLock::Result FileLock::Try(Mode mode) {
    if (m_fd < 0) return Result::Unavailable;
    int iResult;
    do {
        iResult = ::flock(m_fd, Operation(mode) | LOCK_NB);
    } while (iResult != 0 && errno == EINTR);
    if (iResult == 0) {
        m_bHeld = true;
        return Result::Held;
    }
    return errno == EWOULDBLOCK ? Result::Busy : Result::Unavailable;
}

bool FileLock::Wait(Mode mode) {
    if (m_fd < 0) return false;
    int iResult;
    do {
        iResult = ::flock(m_fd, Operation(mode));
    } while (iResult != 0 && errno == EINTR);
    m_bHeld = iResult == 0;
    return m_bHeld;
}

void FileLock::Release() {
    if (m_fd < 0) return;
    if (m_bHeld) ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
    m_bHeld = false;
}
