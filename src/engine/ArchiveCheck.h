#pragma once
// What the zip format leaves unchecked, checked: the central directory carries no checksum of
// its own, so one flipped bit in an entry's external attributes turns a file into a link, and
// nothing stops two entries from claiming the same data. Stowline's writer gives every central
// header a private extra field holding a CRC-32 of that header's other bytes, its place in the
// directory and the directory's entry count; other zip programs skip the unknown field. The
// headers of one archive carry one count and rising places: a header out of that order
// (moved, copied, brought in) is damage; headers removed leave the rest sound.
//
// The field (ID 0x4C53, the bytes "SL"; no zip program or the format's registry of IDs uses it):
//   1 byte   layout version (1)
//   8 bytes  the entry's index in the central directory, little-endian
//   8 bytes  the number of entries in the central directory, little-endian
//   4 bytes  CRC-32 of: the header's 46 fixed bytes (signature to local header offset, the
//            lengths as written, this field included in the extra length), the name, every
//            other extra field whole (Zip64 and 0x5455 too, in order), the comment, then the
//            17 bytes above; the local header offset counts as zero there (in the Zip64 field
//            too): a program that removes an entry moves the others, and a wrong offset shows as
//            a local header of another name (or none)
// It is the last extra field of the central header. The local header is left as it is: the
// entry's CRC covers its data and the central checksum covers the CRC.
//
// The reader scans the central directory from the file's bytes itself (end record, Zip64
// locator and record), bounds-checking every declared offset and length against the file, so
// it also gives names as their exact bytes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ArchiveCheck {

constexpr uint16_t HeaderSumId = 0x4C53;
constexpr uint16_t HeaderSumLength = 21; // the field's data, without its 4-byte head

// The whole field (head included) for a central header: sHeader is the header as it will be
// written without this field (the extra length already counting it), sComment its comment.
std::string HeaderSumField(std::string_view sHeader, std::string_view sComment, uint64_t lIndex, uint64_t lCount);

struct RawEntry {
    std::string Name;       // the name's bytes exactly as stored
    std::string Damage;     // why the entry cannot be trusted ("" when it reads as sound)
    std::string Aes;        // the data of its WinZip AES field (0x9901, 7 bytes), "" when it has none
    uint64_t DataStart = 0; // where its stored data begins in the file (sound entries only)
};

// What a central header says of its entry besides RawEntry, the Zip64 values applied.
struct HeaderFields {
    uint16_t MadeBy = 0; // "version made by": its high byte names the system of Attributes
    uint16_t Flags = 0;
    uint16_t Method = 0;     // the real method (a WinZip AES entry's from its field)
    bool Encrypted = false;  // the encryption flag, or the WinZip AES method
    uint32_t DosTime = 0;    // MS-DOS time (low 16 bits) and date (high 16 bits)
    uint32_t Crc = 0;        // as the header holds it
    uint64_t Size = 0;       // uncompressed
    uint64_t CompSize = 0;   // as stored
    uint32_t Attributes = 0; // external attributes
    // The modification time of the first extended timestamp field (0x5455) of the central
    // header, or, when it has none, of the local header; HasMTime false when neither gives one.
    bool HasMTime = false;
    int64_t MTime = 0;
    // The entry's header, or the directory, has something zip readers read in more than one
    // way (see Scan::Unusual): its fields above may not be what another reader sees.
    bool Unusual = false;
};

struct ScannedEntry {
    RawEntry Raw;
    HeaderFields Fields;
};

// The central directory of the archive open on a descriptor, read twice in bounded windows:
// once to check its layout and learn what the checks need of the whole directory (the count
// most headers name, whether any header carries a checksum), then entry by entry. Memory does
// not grow with the number of entries (but for archives whose local headers do not follow the
// directory's order, whose places are then sorted).
class Scan {
public:
    explicit Scan(int iFd);
    ~Scan();
    Scan(const Scan&) = delete;
    Scan& operator=(const Scan&) = delete;

    // The first reading. False with sError when the directory cannot be found or read whole
    // (then no entry of the archive can be trusted).
    bool Open(std::string& sError);
    uint64_t Count() const;
    // Whether the directory holds what zip readers read in more than one way: more than one
    // end record, a comment that does not end the file, end records that disagree, room
    // between the directory and its end records, extra fields that do not divide into whole
    // fields, a Zip64 field of another length than its header asks for, a name or comment
    // flagged UTF-8 that is not, an empty name, a WinZip AES method without a sound field, an
    // extended timestamp without a modification time. Known after Open (and for an entry whose
    // time only its local header gives, from its Fields).
    bool Unusual() const;
    // The second reading: each entry in directory order, its damage found as ScanArchive
    // finds it; shared(i) then names each entry i found to share its data with another (its
    // damage is then that, "shares its data with another entry"). False with sError as Open.
    bool Each(const std::function<void(ScannedEntry&)>& each, const std::function<void(uint64_t)>& shared,
              std::string& sError);

private:
    struct State;
    std::unique_ptr<State> m_p;
};

// The damage of an entry found sharing its data with another.
extern const char* const SharedData;

// Reads the central directory of the archive open on iFd, one RawEntry per central header in
// order. False with sError when the directory cannot be found or read whole (then no entry of
// the archive can be trusted).
bool ScanArchive(int iFd, std::vector<RawEntry>& entries, std::string& sError);

} // namespace ArchiveCheck
