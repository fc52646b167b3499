// The job's keys about its target's drive. Each is written only once it was ever set, so that the
// files of jobs without it load and save as they were.

#include "jobs/CBackupJob.h"

#include "support/libIni.h"
#include "support/libStrings.h"

using namespace libStrings;

void CBackupJob::SetTargetVolume(const std::string& sValue) {
    if (sValue == m_TargetVolume) return;
    m_TargetVolume = sValue;
    m_Changed = true;
}

void CBackupJob::SetRunOnConnect(bool bValue) {
    if (bValue == m_RunOnConnect) return;
    m_RunOnConnect = bValue;
    m_Changed = true;
}

void CBackupJob::ReadDriveKeys(const IniFile& ini) {
    m_TargetVolume = Trim(ini.Get("Config", "TargetVolume"));
    m_RunOnConnect = BoolFromIniText(ini.Get("Config", "RunOnConnect"));
}

void CBackupJob::WriteDriveKeys(IniFile& ini) const {
    if (!m_TargetVolume.empty() || ini.Has("Config", "TargetVolume")) ini.Set("Config", "TargetVolume", m_TargetVolume);
    if (m_RunOnConnect || ini.Has("Config", "RunOnConnect"))
        ini.Set("Config", "RunOnConnect", BoolToIniText(m_RunOnConnect));
}
