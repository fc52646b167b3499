#include "app/SingleInstance.h"

#include "support/FileLock.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace SingleInstance {

namespace {
FileLock g_lock;

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
    if (g_lock.Held()) return LockResult::Acquired;
    if (!g_lock.Open(LockFileName(sExePath))) return LockResult::Unavailable;
    const FileLock::Result result = g_lock.Try(FileLock::Mode::Exclusive);
    if (result == FileLock::Result::Held) return LockResult::Acquired;
    g_lock.Release(); // the file stays open only while it is held
    return result == FileLock::Result::Busy ? LockResult::Refused : LockResult::Unavailable;
}

void ReleaseLock() { g_lock.Release(); }

} // namespace SingleInstance
