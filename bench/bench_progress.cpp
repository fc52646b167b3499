// The count a backup run makes beside its work, on its own: walks a folder with the run's count
// (subfolders, no exclusions) on the calling thread and prints "files bytes wall_s cpu_s".
//
//   bench_progress <folder>

#include "engine/RunCount.h"
#include "engine/RunProgress.h"

#include <chrono>
#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    RunCount::Selection selection;
    selection.Sources = {argv[1]};
    selection.Recurse = true;
    RunProgress progress("bench");
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    RunCount::Count(progress, selection, std::stop_token());
    const double dCpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    const double dWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const RunProgress::View view = progress.Look();
    std::printf("%lld %lld %.3f %.3f\n", static_cast<long long>(view.TotalFiles),
                static_cast<long long>(view.TotalBytes), dWall, dCpu);
    return view.Counted ? 0 : 1;
}
