#pragma once
// Proof that a backup reads back whole: every archive entry read and its CRC checked, or every
// file of a copy tree compared with its source.

#include <cstdint>
#include <string>
#include <vector>

class CBackupJob;

namespace libVerify {

// Reads every entry of the archive and checks its CRC-32 and length; each name of
// pExpected (names as stored) must be present. False with the failing entry in sFailure.
bool VerifyArchive(const std::string& sArchive, const std::string& sPassword, std::string& sFailure,
                   const std::vector<std::string>* pExpected = nullptr);

// Compares every file of the copy job's target tree with its source: size and modification
// time, and the bytes of the files put there at or after lContentSinceNs (their change time).
// Files whose source is gone or changed at or after lSourcesBeforeNs (a backup cannot know
// them) are not compared. False with the failing file in sFailure.
bool VerifyCopyTree(const CBackupJob& job, int64_t lContentSinceNs, int64_t lSourcesBeforeNs, std::string& sFailure);

// The job's newest backup read back (on demand: Action menu, /VERIFY). Logs the outcome under
// the job's header line. False with the reason in sFailure (also when there is no backup).
bool VerifyNewest(const CBackupJob& job, std::string& sFailure);

// After a run that completed: the new archive sArchive ("" for a copy run), with the names the
// run's selection gives now, or the copy tree with the content of what the run copied. Logs
// the outcome; false when the backup does not read back whole.
bool VerifyAfterRun(const CBackupJob& job, const std::string& sArchive, int64_t lRunStartNs);

} // namespace libVerify
