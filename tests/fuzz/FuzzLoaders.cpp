// In-process fuzz driver for the loaders of job files and the preferences file.
//
//   fuzz_loaders [count [seed]]
//
// Each input is a seed file (job file in both layouts, preferences file in both layouts)
// changed by a few deterministic mutations, written into a temporary application folder and
// read through the real readers, then saved and read back. A job whose name was changed is
// also run, pointed at a scratch source and target, so that every name reaches the paths a
// run makes of it. A crash, a hang (per-input alarm), a fatal error report or a run writing
// beside its target is a failure: the input is written to fuzz-<kind>-<n>.bin in the working
// folder and the driver exits non-zero. The same count and seed give the same inputs.

#include "common/ScriptedSeam.h"
#include "engine/BackupRun.h"
#include "jobs/CBackupJob.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <unistd.h>

namespace {

constexpr unsigned kSecondsPerInput = 5;

// What the signal handlers write out: the input in hand and its number.
std::string g_input;
unsigned long g_index = 0;

void WriteInput(const char* sKind) {
    char name[96];
    std::snprintf(name, sizeof name, "fuzz-%s-%lu.bin", sKind, g_index);
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        ssize_t w = ::write(fd, g_input.data(), g_input.size());
        (void)w;
        ::close(fd);
    }
    char msg[160];
    const int n =
        std::snprintf(msg, sizeof msg, "fuzz_loaders: %s on input %lu, written to %s\n", sKind, g_index, name);
    ssize_t w = ::write(2, msg, static_cast<size_t>(n));
    (void)w;
}

void OnAlarm(int) {
    WriteInput("hang");
    ::_exit(2);
}

void OnCrash(int iSignal) {
    WriteInput("crash");
    std::signal(iSignal, SIG_DFL);
    std::raise(iSignal);
}

const char* const kJobIni = "[Config]\r\nJobName=Daily Docs\r\nDateLastRun=Dec-05-2001 18:34\r\nSizeLastRun=1234\r\n"
                            "RunCount=7\r\nStartTime=18:30\r\nFrequency=2\r\nDayOfWeek=62\r\nDayOfMonth=15\r\n"
                            "Compress=-1\r\nCopyStyle=1\r\nKeepCount=3\r\nKeepPeriod=Weeks\r\nPassword=\xd5\xc4\xd6\r\n"
                            "ParseSubDir=-1\r\nIncremental=0\r\nSuspended=0\r\nPreBackupCommand=echo pre\r\n"
                            "PostBackupCommand=\r\nTargetDir=/backups/docs/\r\n[Source]\r\nFile_0=/home/u/docs/*.*\r\n"
                            "File_1=/home/u/mail\r\n[Exclude]\r\nFile_0=*.tmp\r\n[OneShot]\r\n0=Jan-02-2030 10:00\r\n";
const char* const kJobLegacy = "Old Job\r\n12/05/2001\r\n18:30\r\n1\r\n254\r\n1\r\nTrue\r\n3\r\nsecret\r\n-1\r\n"
                               "False\r\n/backups/old/\r\n/home/u/a.txt\r\n  \r\n/home/u/b/*.doc\r\n";
const char* const kPrefsIni = "[Preferences]\r\nMaxBackupCopies=17\r\nLoggingMode=1\r\nStopOnError=-1\r\n"
                              "UseSystemTray=0\r\nLogViewCommand=xdg-open\r\nSaveFormSize=-1\r\nCommenting=2\r\n"
                              "[ScheduleForm]\r\nJobName=0,2000\r\nDateLastRun=1,850\r\nTimeLastRun=-2,800\r\n"
                              "DateNextRun=3,850\r\nStartTime=4,800\r\nSize=5,720\r\nState=6,350\r\nRunCount=-7,600\r\n"
                              "JobType=-8,650\r\nFormSize=0,1,2,3,4,5,6,7,8\r\n";
const char* const kPrefsLegacy = "12\r\n-1\r\n0\r\n2\r\nmyviewer --x\r\n";

const std::vector<std::string>& Seeds() {
    static const std::vector<std::string> seeds = {kJobIni, kJobLegacy, kPrefsIni, kPrefsLegacy};
    return seeds;
}

// A job name of a shape that makes no clean folder name, or barely does.
std::string OddJobName(std::mt19937_64& rng) {
    using namespace std::string_literals;
    static const std::string kNames[] = {"a/b"s,  "../x"s,    ".."s,      "."s,     "..."s,    ""s,
                                         "/"s,    "x/../y"s,  "a\0b"s,    "\0"s,    "' '"s,    "'.'"s,
                                         "(..)"s, " . . "s,   "Docs/.."s, "..x"s,   "a..b"s,   "\xff\x01"s,
                                         "\r"s,   "* ? [ ]"s, "..\0/.."s, "' / '"s, ".hidden"s};
    if (rng() % 4 != 0) return kNames[rng() % std::size(kNames)];
    if (rng() % 8 == 0) return std::string(190 + rng() % 30, 'n'); // about the longest name
    // Short strings of the characters that matter.
    static const char kChars[] = {'.', '/', '\0', ' ', 'a', '\'', '*'};
    std::string sName(rng() % 6, ' ');
    for (char& c : sName)
        c = kChars[rng() % std::size(kChars)];
    return sName;
}

// Replaces the job name: the JobName key's value, or the first line of the old layout.
void ReplaceJobName(std::string& s, std::mt19937_64& rng) {
    const std::string sName = OddJobName(rng);
    size_t from = s.find("JobName=");
    from = from == std::string::npos ? 0 : from + 8;
    const size_t end = s.find('\r', from);
    s.replace(from, end == std::string::npos ? std::string::npos : end - from, sName);
}

std::string Mutate(std::string s, std::mt19937_64& rng) {
    auto pick = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(rng() % n); };
    static constexpr auto kNumbers =
        std::to_array<const char*>({"99999999999999999999999", "-99999999999999999999", "1e308", "-1e400", "nan", "inf",
                                    "0x7fffffff", "32768", "-32769", "2147483648", "1.5e-300", "&H7FFF", "True", ""});
    const int iCount = 1 + static_cast<int>(pick(4));
    for (int m = 0; m < iCount; ++m) {
        const size_t at = pick(s.size() + 1);
        switch (pick(10)) {
        case 0: // flip bits of a byte
            if (!s.empty()) s[pick(s.size())] ^= static_cast<char>(1u << pick(8));
            break;
        case 1: // insert NUL bytes
            s.insert(at, std::string(1 + pick(3), '\0'));
            break;
        case 2: // insert line ends of every kind
            s.insert(at, pick(2) ? "\r" : (pick(2) ? "\n" : "\r\n"));
            break;
        case 3: // a long line
            s.insert(at, std::string(1 + pick(pick(2) ? 300 : 70000), static_cast<char>('A' + pick(26))));
            break;
        case 4: { // a huge or odd number after the next "="
            const size_t eq = s.find('=', at);
            const size_t end = eq == std::string::npos ? std::string::npos : s.find('\r', eq);
            const std::string n = kNumbers[pick(std::size(kNumbers))];
            if (eq == std::string::npos)
                s.insert(at, n + "\r\n");
            else
                s.replace(eq + 1, end == std::string::npos ? std::string::npos : end - eq - 1, n);
            break;
        }
        case 5: { // duplicate a stretch (sections, keys)
            const size_t from = pick(s.size() + 1), len = pick(s.size() - from + 1);
            s.insert(at, s.substr(from, len));
            break;
        }
        case 6: // truncate
            s.resize(at);
            break;
        case 7: { // splice another seed in
            const std::string& other = Seeds()[pick(Seeds().size())];
            const size_t from = pick(other.size() + 1);
            s = s.substr(0, at) + other.substr(from);
            break;
        }
        case 8: // a random byte
            s.insert(at, 1, static_cast<char>(rng() & 0xff));
            break;
        default: // a job name that makes no clean folder name
            ReplaceJobName(s, rng);
            break;
        }
    }
    return s;
}

void ExerciseJob(const std::string& sFile) {
    CBackupJob job;
    job.OpenBackupJob(sFile);
    (void)job.DateTimeNextRun();
    job.SaveBackupJobIniFile();
    CBackupJob again;
    again.OpenBackupJob(sFile);
    (void)again.DateTimeNextRun();
}

// Where a job's run reads and writes: a source holding one file and a target, side by side.
struct RunPlace {
    std::string Root; // holds only "src" and "target" (with its final "/")
    std::string Source;
    std::string Target;
};

// Runs the job against the scratch place: its own name, style and options, but that source,
// that target and no commands. True when the run wrote nothing beside the target.
bool ExerciseRun(const std::string& sFile, const RunPlace& place) {
    CBackupJob job;
    job.OpenBackupJob(sFile);
    job.SetFilesToZip(place.Source + "*.*\r\n");
    job.SetTargetDirectoryRaw(place.Target);
    job.SetPreBackupCommand("");
    job.SetPostBackupCommand("");
    job.SetVerify(false);
    BackupRun::ExecuteBackupNow(job);
    bool bClean = true;
    for (const auto& entry : std::filesystem::directory_iterator(place.Root)) {
        const std::string sName = entry.path().filename().string();
        if (sName != "src" && sName != "target") bClean = false;
    }
    std::error_code ec;
    std::filesystem::remove_all(place.Target, ec);
    std::filesystem::create_directory(place.Target, ec);
    return bClean;
}

void ExercisePreferences() {
    appPreferences::LoadPreferences();
    appPreferences::SavePreferences();
    appPreferences::LoadPreferences();
}

} // namespace

int main(int argc, char** argv) {
    const unsigned long lCount = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
    const unsigned long lSeed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;

    // tmpfs when there is one: every save is flushed, which a disk would make slow.
    const char* sBase = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string sTemplate = std::string(sBase) + "/stowline-fuzz-XXXXXX";
    if (::mkdtemp(sTemplate.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string sApp = sTemplate + "/";
    appMisc::SetAppFolder(sApp);
    std::filesystem::create_directories(appMisc::JobFolder());
    UserInteraction::Install(std::make_unique<UserInteraction::ScriptedSeam>());
    std::signal(SIGALRM, OnAlarm);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        std::signal(sig, OnCrash);

    const RunPlace place{sApp + "run/", sApp + "run/src/", sApp + "run/target/"};
    std::filesystem::create_directories(place.Source);
    std::filesystem::create_directories(place.Target);
    libFiles::WriteWholeFileAtomic(place.Source + "a.txt", "some data\n");

    const std::string sJob = appMisc::JobFolder() + "Fuzz.slj";
    const std::string sPrefs = appPreferences::PreferencesFileName();
    unsigned long lFatal = 0, lRuns = 0, lEscapes = 0;
    for (unsigned long i = 0; i < lCount; ++i) {
        std::mt19937_64 rng(lSeed * 1000003ull + i);
        const size_t iSeed = static_cast<size_t>(rng() % Seeds().size());
        g_index = i;
        g_input = Mutate(Seeds()[iSeed], rng);
        const bool bJob = iSeed < 2;
        libFiles::WriteWholeFileAtomic(bJob ? sJob : sPrefs, g_input);
        ::alarm(kSecondsPerInput);
        try {
            if (bJob) {
                ExerciseJob(sJob);
                // Only names the mutations changed: a run per input would take most of the time.
                CBackupJob loaded;
                loaded.OpenBackupJob(sJob);
                if (loaded.JobName() != "Daily Docs" && loaded.JobName() != "Old Job") {
                    ++lRuns;
                    if (!ExerciseRun(sJob, place)) {
                        ++lEscapes;
                        WriteInput("escape");
                    }
                }
            } else
                ExercisePreferences();
        } catch (const libErrorHandler::FatalApplicationError&) {
            ++lFatal;
            WriteInput("fatal");
        }
        ::alarm(0);
        auto& seam = static_cast<UserInteraction::ScriptedSeam&>(UserInteraction::Ui());
        seam.Calls.clear();
        ::unlink(sJob.c_str());
        ::unlink(sPrefs.c_str());
        ::unlink(libLog::LogFileName().c_str());
        ::unlink(libLog::ErrorFileName().c_str());
    }
    std::error_code ec;
    std::filesystem::remove_all(sTemplate, ec);
    std::printf("fuzz_loaders: %lu inputs from seed %lu (%lu runs): %lu fatal reports, %lu runs writing beside "
                "their target, 0 crashes, 0 hangs\n",
                lCount, lSeed, lRuns, lFatal, lEscapes);
    return lFatal == 0 && lEscapes == 0 ? 0 : 1;
}
