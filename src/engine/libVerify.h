#pragma once
// Proof that a backup reads back whole: every archive entry read and its CRC checked, or every
// file of a copy tree compared with its source.

#include <cstdint>
#include <string>
#include <vector>

class CBackupJob;

namespace libVerify {

// Reads every entry of the archive and checks its CRC-32 and length (data longer or shorter
// than declared is damaged, as is an entry the reading found damaged); each name of pExpected
// (names as stored) must be present. An empty archive (0 bytes, or no entries) fails. False with
// the failing entry in sFailure.
bool VerifyArchive(const std::string& sArchive, const std::string& sPassword, std::string& sFailure,
                   const std::vector<std::string>* pExpected = nullptr);

// Holds the copy job's tree to its sources, selected as the copy step selects them: every file
// compared by its bytes, every file and folder the copy should hold and does not named, a
// source's whole tree gone named. Sources changed at or after lSourcesBeforeNs (or after their
// copy was made) cannot be judged and are skipped. False with each problem ("<path>: <why>",
// e.g. "/t/Docs/a.txt: content differs") in problems.
// sCopyRoot: the folder holding the copy ("": the job's target; a snapshot's folder otherwise).
bool VerifyCopyTree(const CBackupJob& job, int64_t lSourcesBeforeNs, std::vector<std::string>& problems,
                    const std::string& sCopyRoot = "");

// The job's newest backup read back (on demand: Action menu, /VERIFY): an archive also against
// the names the job's selection gives now (less files changed since it was made), and a
// missing newest archive (the job's record says a run made one) fails. Logs each problem as
// "  Verify failed: <problem>" under the job's header line. False with the first problem in
// sFailure (also when there is no backup); pChecked gets the archive or copy tree read. A job
// with an OffsiteRemote also has its newest remote backup held to the local one (see
// OffsiteFetch::CheckNewest): a difference, or a remote that cannot be read, fails as a damaged
// backup does; pOffsite gets what held.
bool VerifyNewest(const CBackupJob& job, std::string& sFailure, std::string* pChecked = nullptr,
                  std::string* pOffsite = nullptr);

// After a run that completed: the new archive sArchive ("" for a copy run), with the names the
// run's selection gives now, or the copy tree, each compared by content. Logs the outcome;
// false when the backup does not read back whole.
// sCopyRoot: as VerifyCopyTree takes it.
bool VerifyAfterRun(const CBackupJob& job, const std::string& sArchive, int64_t lRunStartNs,
                    const std::string& sCopyRoot = "");

} // namespace libVerify
