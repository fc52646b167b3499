#pragma once
// The copy walk behind libCopy::CopyFiles: one folder at a time, each file compared with its copy,
// handed to the copy workers and its outcome settled in walk order. Not for other callers.

#include "engine/ArchiveFlags.h"
#include "engine/CFileFinder.h"
#include "engine/CopyWorkers.h"
#include "engine/FlushBatch.h"
#include "engine/LookAhead.h"
#include "engine/TargetFlush.h"
#include "engine/libCopy.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace libCopy::detail {

// What one walk is asked to do (the arguments of CopyFiles).
struct WalkRequest {
    std::string Entry;       // a folder and a file-name pattern
    std::string Destination; // the folder the entry's folder is copied into
    bool Incremental = false;
    bool Recurse = false;
    int32_t CopyStyle = CopyRebuild;
    std::string ExcludeSpec;
};

// What it did.
struct WalkResult {
    int32_t FileCount = 0; // files copied (a locked file counts too)
    double ByteCount = 0;  // the sum of their lengths
    bool Failed = false;   // see CopyFiles
    WalkReport Report;
};

// One walk; errors leave Run by exception. The counts in the result stay as far as they got.
class CopyWalk {
public:
    CopyWalk(const WalkRequest& request, WalkPlace& place, WalkResult& result);
    CopyWalk(const CopyWalk&) = delete;
    CopyWalk& operator=(const CopyWalk&) = delete;
    void Run();

private:
    // The folder being walked, and what is known of its copy.
    struct Folder;
    enum class Step { Go, Skip, Stop };

    bool PopFolder(std::string& sCurrent);
    bool VisitFolder(const std::string& sCurrent);
    Step MakeDestinationFolder(const Folder& folder);
    void OpenDestinationFolder(Folder& folder);
    void CopyFolderFiles(Folder& folder);
    bool OfferFile(const Folder& folder, const std::string& sName, mode_t mode);
    bool NoteFolderListed(const Folder& folder);
    void PushSubfolders(Folder& folder);
    void Finish();

    bool IsExcluded(const std::string& sName) const;
    bool IsSkipped(const std::string& sName, const struct stat& st) const;
    ArchiveFlags& Flags();
    void ClearFlag(const std::string& sSource, const struct stat& copied);
    void PlaceBatch();
    void Settle(CopyWorkers::Item& item);
    void SettleError(CopyWorkers::Item& item);
    void NoteLinkRefused(const CopyWorkers::Item& item);
    void TakeBack(bool bAll);
    std::string Shown(const std::string& sDestPath) const;

    const WalkRequest& m_request;
    WalkPlace& m_place;
    WalkResult& m_result;
    WalkReport& m_report;
    std::string m_sourceFolder;
    std::string m_filePattern;
    // Folders below the source folder are named relative to it from this offset.
    size_t m_relativeStart = 0;
    // Destination root without its final "/"; error lines name the files under m_shownRoot.
    std::string m_destinationRoot;
    std::string m_shownRoot;
    // Exclusions (blank ones match no name and are dropped).
    std::vector<std::string> m_exclusions;
    CFileFinder m_source;
    ArchiveFlags* m_flags = nullptr; // the store of the walk (the caller's scope opened it)
    // An incremental walk reads the rows of each folder anyway; the rows it did not meet are
    // those of files that may be gone, which a complete walk drops.
    std::unique_ptr<FlagPruning> m_pruning;
    std::vector<std::string> m_stack;
    bool m_matchesAll = false;
    bool m_tempReady = false;
    // Copies that replace earlier ones wait here until they are on disk; declared before the
    // workers, so that it outlives their last copy. The run's flush state serves when it covers
    // the destination's file system.
    std::optional<TargetFlush> m_ownFlush;
    TargetFlush* m_flush = nullptr;
    FlushBatch m_batch;
    // A fresh tree's files are copied alongside the walk and their outcomes taken back in walk
    // order: nothing of that tree stands until all of it does. Update and Freshen copy one file
    // after the other, so that a run the disk stops has replaced exactly the files before the
    // one it names.
    CopyWorkers m_copies;
    // Update and Freshen compare every file with its copy; an incremental walk only the few it
    // copies, for which the look-ahead would read the whole destination tree in vain.
    std::optional<LookAhead> m_lookAhead;
    // The destination's own folder, the folder the caller names and every temporary folder are
    // never entered, so a target inside the walked tree does not copy its copies again.
    bool m_haveDestinationId = false;
    struct stat m_destinationId {};
    struct stat m_skipId {};
    bool m_haveSkipId = false;
};

} // namespace libCopy::detail
