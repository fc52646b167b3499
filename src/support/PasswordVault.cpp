#include "support/PasswordVault.h"

namespace PasswordVault {

namespace {
class NoVault : public Vault {
public:
    Result Read(const std::string&) override { return None(); }
    Result Write(const std::string&, const std::string&) override { return None(); }
    Result Remove(const std::string&) override { return None(); }

private:
    static Result None() { return Result{Status::Unreachable, "", "this program has no keyring support"}; }
};

std::unique_ptr<Vault>& Installed() {
    static std::unique_ptr<Vault> vault = std::make_unique<NoVault>();
    return vault;
}
} // namespace

Vault& Current() { return *Installed(); }

std::unique_ptr<Vault> Install(std::unique_ptr<Vault> vault) {
    auto previous = std::move(Installed());
    Installed() = vault ? std::move(vault) : std::make_unique<NoVault>();
    return previous;
}

Result Copy(const std::string& sFrom, const std::string& sTo) {
    Result read = Current().Read(sFrom);
    if (!read.Done()) return read;
    Result written = Current().Write(sTo, read.Value);
    return written;
}

std::string UnreachableText(const std::string& sJobName, const Result& result) {
    const std::string sReason = result.State == Status::NotFound ? std::string("no password is stored for it")
                                : result.Reason.empty()          ? std::string("no reason was given")
                                                                 : result.Reason;
    return "The password of job '" + sJobName + "' is kept in the desktop keyring, which cannot be reached: " + sReason;
}

} // namespace PasswordVault
