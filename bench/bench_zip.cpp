// Drives the zip engine the way a zip-style backup run does, for the benchmark:
//   bench_zip <archive.zip> <source entry>...
// Each source entry is zipped with subfolders at level 9 into one archive, written once.
// Prints the engine's result codes; exits 0 when no zip error occurred.

#include "engine/libZip.h"
#include "support/UserInteraction.h"
#include "support/appMisc.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <archive.zip> <source entry>...\n", argv[0]);
        return 2;
    }
    // The transaction log of this program goes beside the archive, never to a user's folder.
    std::string sZip = argv[1];
    appMisc::SetAppFolder(std::filesystem::absolute(sZip).parent_path().string() + "/");
    UserInteraction::Install(std::make_unique<UserInteraction::HeadlessSeam>());

    libZip::ZipEngine engine;
    libZip::ZipJobValues job;
    job.Subdirectories = true;
    bool bError = false;
    const auto start = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    for (int i = 2; i < argc; ++i) {
        libZip::ZipStepResult r = engine.ArchiveEntry(job, sZip, argv[i], i - 2);
        std::printf("entry %d: result %d (selected after %.2f s)\n", i - 2, r.Code, seconds());
        if (r.IsError) {
            bError = true;
            break;
        }
    }
    libZip::ZipStepResult r = engine.FinishArchive(job, true);
    std::printf("archive: result %d (written after %.2f s)\n", r.Code, seconds());
    return bError || r.IsError ? 1 : 0;
}
