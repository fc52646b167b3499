#pragma once
// Where a backup run and its zip engine meet the file system to look a path up and to open a
// source file. A run is handed one (the real file system unless said otherwise); a test hands
// its own to make a drive lack a medium or a file unreadable, which running as root cannot do
// with modes.

#include <string>
#include <sys/stat.h>

class FileSystemProbe {
public:
    virtual ~FileSystemProbe() = default;

    // Looks a path up (following links): 0 with its status in st, or the errno of the failed
    // look-up (ENOMEDIUM: a drive without a medium).
    virtual int LookUp(const std::string& sPath, struct stat& st) const;
    // Opens a source file for reading: a descriptor, or -1 with errno set. Called from the zip
    // engine's deflate workers too, so an override must be safe to call from any thread.
    virtual int OpenSource(const std::string& sPath) const;

    // The real file system (holds no state).
    static const FileSystemProbe& Real();
};
