#pragma once
// Archives opened for reading through a descriptor Stowline keeps, so that the central
// directory's own bytes can be checked (ArchiveCheck) for the very file libzip reads, even
// when the name is given to another file meanwhile. The descriptor lives as long as the
// zip_t: libzip closes it when the archive is discarded.

#include <string>
#include <zip.h>

namespace ArchiveSource {

// Opens sPath read-only (iFlags adds ZIP_CHECKCONS and the like). nullptr with iErr set to
// libzip's error code (and errno to the system's, where there is one).
zip_t* Open(const std::string& sPath, int iFlags, int& iErr);

// The descriptor an archive opened by Open reads from; -1 for any other.
int Fd(zip_t* pZip);

} // namespace ArchiveSource
