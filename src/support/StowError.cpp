#include "support/StowError.h"

#include <cerrno>
#include <cstring>
#include <system_error>

StowError::StowError(int iNumber, std::string sDescription, int iErrno, std::string sSource)
    : std::runtime_error(sDescription), Number(iNumber), Source(std::move(sSource)),
      Description(std::move(sDescription)), Errno(iErrno) {}

std::string StowError::Reason() const { return Errno != 0 ? std::strerror(Errno) : Description; }

int ErrorNumberFromErrno(int iErrno) {
    switch (iErrno) {
    case ENOMEDIUM:
    case ENXIO:
        return StowErrors::NoMedium;
    case ENOENT:
        return StowErrors::FileNotFound;
    case EIO:
        return StowErrors::DeviceIO;
    case ENOSPC:
    case EDQUOT:
        return StowErrors::DiskFull;
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
    case EROFS:
        return StowErrors::PermissionDenied;
    case ENOTDIR:
        return StowErrors::PathNotFound;
    default:
        return StowErrors::PathFileAccess;
    }
}

StowError ErrorFromErrno(int iErrno, const std::string& sPath) {
    std::string sText = std::strerror(iErrno);
    if (!sPath.empty()) sText += ": " + sPath;
    return StowError(ErrorNumberFromErrno(iErrno), sText, iErrno);
}

StowError ErrorFromException(const std::exception& e) {
    if (auto* p = dynamic_cast<const StowError*>(&e)) return *p;
    if (auto* p = dynamic_cast<const std::system_error*>(&e)) {
        int iErr = p->code().value();
        return StowError(ErrorNumberFromErrno(iErr), p->what(), iErr);
    }
    if (dynamic_cast<const std::bad_alloc*>(&e)) return StowError(7, "Out of memory");
    if (dynamic_cast<const std::out_of_range*>(&e) || dynamic_cast<const std::overflow_error*>(&e))
        return StowError(StowErrors::Overflow, std::string("Overflow: ") + e.what());
    return StowError(StowErrors::Internal, e.what());
}
