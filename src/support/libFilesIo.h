#pragma once
// The file helper's own pieces shared by its source files (not for use outside libFiles).

#include <string>
#include <unistd.h>

namespace libFiles::detail {

// Throws the StowError of errno for sPath.
[[noreturn]] void ThrowErrno(const std::string& sPath);
// The folder part of a path with its final "/"; "./" when there is none.
std::string FolderOf(const std::string& sPath);
// Writes all n bytes, going on after interruptions; throws on failure.
void WriteAll(int fd, const char* p, size_t n, const std::string& sPath);

// A descriptor closed at the end of its scope.
struct Fd {
    int fd = -1;
    Fd() = default;
    // One owner: a copy would close the descriptor twice.
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace libFiles::detail
