#pragma once
// A backup's contents held compactly: a fixed record an entry and its names packed in large
// blocks (about 0.17 KiB an entry on a home folder, half of what a vector of Entry takes), and
// nothing moved when it grows (a growing vector holds its old and new room at once). Entries
// are made whole one at a time as they are read. What /RESTORE lists a whole backup into.

#include "engine/libRestore.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace libRestore {

class Listing {
public:
    Listing() = default;
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

    size_t Count() const { return m_items.size(); }
    void Add(const Entry& e);
    // Entry i again, completed (its name unchanged).
    void Set(size_t i, const Entry& e);
    void SetDamage(size_t i, const std::string& sDamage);
    void Clear();
    // Entry i made whole in e (its strings keep their room from one call to the next).
    void Get(size_t i, Entry& e) const;
    std::string_view Name(size_t i) const { return {m_items[i].Name, m_items[i].NameLen}; }
    uint64_t Size(size_t i) const { return m_items[i].Size; }
    bool IsDir(size_t i) const { return (m_items[i].Flags & Dir) != 0; }

private:
    enum : uint8_t { Dir = 1, Link = 2, CrcKnown = 4, Encrypted = 8 };
    struct Item {
        const char* Name; // in m_blocks
        uint64_t Size;
        int64_t MTimeNs;
        uint64_t Index;
        uint64_t DataStart;
        uint64_t StoredSize;
        uint32_t NameLen;
        uint32_t Head;    // the original path is m_heads[Head] and the last TailLen bytes of
        uint32_t TailLen; // the name (without its final "/")
        uint32_t Mode;
        uint32_t Crc;
        uint16_t Method;
        uint8_t AesStrength;
        uint8_t Flags;
    };
    const char* Keep(std::string_view s);
    void Fill(Item& item, const Entry& e);

    std::deque<Item> m_items;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    size_t m_uFree = 0; // bytes left at the end of the last block
    char* m_pFree = nullptr;
    std::unordered_map<size_t, std::string> m_damage; // the few entries that carry one
    // The distinct heads of original paths ("/" for an archive, a source's folder for a copy).
    std::vector<std::string> m_heads;
    std::unordered_map<std::string, uint32_t> m_headIndex;
};

// The entries a restore reads, by position: a vector of them or a listing.
class EntryTable {
public:
    explicit EntryTable(const std::vector<Entry>& all) : m_pVector(&all) {}
    explicit EntryTable(const Listing& all) : m_pListing(&all) {}
    size_t Count() const { return m_pVector ? m_pVector->size() : m_pListing->Count(); }
    // Entry i: the vector's own, or made whole in scratch.
    const Entry& At(size_t i, Entry& scratch) const {
        if (m_pVector) return (*m_pVector)[i];
        m_pListing->Get(i, scratch);
        return scratch;
    }
    std::string_view Name(size_t i) const { return m_pVector ? (*m_pVector)[i].Name : m_pListing->Name(i); }
    uint64_t Size(size_t i) const { return m_pVector ? (*m_pVector)[i].Size : m_pListing->Size(i); }
    bool IsDir(size_t i) const { return m_pVector ? (*m_pVector)[i].IsDir : m_pListing->IsDir(i); }
    // The positions a restore of selection takes (nullptr: all), as SelectEntries.
    void Select(const std::vector<Entry>* selection, std::vector<size_t>& todo, uint64_t& lTotal) const;

private:
    const std::vector<Entry>* m_pVector = nullptr;
    const Listing* m_pListing = nullptr;
};

// The contents of a backup (as ReadContents) into a listing: an archive's from its central
// directory's own bytes, read in bounded windows; libzip's tables are built only for a
// directory that zip readers may read in more than one way (see detail::ListArchive).
Status ReadContents(const CBackupJob& job, const BackupInfo& backup, Listing& listing, std::string& sError);

// The entries whose name or path matches one of the specifications (as Filter).
std::vector<Entry> Filter(const Listing& listing, const std::vector<std::string>& specs);

// Restores the selected entries (nullptr: all) of a backup listed in all (options.Contents is
// not used); as Restore otherwise.
Report Restore(const CBackupJob& job, const BackupInfo& backup, const Listing& all, const std::vector<Entry>* selection,
               const Options& options);

} // namespace libRestore
