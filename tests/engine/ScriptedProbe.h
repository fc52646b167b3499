#pragma once
// A file system probe a test scripts: a look-up can fail with a chosen errno (a drive without
// a medium) and a source can refuse to open (running as root, modes cannot do that). Anything
// not scripted goes to the real file system.

#include "engine/FileSystemProbe.h"

#include <cerrno>
#include <functional>
#include <string>

struct ScriptedProbe : FileSystemProbe {
    // The errno of a failed look-up of that path; 0 looks it up for real.
    std::function<int(const std::string& sPath)> LookUpError;
    // The errno the opening of that source fails with; 0 opens it for real.
    std::function<int(const std::string& sPath)> OpenError;

    int LookUp(const std::string& sPath, struct stat& st) const override {
        if (LookUpError) {
            const int iErr = LookUpError(sPath);
            if (iErr != 0) return iErr;
        }
        return FileSystemProbe::LookUp(sPath, st);
    }
    int OpenSource(const std::string& sPath) const override {
        const int iErr = OpenError ? OpenError(sPath) : 0;
        if (iErr == 0) return FileSystemProbe::OpenSource(sPath);
        errno = iErr;
        return -1;
    }
};
