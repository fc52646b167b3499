#pragma once
// One instance per user and installation: an advisory lock, held for the life of the
// process, on a file in the user's runtime folder whose name derives from the
// executable's full path (so a copy of the program elsewhere is another installation).
// Qt-free, so that the headless paths need no application object.

#include <string>

namespace SingleInstance {

enum class LockResult { Acquired, Refused, Unavailable };

// $XDG_RUNTIME_DIR when it is an existing folder, else /tmp/stowline-<uid> (created 0700 and
// refused when it belongs to someone else). Ends with "/". "" when no usable folder exists.
std::string RuntimeFolder();
// RuntimeFolder() + "stowline-" + 16 hex digits of a hash of sExePath + ".lock".
std::string LockFileName(const std::string& sExePath);
// Takes the lock for this process (kept until ReleaseLock or the end of the process). The lock
// file descriptor is not inherited by programs started later. Unavailable: no runtime folder
// or lock file could be had; the caller goes on without the guarantee.
LockResult AcquireLock(const std::string& sExePath);
void ReleaseLock();

} // namespace SingleInstance
