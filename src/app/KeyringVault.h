#pragma once
// The desktop keyring behind the PasswordVault seam: QtKeychain (Secret Service, KWallet), each
// entry under the service "Stowline" and the job's name. Every call waits for its answer in a
// local event loop for at most the time given (10 s): a keyring that does not answer, also one
// waiting on an unlock prompt, is "cannot be reached", never a hang. Without a session bus the
// calls fail at once. Works without a window too: where the program made no Qt application (the
// headless agent, the command line without a display) it makes a core one on first use.

#include "support/PasswordVault.h"

#include <memory>

class QCoreApplication;
namespace QKeychain {
class Job;
}

class KeyringVault : public PasswordVault::Vault {
public:
    static constexpr int DefaultTimeoutMs = 10000;
    explicit KeyringVault(int iTimeoutMs = DefaultTimeoutMs);
    ~KeyringVault() override;

    PasswordVault::Result Read(const std::string& sJobName) override;
    PasswordVault::Result Write(const std::string& sJobName, const std::string& sPassword) override;
    PasswordVault::Result Remove(const std::string& sJobName) override;

    // The service name the entries are kept under.
    static const char* ServiceName() { return "Stowline"; }

private:
    // Starts the job and waits for it; the job deletes itself when it ends.
    PasswordVault::Result Wait(QKeychain::Job* pJob, bool bRead);
    // False, with the reason, when no Qt event loop can run here.
    bool Ready(std::string& sReason);

    int m_iTimeoutMs;
    std::unique_ptr<QCoreApplication> m_pOwnApp;
};
