// Drives the zip style's off-site step the way a run does, for the benchmark:
//   bench_offsite <archive.zip> <rclone remote path>
// Sends the archive as the newest backup of a job named "bench" and prints the time it took;
// exits 0 when the step succeeded.

#include "engine/Offsite.h"
#include "jobs/CBackupJob.h"
#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/libDates.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <archive.zip> <rclone remote path>\n", argv[0]);
        return 2;
    }
    // The transaction log of this program goes beside the archive, never to a user's folder.
    const std::string sZip = argv[1];
    appMisc::SetAppFolder(std::filesystem::absolute(sZip).parent_path().string() + "/");
    UserInteraction::Install(std::make_unique<UserInteraction::HeadlessSeam>());

    CBackupJob job;
    job.SetJobNameRaw("bench");
    job.SetOffsiteRemote(argv[2]);
    const auto start = std::chrono::steady_clock::now();
    const bool bSent = Offsite::SendArchive(job, sZip, libDates::Now());
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("off-site step: %s after %.3f s\n", bSent ? "sent" : "failed", dSeconds);
    return bSent ? 0 : 1;
}
