#pragma once
// What the restore and the verification share: opening an archive for reading and listing its
// entries. Not for other callers.

#include "engine/libRestore.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>
#include <zip.h>

class CBackupJob;

namespace libRestore {
class Listing;
}

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
// Each entry of a backup as it is read, handed to add (which may take its strings).
using EntrySink = std::function<void(Entry& e)>;
bool ReadArchiveEntries(zip_t* pZip, const EntrySink& add, std::string& sError);
// What libzip holds of entry uIndex, added to what the directory's own bytes gave (e.Name,
// e.Damage, e.DataStart; sAes the entry's WinZip AES field, "" when none).
bool CompleteEntry(zip_t* pZip, uint64_t uIndex, const std::string& sAes, Entry& e, std::string& sError);

// What the directory says of an entry, as libzip gives it or as the archive check reads it.
struct EntryFacts {
    uint64_t Size = 0;
    uint64_t StoredSize = 0;
    uint32_t Crc = 0;
    uint16_t Method = 0; // UINT16_MAX: not known
    bool Encrypted = false;
    uint8_t System = 0; // of the attributes: the high byte of "version made by"
    uint32_t Attributes = 0;
    int64_t MTime = 0; // seconds since 1970
};
// Entry uIndex made whole from its facts, as CompleteEntry makes it (e.Name set before).
void FillEntry(uint64_t uIndex, const EntryFacts& f, const std::string& sAes, Entry& e);

// Lists the archive open on iFd (named sPath) into listing: from its directory's own bytes,
// or, where the directory holds what zip readers read in more than one way (see
// ArchiveCheck::Scan::Unusual) or cannot be read whole, with libzip's view of each entry, of
// the same file. Ok, or Unreadable with sError as ReadContents says it; listing then empty.
Status ListArchive(int iFd, const std::string& sPath, Listing& listing, std::string& sError);
// The archive opened for ListArchive, never waiting on a pipe or device put under its name;
// -1 with sError as OpenArchive says it.
int OpenForListing(const std::string& sPath, std::string& sError);

// A copy tree's entries in walk order; "" when all were listed, or where the listing stopped.
std::string ReadCopyTree(const CBackupJob& job, const std::string& sTarget, bool bSnapshot, const EntrySink& add);

// The positions of the uCount entries named so that a restore of selection takes (nullptr:
// all), in order, each once: a selected folder brings everything below it.
void SelectPositions(size_t uCount, const std::function<std::string_view(size_t)>& name,
                     const std::vector<Entry>* selection, const std::function<void(size_t)>& take);

// Whether an entry matches one of Filter's specifications.
bool MatchesAny(const Entry& e, const std::vector<std::string>& specs);

// Ok, WrongPassword or Unreadable (sWhy says why: damaged or not read) for an AES entry's
// verifier and authentication code; Ok for any other entry. pZip must come from OpenArchive.
Status CheckAes(zip_t* pZip, const Entry& e, const std::string& sPassword, std::string& sWhy);

// Whether a read error at the end of an AE-2 entry whose code CheckAes found sound is only
// libzip holding the data to the CRC field such entries leave at 0 (some versions do):
// every declared byte came, and the error is a CRC error.
bool ZeroCrcMisread(const Entry& e, uint64_t lRead, int iZipError);

} // namespace libRestore::detail
