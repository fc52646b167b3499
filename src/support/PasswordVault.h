#pragma once
// Where the passwords of jobs kept outside their job files live: the desktop keyring. Core code
// reaches it only through this seam, by job name; the program installs the keyring
// implementation at start-up (src/app/KeyringVault), tests install their own. Until one is
// installed every call answers that no keyring can be reached, so nothing ever waits on it.

#include <memory>
#include <string>

namespace PasswordVault {

enum class Status {
    Found,      // the operation was done (for Read: Value holds the password)
    NotFound,   // the keyring answered and holds no entry under that name
    Unreachable // no keyring answered; Reason says why
};

struct Result {
    Status State = Status::Unreachable;
    std::string Value;  // the password read (Read only)
    std::string Reason; // why the keyring could not be reached (Unreachable only)
    bool Done() const { return State == Status::Found; }
};

class Vault {
public:
    virtual ~Vault() = default;
    virtual Result Read(const std::string& sJobName) = 0;
    // Stores or replaces the entry.
    virtual Result Write(const std::string& sJobName, const std::string& sPassword) = 0;
    // NotFound when there was no entry to remove.
    virtual Result Remove(const std::string& sJobName) = 0;
};

// The installed implementation.
Vault& Current();
// Installs an implementation (nullptr: the one that reaches nothing). Returns the previous one.
std::unique_ptr<Vault> Install(std::unique_ptr<Vault> vault);

// Copies the entry of sFrom to sTo (replacing one there). NotFound when sFrom has none.
Result Copy(const std::string& sFrom, const std::string& sTo);

// What the user is told when a job's password cannot be had from the keyring: "The password of
// job 'X' is kept in the desktop keyring, which cannot be reached: <reason>". A keyring that
// answered without the entry gives the reason "no password is stored for it".
std::string UnreachableText(const std::string& sJobName, const Result& result);

} // namespace PasswordVault
