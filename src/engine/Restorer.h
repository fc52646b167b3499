#pragma once
// The restore's writer, shared by Restorer.cpp (writing entries) and RestorerPlaces.cpp (where
// entries may go, and whether they fit). Not for other callers.

#include "engine/FolderChain.h"
#include "engine/RestoreListing.h"
#include "engine/RestoreWorkers.h"
#include "engine/libRestore.h"
#include "support/libFiles.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>
#include <zip.h>

class CBackupJob;

namespace libRestore::detail {

// A folder a restore may write below: the chosen folder, or one of the job's sources.
struct Place {
    std::string Path;  // as the job or the user names it, without a final "/" ("/" for the root)
    std::string Key;   // the names inside a backup that lie below it start with Key + "/"
    size_t Depth = 0;  // the number of parts of Key
    std::string Only;  // a single-file source: the one name it allows; "" allows all below
    std::string Shown; // Path with a final "/", for log lines
};

// The places of a job's sources: a folder allows everything below it, a single file only that
// file, a wildcard source its folder. A source that no longer exists counts as a folder when
// the backup holds entries below it.
std::vector<Place> PlacesOf(const CBackupJob& job, const EntryTable& all);

// The components of a name inside the backup; false (with the reason) for a name that would
// leave the folder it is restored into.
bool SplitSafe(const std::string& sName, std::vector<std::string>& parts, std::string& sWhy);
std::string JoinParts(const std::vector<std::string>& parts, size_t n);

// A time in ns since 1970 as the kernel takes it.
inline timespec TimeOfNs(int64_t lNs) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(lNs / 1000000000);
    t.tv_nsec = static_cast<long>(lNs % 1000000000);
    if (t.tv_nsec < 0) {
        t.tv_nsec += 1000000000;
        --t.tv_sec;
    }
    return t;
}

// Why data longer or shorter than its entry declares is refused.
inline std::string Longer(uint64_t lSize) {
    return "damaged: its data is longer than the " + std::to_string(lSize) + " bytes it declares";
}
inline std::string Shorter(uint64_t lDone, uint64_t lSize) {
    return "damaged: its data ends after " + std::to_string(lDone) + " of the " + std::to_string(lSize) +
           " bytes it declares";
}

// The name that marks a restore's temporary files (followed by the process id and "-").
inline constexpr const char* TempMark = ".stowline-restore-";

// An archive entry read through libzip.
struct DataSource {
    zip_file_t* Zip = nullptr;
    const Entry* Aes = nullptr; // an AES entry whose code was found sound (see ZeroCrcMisread)
    uint64_t Done = 0;          // bytes read from Zip
    DataSource() = default;
    DataSource(const DataSource&) = delete;
    DataSource& operator=(const DataSource&) = delete;
    ~DataSource();
    // Bytes read, 0 at the end, -1 on an error (sWhy set).
    ssize_t Read(char* p, size_t n, std::string& sWhy);
};

class Restorer {
public:
    Restorer(const CBackupJob& job, const BackupInfo& backup, const Options& options, Report& report)
        : m_job(job), m_backup(backup), m_options(options), m_report(report) {}
    ~Restorer();
    // Restores selection (nullptr: everything) from the backup's contents: listing when given,
    // else the options' Contents, else read here.
    void Run(const std::vector<Entry>* selection, const Listing* listing);

private:
    // RestorerPlaces.cpp
    bool Locate(const Entry& e, size_t& uPlace, std::vector<std::string>& rel, std::string& sWhy) const;
    bool UsePlace(size_t uPlace, std::string& sWhy);
    bool Fits(const std::vector<size_t>& todo);
    void Sweep(int iFolder, const std::string& sShown);
    void FinishFolders();
    // RestoreHandOff.cpp
    bool ForWorkers(const Entry& e) const;
    bool ArchiveData(const Entry& e) const;
    void HandOver(const Entry& e, int iParent, const std::string& sShown, const std::string& sLeaf,
                  const std::string& sTemp, bool bReplace);
    void TakeBack(bool bWait);
    void Finish(FileJob& job);
    void Drain();
    bool ReadArchive(bool bGiven);
    zip_t* Zip(std::string& sWhy);
    bool SameInZip(const Entry& e) const;
    // Restorer.cpp
    bool ReadAll(const Listing* listing);
    void Renamed(const std::string& sShown, const std::string& sLeaf, int iParent, const std::string& sTemp,
                 bool bReplace, const std::string& sName, uint64_t lWritten);
    int EnterDest(const std::vector<std::string>& rel, size_t n, const Place& place, std::string& sWhy);
    void One(const Entry& e);
    bool Conflicts(const Entry& e, int iParent, std::string& sLeaf, bool& bReplace);
    bool LinkTarget(const Entry& e, std::string& sTarget, std::string& sWhy);
    bool WriteData(const Entry& e, int iParent, const std::string& sTemp, uint64_t& lWritten, std::string& sWhy);
    bool OpenData(const Entry& e, DataSource& src, uint64_t& lSize, std::string& sWhy);
    int SourceFolder(const Entry& e, std::string& sLeaf, std::string& sWhy);
    bool Progress(const std::string& sName, uint64_t lDone, uint64_t lTotal);
    void Problem(const std::string& sName, const std::string& sWhy);
    void LogProblem(const std::string& sName, const std::string& sWhy);

    const CBackupJob& m_job;
    const BackupInfo& m_backup;
    const Options& m_options;
    Report& m_report;
    zip_t* m_pZip = nullptr;         // libzip's reader: for entries the workers do not read
    int m_iArchive = -1;             // the archive the workers read from
    bool m_bOwnArchive = false;      // m_iArchive is this restorer's own descriptor
    Listing m_own;                   // the contents, when the caller did not give them
    std::optional<EntryTable> m_all; // the contents read from
    bool m_bGiven = false;           // m_all is what the caller gave
    std::vector<Place> m_places;
    size_t m_uPlace = SIZE_MAX;  // the place m_dest is rooted at
    std::string m_sPlaceWhy;     // why it cannot be opened ("" when open)
    FolderChain m_dest{true};    // the destination, folders made as needed
    FolderChain m_source{false}; // the copy tree read from (copy style)
    struct Identity {
        dev_t Dev;
        ino_t Ino;
    };
    std::map<std::string, Identity> m_created; // folders this restore made (shown path); only theirs get times
    std::set<std::string> m_links;             // links this restore created (shown path)
    std::set<std::string> m_swept;             // folders searched for an interrupted restore's files
    struct FolderTimes {
        size_t Place;
        std::string Path; // below the place
        uint32_t Mode;
        int64_t MTimeNs;
    };
    std::vector<FolderTimes> m_folderTimes; // set once their contents are in place
    std::vector<char> m_buffer;
    unsigned m_uTemp = 0;
    std::string m_sTempPrefix = TempMark + std::to_string(::getpid()) + "-";
    mode_t m_uUmask = libFiles::ProcessUmask();
    bool m_bStop = false;
    std::unique_ptr<RestoreWorkers> m_workers; // last: its workers end before the rest goes
};

} // namespace libRestore::detail
