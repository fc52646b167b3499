#pragma once
// Environment variables changed for one scope; the earlier values come back at its end.

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            Apply(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
    }
    // Sets a variable, or removes it when sValue is null.
    void Set(const char* sName, const char* sValue) {
        const char* sNow = std::getenv(sName);
        m_saved.emplace_back(sName, sNow ? std::optional<std::string>(sNow) : std::nullopt);
        Apply(sName, sValue);
    }

private:
    static void Apply(const char* sName, const char* sValue) {
        if (sValue)
            setenv(sName, sValue, 1);
        else
            unsetenv(sName);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};
