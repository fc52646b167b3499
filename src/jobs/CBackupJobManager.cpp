#include "jobs/CBackupJobManager.h"

#include "support/appMisc.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libStrings.h"

#include <algorithm>
#include <dirent.h>

using libErrorHandler::Trap;

namespace {
constexpr const char* kModule = "CBackupJobManager";
std::unique_ptr<CBackupJobManager> g_pManager;
} // namespace

CBackupJobManager* JobManager() { return g_pManager.get(); }

CBackupJobManager& CreateJobManager() {
    if (!g_pManager) g_pManager = std::make_unique<CBackupJobManager>();
    return *g_pManager;
}

void DestroyJobManager() { g_pManager.reset(); }

CBackupJobManager::CBackupJobManager() : m_pSharedJob(std::make_unique<CBackupJob>()) { Clear(); }

CBackupJobManager::~CBackupJobManager() = default;

void CBackupJobManager::Clear() {
    m_Entries.clear();
    m_pSharedJob->SetTag(-1);
}

int32_t CBackupJobManager::AddEntry(const std::string& sFileName, double dNextRun) {
    int32_t lHandle = m_NextHandle++;
    m_Entries.push_back(JobEntry{lHandle, dNextRun, sFileName});
    return lHandle;
}

int32_t CBackupJobManager::FindIndexByHandle(int32_t lHandle) const {
    for (size_t i = 0; i < m_Entries.size(); ++i)
        if (m_Entries[i].Handle == lHandle) return static_cast<int32_t>(i);
    return -1;
}

void CBackupJobManager::Reload() {
    Trap(kModule, "Reload()", [&] {
        Clear();
        m_NextHandle = 0;
        const std::string sFolder = appMisc::JobFolder();
        std::vector<std::string> names;
        if (DIR* pDir = opendir(sFolder.c_str())) {
            while (dirent* pEntry = readdir(pDir)) {
                std::string sName = pEntry->d_name;
                if (sName == "." || sName == "..") continue;
                if (!libStrings::WildcardMatch(sName, "*.slj")) continue;
                if (!libFiles::FileExists(sFolder + sName)) continue; // files only, as the listing gives
                names.push_back(sName);
            }
            closedir(pDir);
        }
        // The directory's own order is arbitrary here; a stable order by name keeps handles
        // and the list the same from one start to the next.
        std::sort(names.begin(), names.end());
        for (const auto& sName : names)
            AddEntry(sFolder + sName, CBackupJob::NotComputed);
    });
}

int32_t CBackupJobManager::Add(CBackupJob& job) {
    double dNext = job.Suspended() ? CBackupJob::FarFuture : job.DateTimeNextRun();
    int32_t lHandle = AddEntry(job.FileName(), dNext);
    job.SetTag(lHandle);
    return lHandle;
}

void CBackupJobManager::Update(CBackupJob& job, bool bAddIfNew) {
    if (job.Tag() < 0 && bAddIfNew) Add(job);
    if (job.Tag() < 0) return;
    int32_t i = FindIndexByHandle(job.Tag());
    if (i < 0) return;
    double dNext;
    if (job.Suspended())
        dNext = CBackupJob::FarFuture;
    else if (job.Valid())
        dNext = job.DateTimeNextRun();
    else
        dNext = CBackupJob::FarFuture;
    m_Entries[i].NextRun = dNext;
    m_Entries[i].FileName = job.FileName();
}

void CBackupJobManager::DeleteByHandle(int32_t lHandle) {
    int32_t i = FindIndexByHandle(lHandle);
    if (i >= 0) m_Entries.erase(m_Entries.begin() + i);
}

void CBackupJobManager::LoadEntry(int32_t lIndex) {
    const int32_t lHandle = m_Entries[lIndex].Handle;
    if (m_pSharedJob->Tag() == lHandle) return;
    const std::string sFileName = m_Entries[lIndex].FileName;
    m_pSharedJob->OpenBackupJob(sFileName); // a job that does not load keeps its entry
    m_pSharedJob->SetTag(lHandle);
    Update(*m_pSharedJob, true);
}

CBackupJob* CBackupJobManager::JobFromIndex(int32_t lIndex) {
    if (lIndex < 0 || lIndex >= Count()) return nullptr;
    LoadEntry(lIndex);
    return m_pSharedJob.get();
}

CBackupJob* CBackupJobManager::JobFromHandle(int32_t lHandle) {
    return Trap(kModule, "JobFromHandle()", [&]() -> CBackupJob* {
        if (m_pSharedJob->Tag() == lHandle && lHandle >= 0) return m_pSharedJob.get();
        int32_t i = FindIndexByHandle(lHandle);
        if (i < 0) return nullptr;
        return JobFromIndex(i);
    });
}

std::string CBackupJobManager::FileNameFromHandle(int32_t lHandle) const {
    int32_t i = FindIndexByHandle(lHandle);
    return i < 0 ? std::string() : m_Entries[i].FileName;
}

int32_t CBackupJobManager::HandleFromIndex(int32_t lIndex) const {
    return lIndex < 0 || lIndex >= Count() ? -1 : m_Entries[lIndex].Handle;
}

double CBackupJobManager::NextRunFromHandle(int32_t lHandle) const {
    int32_t i = FindIndexByHandle(lHandle);
    return i < 0 ? 0.0 : m_Entries[i].NextRun;
}

void CBackupJobManager::KeepNextRun(int32_t lHandle, double dNextRun) {
    int32_t i = FindIndexByHandle(lHandle);
    if (i >= 0) m_Entries[i].NextRun = dNextRun;
}

std::vector<int32_t> CBackupJobManager::BackupsToRun(double dAsOf) {
    std::vector<int32_t> due;
    for (int32_t i = 0; i < Count(); ++i) {
        if (m_Entries[i].NextRun == CBackupJob::NotComputed) LoadEntry(i);
        const JobEntry& e = m_Entries[i];
        if (e.NextRun < dAsOf && e.NextRun > CBackupJob::NotComputed) due.push_back(e.Handle);
    }
    if (due.empty()) due.push_back(-1);
    return due;
}
