#include "engine/FileSystemProbe.h"

#include <cerrno>
#include <fcntl.h>

int FileSystemProbe::LookUp(const std::string& sPath, struct stat& st) const {
    return ::stat(sPath.c_str(), &st) == 0 ? 0 : errno;
}

int FileSystemProbe::OpenSource(const std::string& sPath) const {
    int fd;
    do {
        fd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

const FileSystemProbe& FileSystemProbe::Real() {
    static const FileSystemProbe real;
    return real;
}
