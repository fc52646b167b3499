// The job's history keys: dated snapshots of copy-style runs, how many of them the calendar
// keeps, and whether folders not worth keeping are left out. Each key is written only once it
// was ever set, so that the files of jobs without it stay as they were.

#include "jobs/CBackupJob.h"

#include "support/libIni.h"
#include "support/libStrings.h"

#include <string>

using namespace libStrings;

namespace {
struct KeepKey {
    const char* Name;
    int32_t CBackupJob::SnapshotKeep::*Field;
};
constexpr KeepKey kKeepKeys[] = {{"KeepLast", &CBackupJob::SnapshotKeep::Last},
                                 {"KeepDaily", &CBackupJob::SnapshotKeep::Daily},
                                 {"KeepWeekly", &CBackupJob::SnapshotKeep::Weekly},
                                 {"KeepMonthly", &CBackupJob::SnapshotKeep::Monthly},
                                 {"KeepYearly", &CBackupJob::SnapshotKeep::Yearly}};
} // namespace

void CBackupJob::SetSnapshots(bool bValue) {
    if (bValue == m_Snapshots) return;
    m_Snapshots = bValue;
    m_Changed = true;
}

void CBackupJob::SetSnapshotKeeping(const SnapshotKeep& value) {
    if (value == m_SnapshotKeep) return;
    m_SnapshotKeep = value;
    m_Changed = true;
}

void CBackupJob::SetExcludeCaches(bool bValue) {
    if (bValue == m_ExcludeCaches) return;
    m_ExcludeCaches = bValue;
    m_Changed = true;
}

void CBackupJob::ReadHistoryKeys(const IniFile& ini) {
    m_Snapshots = BoolFromIniText(ini.Get("Config", "Snapshots"));
    m_ExcludeCaches = BoolFromIniText(ini.Get("Config", "ExcludeCaches"));
    const SnapshotKeep defaults;
    for (const KeepKey& key : kKeepKeys)
        m_SnapshotKeep.*key.Field = ini.Has("Config", key.Name)
                                        ? StrToLongRange(ini.Get("Config", key.Name), 0, MaxSnapshotKeep)
                                        : defaults.*key.Field;
}

void CBackupJob::WriteHistoryKeys(IniFile& ini) const {
    if (m_Snapshots || ini.Has("Config", "Snapshots")) ini.Set("Config", "Snapshots", BoolToIniText(m_Snapshots));
    const SnapshotKeep defaults;
    for (const KeepKey& key : kKeepKeys)
        if (m_SnapshotKeep.*key.Field != defaults.*key.Field || ini.Has("Config", key.Name))
            ini.Set("Config", key.Name, std::to_string(m_SnapshotKeep.*key.Field));
    if (m_ExcludeCaches || ini.Has("Config", "ExcludeCaches"))
        ini.Set("Config", "ExcludeCaches", BoolToIniText(m_ExcludeCaches));
}
