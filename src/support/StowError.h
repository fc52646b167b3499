#pragma once
// An unexpected error, carried by exception to the trap of the operation that
// met it. Operating-system errors get the numbers of the classic runtime so the
// program's rules keep their meaning; Errno holds the system's errno (0 when none).

#include <stdexcept>
#include <string>

struct StowError : std::runtime_error {
    int Number = 0;
    std::string Source;
    std::string Description;
    int Errno = 0;

    StowError(int iNumber, std::string sDescription, int iErrno = 0, std::string sSource = "Stowline");
    // The system's words for Errno ("No space left on device"), or Description when there is none.
    std::string Reason() const;
};

namespace StowErrors {
constexpr int NoMedium = 52;
constexpr int FileNotFound = 53;
constexpr int DeviceIO = 57;
constexpr int DiskFull = 61;
constexpr int PermissionDenied = 70;
constexpr int PathFileAccess = 75;
constexpr int PathNotFound = 76;
constexpr int Overflow = 6;
constexpr int TypeMismatch = 13;
constexpr int Internal = 51;
} // namespace StowErrors

// The classic error number for an errno value (ENOENT -> 53, EACCES -> 70, ...).
int ErrorNumberFromErrno(int iErrno);
// A StowError for the current errno, with the system's message and, when given, the path.
StowError ErrorFromErrno(int iErrno, const std::string& sPath = "");
// The same for a std::exception of any kind (a StowError passes through unchanged).
StowError ErrorFromException(const std::exception& e);
