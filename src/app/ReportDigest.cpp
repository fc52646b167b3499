// The daily digest's text: the job health report /STATUS prints, failed and stale jobs first.

#include "app/ReportMail.h"

#include "jobs/CBackupJobManager.h"
#include "jobs/JobHealth.h"
#include "support/libStrings.h"

#include <QCoreApplication>
#include <algorithm>

namespace ReportMail {

namespace {
struct Row {
    int Rank; // 0 failed, 1 stale, 2 anything else
    std::vector<std::string> Fields;
};
} // namespace

Message Digest(CBackupJobManager& manager, double dNow, int iStaleDays) {
    bool bAlarm = false;
    const std::string sReport = JobHealth::StatusReport(manager, dNow, iStaleDays, bAlarm);
    const std::string sFailed = JobHealth::StateText(JobHealth::State::Failed);
    const std::string sStale = JobHealth::StateText(JobHealth::State::Stale);
    std::vector<Row> rows;
    int iFailed = 0, iStale = 0;
    for (const std::string& sLine : libStrings::Split(sReport, "\n")) {
        if (sLine.empty()) continue;
        Row row{2, libStrings::Split(sLine, "\t")};
        if (row.Fields.size() < 6) continue;
        if (row.Fields[1] == sFailed) row.Rank = 0, ++iFailed;
        if (row.Fields[1] == sStale) row.Rank = 1, ++iStale;
        rows.push_back(std::move(row));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.Rank < b.Rank; });
    Message m;
    m.Subject = QCoreApplication::translate("ReportMail", "Stowline daily report: %1 jobs, %2 failed, %3 stale")
                    .arg(rows.size())
                    .arg(iFailed)
                    .arg(iStale)
                    .toLocal8Bit()
                    .toStdString();
    for (const Row& row : rows) {
        const auto& f = row.Fields;
        m.Body += QCoreApplication::translate("ReportMail",
                                              "%1: %2; last run %3, last success %4, next run %5, off-site copy %6")
                      .arg(QString::fromLocal8Bit(f[0].c_str()), QString::fromLocal8Bit(f[1].c_str()),
                           QString::fromLocal8Bit(f[2].c_str()), QString::fromLocal8Bit(f[3].c_str()),
                           QString::fromLocal8Bit(f[4].c_str()), QString::fromLocal8Bit(f[5].c_str()))
                      .toLocal8Bit()
                      .toStdString() +
                  "\n";
    }
    if (rows.empty())
        m.Body =
            QCoreApplication::translate("ReportMail", "There are no backup jobs.").toLocal8Bit().toStdString() + "\n";
    return m;
}

} // namespace ReportMail
