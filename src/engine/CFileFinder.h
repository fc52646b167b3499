#pragma once
// Enumerates the entries of one folder that match a name pattern, one at a time, and exposes the
// attributes and last-write time of the entry found last.
//
// A pattern is a folder path, "/", and a name pattern. A name pattern with "*" or "?" is matched
// without regard to letter case, and "*.*" matches every name, with or without a dot; a plain name
// is looked up as it stands (one stat, no folder scan). Entries come in byte order of their names,
// "." and ".." included when the pattern matches them. Symbolic links are followed: a link to a
// file is reported as that file; a link to a folder, and a link that points nowhere, are not
// reported at all, so no walk ever enters or copies them.

#include <cstdint>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

class CFileFinder {
public:
    // Attribute bits reported by Attrib (hidden and system never occur on this platform).
    static constexpr uint8_t AttrReadOnly = 1;
    static constexpr uint8_t AttrHidden = 2;
    static constexpr uint8_t AttrSystem = 4;
    static constexpr uint8_t AttrDirectory = 16;
    static constexpr uint8_t AttrArchive = 32;

    CFileFinder();
    ~CFileFinder();
    CFileFinder(const CFileFinder&) = delete;
    CFileFinder& operator=(const CFileFinder&) = delete;

    // errno after the most recent FindFirst, FindNext or FindClose: 0 on success, ENOENT when
    // nothing (more) matched or the folder is missing, otherwise the error of opening the folder.
    int32_t LastError() const;
    // Attributes of the entry found last, masked with 55: read-only (owner has no write
    // permission), directory, archive (from the archive-flag store; files only). 0 when none.
    uint8_t Attrib() const;
    // Last-write time of the entry found last, in 100 ns units since 1601-01-01 UTC.
    uint64_t LastWriteTime() const;
    // Starts an enumeration (closing any open one); the first matching name, or "".
    std::string FindFirst(const std::string& sPattern);
    // The next matching name, or "" when there is none.
    std::string FindNext();
    // Ends the enumeration.
    void FindClose();

    // Additions for the copy walk, so each entry is examined by the system only once: the found
    // entry's full status (links followed unless reported as they are) and its full path.
    const struct stat& StatData() const;
    std::string FoundPath() const;
    // The found entry's kind (S_IFREG, S_IFDIR, ...): asking for it needs no status of its own.
    mode_t Kind() const { return m_stat.st_mode & S_IFMT; }

    // Reports what is there instead: a link as the link (its own status, whatever it points to
    // or whether it points anywhere), and pipes, sockets and devices too, so that a walk can copy
    // links as links and name what it leaves out. Folders are reported as before, but a listing
    // leaves out "." and "..", and the status of a regular file it lists is looked up only when
    // first asked for (all but Kind and FoundPath ask): a walk that opens the file gets it there.
    void SetReportAsIs(bool bAsIs) { m_bAsIs = bAsIs; }

    // The 100 ns count since 1601 for a time in ns since 1970.
    static uint64_t FileTimeFromUnixNs(int64_t iNs);

private:
    bool LoadCurrent(int& iError);          // stats m_names[m_index]; false when the entry is passed over
    void LoadPendingStat() const;           // the look-up LoadCurrent left for later
    void Take(const struct stat& st) const; // the found entry's status and time
    std::string Advance();

    struct Listed {
        std::string Name;
        unsigned char Type; // d_type, DT_UNKNOWN when not listed
    };

    void CloseFolder();

    bool m_open = false;
    DIR* m_dir = nullptr; // the listed folder, kept open so that each name is looked up in it
    int32_t m_lastError = 0;
    std::string m_folder; // with its final "/" ("" for names relative to the working folder)
    std::vector<Listed> m_names;
    size_t m_index = 0;
    bool m_found = false;
    mutable bool m_bStatPending = false;
    mutable struct stat m_stat {};
    mutable uint64_t m_fileTime = 0;
    mutable int m_archive = -1; // -1 not looked up yet
    bool m_bAsIs = false;
};
