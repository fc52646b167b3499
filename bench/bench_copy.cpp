// Drives the copy style the way a copy-style backup run does, for the benchmark:
//   bench_copy <app-folder> <rebuild|update|freshen> <incremental 0|1> <target-folder/> <entry>...
// Each entry is copied with subfolders into the target folder (a wildcard entry into the target
// + its last folder name). The application folder holds the archive-flag store, the
// preferences (defaults when missing) and the transaction log. Prints the counts.

#include "engine/ArchiveFlags.h"
#include "engine/JobTemp.h"
#include "engine/libCopy.h"
#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s <app-folder> <rebuild|update|freshen> <incremental 0|1> <target/> <entry>...\n",
                     argv[0]);
        return 2;
    }
    const std::string sStyle = argv[2];
    const int32_t lStyle = sStyle == "rebuild"   ? libCopy::CopyRebuild
                           : sStyle == "update"  ? libCopy::CopyUpdate
                           : sStyle == "freshen" ? libCopy::CopyFreshen
                                                 : -1;
    if (lStyle < 0) {
        std::fprintf(stderr, "unknown copy style: %s\n", argv[2]);
        return 2;
    }
    std::filesystem::create_directories(argv[1]);
    appMisc::SetAppFolder(std::filesystem::absolute(argv[1]).string() + "/");
    UserInteraction::Install(std::make_unique<UserInteraction::HeadlessSeam>());
    appPreferences::LoadPreferences();

    const bool bIncremental = std::string(argv[3]) == "1";
    // The job's temporary folder, as a run names it and removes it at its end.
    const std::string sTempFolder = JobTemp::FolderOf(argv[4], "bench");
    int32_t lFiles = 0;
    double dBytes = 0;
    // As a run: the log rotated and kept open, one copier for all entries.
    libLog::RunLog runLog;
    libFiles::FileCopier copier;
    for (int i = 5; i < argc; ++i) {
        const libCopy::EntryResult r =
            libCopy::CopyEntry(argv[i], argv[4], bIncremental, true, lStyle, "", sTempFolder, &copier);
        if (r.Abandon) {
            std::fprintf(stderr, "entry %s: abandoned (see the transaction log)\n", argv[i]);
            return 1;
        }
        lFiles += r.FileCount;
        dBytes += r.ByteCount;
    }
    JobTemp::Remove(sTempFolder);
    ArchiveFlags::Close();
    std::printf("Copied %d files totaling %.0f bytes\n", lFiles, dBytes);
    return 0;
}
