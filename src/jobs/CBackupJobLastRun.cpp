// The figures of a job's last run: files and bytes backed up and the run's length, kept for
// /STATUS and the job list. Written only once a run recorded them, so that older job files
// load and save as they were.

#include "jobs/CBackupJob.h"

#include "support/libIni.h"
#include "support/libStrings.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// A count of at least 0, or -1 for a missing or malformed value.
int64_t CountOrUnknown(const std::string& sText) {
    const std::string s = libStrings::Trim(sText);
    if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos) return -1;
    errno = 0;
    const long long l = std::strtoll(s.c_str(), nullptr, 10);
    return errno == 0 ? l : -1;
}

double SecondsOrUnknown(const std::string& sText) {
    const std::string s = libStrings::Trim(sText);
    if (s.empty() || s.find_first_not_of("0123456789.") != std::string::npos) return -1;
    char* pEnd = nullptr;
    const double d = std::strtod(s.c_str(), &pEnd);
    return pEnd != nullptr && *pEnd == '\0' && std::isfinite(d) ? d : -1;
}

} // namespace

void CBackupJob::SetLastRun(const LastRunFigures& figures) {
    if (figures == m_LastRun) return;
    m_LastRun = figures;
    m_Changed = true;
}

std::string CBackupJob::LastRunText() const {
    if (!m_LastRun.Known()) return "";
    return std::to_string(m_LastRun.Files) + " files (" + libStrings::SizeText(static_cast<double>(m_LastRun.Bytes)) +
           ") in " + libStrings::DurationText(m_LastRun.Seconds);
}

void CBackupJob::ReadLastRunKeys(const IniFile& ini) {
    LastRunFigures figures;
    figures.Files = CountOrUnknown(ini.Get("Config", "LastRunFiles", ""));
    figures.Bytes = CountOrUnknown(ini.Get("Config", "LastRunBytes", ""));
    figures.Seconds = SecondsOrUnknown(ini.Get("Config", "LastRunSeconds", ""));
    // All three or none: figures of different runs never stand together.
    m_LastRun = figures.Known() ? figures : LastRunFigures{};
}

void CBackupJob::WriteLastRunKeys(IniFile& ini) const {
    if (!m_LastRun.Known()) {
        for (const char* sKey : {"LastRunFiles", "LastRunBytes", "LastRunSeconds"})
            if (ini.Has("Config", sKey)) ini.Remove("Config", sKey);
        return;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", m_LastRun.Seconds);
    ini.Set("Config", "LastRunFiles", std::to_string(m_LastRun.Files));
    ini.Set("Config", "LastRunBytes", std::to_string(m_LastRun.Bytes));
    ini.Set("Config", "LastRunSeconds", buf);
}
