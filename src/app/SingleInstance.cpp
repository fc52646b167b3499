#include "app/SingleInstance.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SingleInstance {

namespace {
int g_lockFd = -1;

uint64_t Fnv1a64(const std::string& s) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h;
}

bool IsOwnedFolder(const std::string& sPath) {
    struct stat st {};
    if (lstat(sPath.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == getuid();
}
} // namespace

std::string RuntimeFolder() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg == '/') {
        struct stat st {};
        if (stat(xdg, &st) == 0 && S_ISDIR(st.st_mode) && access(xdg, W_OK) == 0) {
            std::string s = xdg;
            if (s.back() != '/') s += '/';
            return s;
        }
    }
    std::string s = "/tmp/stowline-" + std::to_string(getuid());
    if (mkdir(s.c_str(), 0700) != 0 && errno != EEXIST) return "";
    // Someone else's folder of that name must not receive our lock file.
    if (!IsOwnedFolder(s)) return "";
    return s + "/";
}

std::string LockFileName(const std::string& sExePath) {
    std::string folder = RuntimeFolder();
    if (folder.empty()) return "";
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Fnv1a64(sExePath)));
    return folder + "stowline-" + hex + ".lock";
}

LockResult AcquireLock(const std::string& sExePath) {
    if (g_lockFd >= 0) return LockResult::Acquired;
    std::string name = LockFileName(sExePath);
    if (name.empty()) return LockResult::Unavailable;
    int fd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return LockResult::Unavailable;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        close(fd);
        return err == EWOULDBLOCK ? LockResult::Refused : LockResult::Unavailable;
    }
    g_lockFd = fd;
    return LockResult::Acquired;
}

void ReleaseLock() {
    if (g_lockFd < 0) return;
    flock(g_lockFd, LOCK_UN);
    close(g_lockFd);
    g_lockFd = -1;
}

} // namespace SingleInstance
