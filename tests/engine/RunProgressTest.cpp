// The progress of a run on a fake clock: the percent of the bytes, the rate and the time left,
// no percent before the count ends, the estimate's honesty on runs whose speed changes, the
// display's pace, and the count's walk over a real tree.

#include "engine/RunProgress.h"
#include "engine/RunCount.h"
#include "engine/WorkerThreads.h"
#include "support/libStrings.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int64_t MiB = 1024 * 1024;

struct RecordingDisplay : RunProgress::Display {
    std::vector<RunProgress::View> Shown;
    int Ends = 0;
    void Show(const RunProgress::View& view) override { Shown.push_back(view); }
    void End(const RunProgress::View&) override { ++Ends; }
};

// One simulated run: files of the given sizes, each taking its bytes at speed(t) bytes per
// second plus a fixed cost per file. Returns the moments each file ended.
std::vector<double> Simulate(const std::vector<int64_t>& sizes, const std::function<double(double)>& speed,
                             double dPerFile) {
    std::vector<double> ends;
    double t = 0;
    for (int64_t lSize : sizes) {
        double dLeft = static_cast<double>(lSize);
        while (dLeft > 0) { // in steps of 0.05 s, so that the speed may change inside a file
            const double dRate = speed(t);
            if (dRate * 0.05 >= dLeft) {
                t += dLeft / dRate;
                break;
            }
            dLeft -= dRate * 0.05;
            t += 0.05;
        }
        t += dPerFile;
        ends.push_back(t);
    }
    return ends;
}

// Plays the run on the fake clock and checks the estimate where a third, half and two thirds
// of the bytes are done: within 25 % of the time that was really left.
void ExpectHonest(const std::vector<int64_t>& sizes, const std::function<double(double)>& speed, double dPerFile) {
    const std::vector<double> ends = Simulate(sizes, speed, dPerFile);
    const double dEnd = ends.back();
    int64_t lTotal = 0;
    for (int64_t l : sizes)
        lTotal += l;
    double t = 0;
    RunProgress progress("Sim", [&] { return t; });
    progress.AddTotal(static_cast<int64_t>(sizes.size()), lTotal);
    progress.EndCount();
    int64_t lDone = 0;
    size_t iNext = 0;
    const double marks[] = {1.0 / 3, 1.0 / 2, 2.0 / 3};
    for (size_t i = 0; i < sizes.size(); ++i) {
        // Looks every half second while the file goes, as a display would.
        for (double tLook = t; tLook < ends[i]; tLook += 0.5) {
            t = tLook;
            progress.Look();
        }
        t = ends[i];
        progress.AddDone(1, sizes[i]);
        lDone += sizes[i];
        while (iNext < 3 && static_cast<double>(lDone) >= marks[iNext] * static_cast<double>(lTotal)) {
            const RunProgress::View view = progress.Look();
            const double dReal = dEnd - t;
            EXPECT_NEAR(view.SecondsLeft, dReal, 0.25 * dReal)
                << "at " << marks[iNext] << " of the bytes, " << t << " s into a run of " << dEnd << " s";
            ++iNext;
        }
    }
    EXPECT_EQ(iNext, 3u);
}

} // namespace

TEST(RunProgressTest, NoPercentUntilCountedThenPercentRateAndTimeLeft) {
    double t = 100;
    RunProgress progress("Documents", [&] { return t; });
    progress.AddTotal(40, 40 * MiB); // counted so far, not complete
    t += 2;
    progress.AddDone(2, 2 * MiB);
    RunProgress::View view = progress.Look();
    EXPECT_EQ(view.Percent, -1);
    EXPECT_EQ(view.SecondsLeft, -1);
    EXPECT_EQ(RunProgress::DetailText(view), "2 files (2.0 MiB) done, counting...");

    // A count in two parts (a zip run's walk of its first entry, the count thread the rest): not
    // complete until both have ended, in either order.
    progress.AddCountPart();
    progress.EndCount();
    EXPECT_EQ(progress.Look().Percent, -1);
    RunProgress::ActiveScope active(progress);
    RunProgress::NoteCountPart(60, 60 * MiB);
    // One file of 1 MiB every half second, to 40 of the 100.
    for (int i = 2; i < 40; ++i) {
        t += 0.5;
        progress.AddDone(1, MiB);
    }
    view = progress.Look();
    EXPECT_EQ(view.Percent, 40);
    EXPECT_EQ(view.DoneFiles, 40);
    EXPECT_EQ(view.TotalFiles, 100);
    EXPECT_NEAR(view.Rate, 2.0 * MiB, 0.01 * MiB);
    EXPECT_NEAR(view.SecondsLeft, 30, 0.5);
    EXPECT_EQ(RunProgress::DetailText(view), "40 % (40 of 100 files, 2.0 MiB/s, about 30 s left)");
    EXPECT_EQ(RunProgress::LineText(view), "Documents: " + RunProgress::DetailText(view));

    // Done beyond the count (files grew meanwhile): never more than 100 %, nothing left.
    progress.AddDone(70, 70 * MiB);
    view = progress.Look();
    EXPECT_EQ(view.Percent, 100);
    EXPECT_EQ(view.SecondsLeft, 0);
}

TEST(RunProgressTest, TextsOfTimeSizeAndRate) {
    EXPECT_EQ(RunProgress::TimeLeftText(-1), "");
    EXPECT_EQ(RunProgress::TimeLeftText(0), "");
    EXPECT_EQ(RunProgress::TimeLeftText(3.2), "about 4 s left");
    EXPECT_EQ(RunProgress::TimeLeftText(41), "about 40 s left");
    EXPECT_EQ(RunProgress::TimeLeftText(170), "about 3 min left");
    EXPECT_EQ(RunProgress::TimeLeftText(7000), "about 2 h left");
    EXPECT_EQ(libStrings::DurationText(0.42), "0.4 s");
    EXPECT_EQ(libStrings::DurationText(12), "12 s");
    EXPECT_EQ(libStrings::DurationText(125), "2 min 5 s");
    EXPECT_EQ(libStrings::DurationText(3780), "1 h 3 min");
    EXPECT_EQ(libStrings::SizeText(512), "512 B");
    EXPECT_EQ(libStrings::SizeText(3.4 * 1024 * 1024), "3.4 MiB");
    EXPECT_EQ(RunProgress::RateText(1536), "1.5 KiB/s");
}

TEST(RunProgressTest, EstimateIsHonestWhenTheSpeedChanges) {
    // A home-like tree: many small files among a few long ones, in a shuffled but fixed order.
    std::vector<int64_t> sizes;
    for (int i = 0; i < 3000; ++i)
        sizes.push_back(i % 97 == 0 ? 40 * MiB : (i * 7919 % 200 + 1) * 1024);
    // Fast and slow stretches every few seconds (another program using the disk).
    ExpectHonest(
        sizes, [](double t) { return std::fmod(t, 10) < 5 ? 60.0 * MiB : 25.0 * MiB; }, 0.002);
    // A speed that falls steadily (the cache filled), to half, and the two together.
    ExpectHonest(
        sizes, [](double t) { return 50.0 * MiB / (1 + t / 120); }, 0.002);
    ExpectHonest(
        sizes, [](double t) { return (std::fmod(t, 6) < 3 ? 60.0 * MiB : 30.0 * MiB) / (1 + t / 200); }, 0.003);
    // Files that cost more than their bytes (a slow file system): the rate of work follows.
    ExpectHonest(
        sizes, [](double) { return 40.0 * MiB; }, 0.01);
}

TEST(RunProgressTest, TheDisplayIsShownAtItsPaceAndEndedOnce) {
    double t = 0;
    RecordingDisplay display;
    const RunProgress::DisplayScope scope(&display);
    RunProgress progress("Documents", [&] { return t; });
    const RunProgress::ActiveScope active(progress);
    progress.AddTotal(1000, 1000);
    progress.EndCount();
    for (int i = 0; i < 1000; ++i) { // 1000 files in 10 s
        t += 0.01;
        RunProgress::NoteDone(1, 1);
    }
    RunProgress::NoteLeftOut(2);
    EXPECT_GE(display.Shown.size(), 39u);
    EXPECT_LE(display.Shown.size(), 41u); // four a second
    progress.Finish();
    progress.Finish();
    EXPECT_EQ(display.Ends, 1);
    EXPECT_EQ(progress.Look().DoneFiles, 1000);
    EXPECT_EQ(progress.Look().LeftOut, 2);
    // A total known up front is not taken by a progress that counts on its own.
    RunProgress::NoteKnownTotal(5, 5);
    EXPECT_EQ(progress.Look().TotalFiles, 1000);
}

TEST(RunProgressTest, TheCountWalksTheJobsSelection) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("runcount-" + std::to_string(::getpid()));
    fs::create_directories(root / "sub" / "deeper");
    fs::create_directories(root / "cache");
    auto write = [](const fs::path& p, size_t n) { std::ofstream(p) << std::string(n, 'x'); };
    write(root / "a.txt", 10);
    write(root / "b.tmp", 20); // excluded by name
    write(root / "sub" / "c.txt", 30);
    write(root / "sub" / "deeper" / "d.txt", 40);
    write(root / "cache" / "e.txt", 50);
    std::ofstream(root / "cache" / "CACHEDIR.TAG") << "Signature: 8a477f597d28d172789f06886806bc55";
    fs::create_symlink("a.txt", root / "link");

    RunCount::Selection selection;
    selection.Sources = {root.string()};
    selection.Recurse = true;
    selection.ExcludeSpec = "*.tmp\r\n";
    selection.ExcludeCaches = true;
    RunProgress progress("Count");
    RunCount::Count(progress, selection, std::stop_token());
    RunProgress::View view = progress.Look();
    EXPECT_TRUE(view.Counted);
    EXPECT_EQ(view.TotalFiles, 4); // a.txt, c.txt, d.txt and the link
    EXPECT_EQ(view.TotalBytes, 80);

    // Without subfolders, on its own thread.
    selection.Recurse = false;
    RunProgress flat("Flat");
    {
        const RunCount count(flat, selection);
        for (int i = 0; i < 30000 && !flat.Look().Counted; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    view = flat.Look();
    EXPECT_TRUE(view.Counted);
    EXPECT_EQ(view.TotalFiles, 2);
    EXPECT_EQ(view.TotalBytes, 10);
    fs::remove_all(root);

    // Nothing to walk (a zip run's one entry, which its own walk counts): this part is complete
    // as the count is made, without a thread (none may start here), the other part still open
    // until it ends too.
    RunProgress zip("Zip");
    zip.AddCountPart();
    {
        const WorkerThreads::StartLimit noThread(0, true);
        const RunCount none(zip, RunCount::Selection{});
        EXPECT_FALSE(zip.Look().Counted);
        zip.AddTotal(3, 300);
        zip.EndCount();
        EXPECT_TRUE(zip.Look().Counted);
    }
    EXPECT_EQ(zip.Look().TotalFiles, 3);
}
