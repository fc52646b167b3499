#include "jobs/JobPassword.h"

#include "jobs/CBackupJob.h"

namespace JobPassword {

using PasswordVault::Result;
using PasswordVault::Status;

bool Fetch(CBackupJob& job, std::string& sProblem) {
    sProblem.clear();
    if (!job.PasswordInKeyring()) return true;
    const Result read = PasswordVault::Current().Read(job.JobName());
    // An empty entry would make an unprotected archive of a job that asked for protection.
    if (read.Done() && !read.Value.empty()) {
        job.SetPasswordRaw(read.Value);
        return true;
    }
    sProblem = PasswordVault::UnreachableText(
        job.JobName(), read.Done() ? Result{Status::Unreachable, "", "the stored password is empty"} : read);
    return false;
}

Result MoveEntry(const std::string& sOldName, const std::string& sNewName) {
    if (sOldName == sNewName) return Result{Status::Found, "", ""};
    PasswordVault::Vault& vault = PasswordVault::Current();
    const Result there = vault.Read(sNewName);
    if (there.State == Status::Unreachable) return there;
    if (there.State == Status::NotFound) {
        const Result copied = PasswordVault::Copy(sOldName, sNewName);
        if (!copied.Done()) return copied;
    }
    return vault.Remove(sOldName);
}

} // namespace JobPassword
