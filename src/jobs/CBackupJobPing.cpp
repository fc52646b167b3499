// The job's monitoring ping address (job key PingUrl), written only once it was ever set, so
// that the files of jobs without it stay as they were.

#include "jobs/CBackupJob.h"

#include "support/libIni.h"
#include "support/libStrings.h"

#include <string>

void CBackupJob::SetPingUrl(const std::string& sValue) {
    const std::string sUrl = libStrings::Trim(sValue);
    if (sUrl == m_PingUrl) return;
    m_PingUrl = sUrl;
    m_Changed = true;
}

void CBackupJob::ReadPingKey(const IniFile& ini) { m_PingUrl = libStrings::Trim(ini.Get("Config", "PingUrl")); }

void CBackupJob::WritePingKey(IniFile& ini) const {
    if (!m_PingUrl.empty() || ini.Has("Config", "PingUrl")) ini.Set("Config", "PingUrl", m_PingUrl);
}
