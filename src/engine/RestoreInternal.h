#pragma once
// What the restore and the verification share: opening an archive for reading and listing its
// entries. Not for other callers.

#include "engine/libRestore.h"

#include <string>
#include <vector>
#include <zip.h>

namespace libRestore::detail {

// Opens a copy tree's root folder as it is named; a snapshot's own folder is never followed
// when it is a link. -1 with errno set.
int OpenTreeRoot(const std::string& sPath, bool bSnapshot);

// libzip's text for an error code.
std::string ZipErrorText(int iCode);
// Opens an archive read-only (iFlags adds ZIP_CHECKCONS and the like) on a descriptor kept
// for ReadArchiveEntries' checks; nullptr with sError set.
zip_t* OpenArchive(const std::string& sPath, int iFlags, std::string& sError);
// Appends the archive's entries (name as its exact bytes, size, CRC, Unix mode, modification
// time, and the Damage found in its headers: see ArchiveCheck.h). pZip must come from
// OpenArchive. False when the central directory cannot be read whole.
bool ReadArchiveEntries(zip_t* pZip, std::vector<Entry>& entries, std::string& sError);

// Ok, WrongPassword or Unreadable (sWhy says why: damaged or not read) for an AES entry's
// verifier and authentication code; Ok for any other entry. pZip must come from OpenArchive.
Status CheckAes(zip_t* pZip, const Entry& e, const std::string& sPassword, std::string& sWhy);

// Whether a read error at the end of an AE-2 entry whose code CheckAes found sound is only
// libzip holding the data to the CRC field such entries leave at 0 (some versions do):
// every declared byte came, and the error is a CRC error.
bool ZeroCrcMisread(const Entry& e, uint64_t lRead, int iZipError);

} // namespace libRestore::detail
