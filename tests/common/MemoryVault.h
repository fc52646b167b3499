#pragma once
// A keyring for tests: entries in memory, a switch that makes it unreachable, and a record of
// the calls. Installed for the life of the object; the previous vault is put back after.

#include "support/PasswordVault.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class MemoryVault : public PasswordVault::Vault {
public:
    std::map<std::string, std::string> Entries;
    bool Reachable = true;
    std::vector<std::string> Calls; // "Read Mail", "Write Mail", "Remove Mail"

    PasswordVault::Result Read(const std::string& sJobName) override {
        Calls.push_back("Read " + sJobName);
        if (!Reachable) return Down();
        auto it = Entries.find(sJobName);
        if (it == Entries.end()) return {PasswordVault::Status::NotFound, "", ""};
        return {PasswordVault::Status::Found, it->second, ""};
    }
    PasswordVault::Result Write(const std::string& sJobName, const std::string& sPassword) override {
        Calls.push_back("Write " + sJobName);
        if (!Reachable) return Down();
        Entries[sJobName] = sPassword;
        return {PasswordVault::Status::Found, "", ""};
    }
    PasswordVault::Result Remove(const std::string& sJobName) override {
        Calls.push_back("Remove " + sJobName);
        if (!Reachable) return Down();
        if (Entries.erase(sJobName) == 0) return {PasswordVault::Status::NotFound, "", ""};
        return {PasswordVault::Status::Found, "", ""};
    }

private:
    static PasswordVault::Result Down() { return {PasswordVault::Status::Unreachable, "", "the test keyring is off"}; }
};

// Installs a MemoryVault for a scope: Vault() is the one in use.
class MemoryVaultScope {
public:
    MemoryVaultScope() {
        auto vault = std::make_unique<MemoryVault>();
        m_pVault = vault.get();
        m_previous = PasswordVault::Install(std::move(vault));
    }
    ~MemoryVaultScope() { PasswordVault::Install(std::move(m_previous)); }
    MemoryVault& Vault() { return *m_pVault; }

private:
    MemoryVault* m_pVault;
    std::unique_ptr<PasswordVault::Vault> m_previous;
};
