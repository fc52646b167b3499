#include "support/libStrings.h"

#include "support/libErrorHandler.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace libStrings {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Parses a decimal number at sText[i]: sign, digits, one point, exponent. Returns the end index,
// or npos when no digit was seen. Blanks are not allowed inside.
size_t ScanDecimal(std::string_view s, size_t i, bool bAllowSign) {
    size_t n = s.size();
    if (bAllowSign && i < n && (s[i] == '+' || s[i] == '-')) ++i;
    size_t iDigits = 0;
    while (i < n && IsDigit(s[i]))
        ++i, ++iDigits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && IsDigit(s[i]))
            ++i, ++iDigits;
    }
    if (iDigits == 0) return std::string_view::npos;
    if (i < n && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        size_t j = i + 1;
        if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
        size_t k = j;
        while (k < n && IsDigit(s[k]))
            ++k;
        if (k > j)
            i = k;
        else
            return std::string_view::npos - 1; // an exponent marker without digits
    }
    return i;
}

// "&H1F" / "&O17" radix literals.
bool RadixValue(std::string_view s, double& d) {
    if (s.size() < 3 || s[0] != '&') return false;
    char k = Lower(s[1]);
    int iBase = k == 'h' ? 16 : (k == 'o' ? 8 : 0);
    if (!iBase) return false;
    double v = 0;
    for (size_t i = 2; i < s.size(); ++i) {
        char c = Lower(s[i]);
        int iDigit = IsDigit(c) ? c - '0' : (c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99);
        if (iDigit >= iBase) return false;
        v = v * iBase + iDigit;
    }
    d = v;
    return true;
}

template <class T> T ClampedRound(const std::string& sText, T lMin, T lMax) {
    if (!IsNumeric(sText)) return lMin;
    double d = RoundHalfEven(NumericValue(sText));
    if (std::isnan(d)) return lMin;
    if (d < static_cast<double>(lMin)) return lMin;
    if (d > static_cast<double>(lMax)) return lMax;
    return static_cast<T>(d);
}
} // namespace

std::string StripBadChars(const std::string& sText, const std::string& sBadChars, const std::string& sReplacement) {
    try {
        std::string sOut;
        sOut.reserve(sText.size());
        for (char c : sText) {
            if (sBadChars.find(c) != std::string::npos)
                sOut += sReplacement;
            else
                sOut += c;
        }
        return sOut;
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "libStrings", "StripBadChars()", "");
        return sText;
    }
}

std::string StripFileNameChars(const std::string& sText) { return StripBadChars(sText, "' ;@#!$%^&*()\"", ""); }

std::string MakePrintable(const std::string& sText) {
    std::string sOut;
    for (char c : sText) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 32 && u <= 126) sOut += c;
    }
    return sOut;
}

int16_t StrToIntRange(const std::string& sText, int16_t iMin, int16_t iMax) {
    return ClampedRound<int16_t>(sText, iMin, iMax);
}

int32_t StrToLongRange(const std::string& sText, int32_t lMin, int32_t lMax) {
    return ClampedRound<int32_t>(sText, lMin, lMax);
}

std::vector<std::string> FileList(const std::string& sText) {
    std::vector<std::string> lines;
    GetFileList(sText, lines);
    return lines;
}

bool GetFileList(const std::string& sText, std::vector<std::string>& lines) {
    try {
        lines.clear();
        size_t iStart = 0;
        for (;;) {
            size_t iEnd = sText.find("\r\n", iStart);
            if (iEnd == std::string::npos) break;
            std::string sLine = sText.substr(iStart, iEnd - iStart);
            if (!Trim(sLine).empty()) lines.push_back(std::move(sLine));
            iStart = iEnd + 2;
        }
        if (lines.empty()) lines.push_back("");
        return false;
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "libStrings", "GetFileList()", "");
        return true;
    }
}

std::string ShortenForDisplay(const std::string& sText) {
    if (sText.size() < 50) return sText;
    return "..." + Trim(std::string_view(sText).substr(sText.size() - 44));
}

std::string Trim(std::string_view s) {
    size_t i = 0, n = s.size();
    while (i < n && IsBlank(s[i]))
        ++i;
    while (n > i && IsBlank(s[n - 1]))
        --n;
    return std::string(s.substr(i, n - i));
}

std::string LCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = Lower(c);
    return r;
}

std::string UCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

bool IEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool StartsWith(std::string_view s, std::string_view p) { return s.size() >= p.size() && s.substr(0, p.size()) == p; }
bool IEndsWith(std::string_view s, std::string_view p) {
    return s.size() >= p.size() && IEquals(s.substr(s.size() - p.size()), p);
}

bool IsNumeric(std::string_view sText) {
    std::string s = Trim(sText);
    if (s.empty()) return false;
    double d;
    if (RadixValue(s, d)) return true;
    size_t iEnd = ScanDecimal(s, 0, true);
    return iEnd == s.size();
}

double NumericValue(std::string_view sText) {
    std::string s = Trim(sText);
    double d = 0;
    if (RadixValue(s, d)) return d;
    if (ScanDecimal(s, 0, true) != s.size()) return 0;
    for (char& c : s)
        if (c == 'd' || c == 'D') c = 'e';
    return std::strtod(s.c_str(), nullptr);
}

double Val(std::string_view sText) {
    // Blanks, tabs and line feeds anywhere are skipped, as the classic Val does.
    std::string s;
    for (char c : sText)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s += c;
    double d = 0;
    if (s.size() >= 2 && s[0] == '&') {
        size_t n = 2;
        while (n < s.size() && std::isxdigit(static_cast<unsigned char>(s[n])))
            ++n;
        if (RadixValue(std::string_view(s).substr(0, n), d)) return d;
        return 0;
    }
    size_t iEnd = ScanDecimal(s, 0, true);
    if (iEnd == std::string_view::npos) return 0;
    if (iEnd == std::string_view::npos - 1) {
        // "12e" or "12e+": the number before the exponent marker.
        size_t i = 0;
        if (s[i] == '+' || s[i] == '-') ++i;
        while (i < s.size() && (IsDigit(s[i]) || s[i] == '.'))
            ++i;
        iEnd = i;
    }
    std::string sNum = s.substr(0, iEnd);
    for (char& c : sNum)
        if (c == 'd' || c == 'D') c = 'e';
    return std::strtod(sNum.c_str(), nullptr);
}

double RoundHalfEven(double d) {
    if (!std::isfinite(d)) return d;
    double r = std::floor(d);
    double diff = d - r;
    if (diff > 0.5) return r + 1;
    if (diff < 0.5) return r;
    return std::fmod(r, 2.0) == 0 ? r : r + 1;
}

std::string ReplaceAll(std::string s, std::string_view sFrom, std::string_view sTo) {
    if (sFrom.empty()) return s;
    size_t i = 0;
    while ((i = s.find(sFrom, i)) != std::string::npos) {
        s.replace(i, sFrom.size(), sTo);
        i += sTo.size();
    }
    return s;
}

std::vector<std::string> Split(std::string_view s, std::string_view sSep) {
    std::vector<std::string> out;
    if (sSep.empty()) {
        out.emplace_back(s);
        return out;
    }
    size_t i = 0;
    for (;;) {
        size_t j = s.find(sSep, i);
        if (j == std::string_view::npos) {
            out.emplace_back(s.substr(i));
            return out;
        }
        out.emplace_back(s.substr(i, j - i));
        i = j + sSep.size();
    }
}

namespace {
// Matches one bracket class starting at p[i] == '['. Returns the index after ']' and whether c
// is in the class; npos when the bracket is not closed (then '[' is taken literally).
size_t MatchClass(std::string_view p, size_t i, char c, bool& bMatched) {
    size_t j = i + 1;
    bool bNegate = false;
    if (j < p.size() && p[j] == '!') bNegate = true, ++j;
    bool bIn = false;
    bool bFirst = true;
    char lc = Lower(c);
    while (j < p.size() && (p[j] != ']' || bFirst)) {
        bFirst = false;
        char lo = Lower(p[j]);
        if (j + 2 < p.size() && p[j + 1] == '-' && p[j + 2] != ']') {
            char hi = Lower(p[j + 2]);
            if (static_cast<unsigned char>(lc) >= static_cast<unsigned char>(lo) &&
                static_cast<unsigned char>(lc) <= static_cast<unsigned char>(hi))
                bIn = true;
            j += 3;
        } else {
            if (lc == lo) bIn = true;
            ++j;
        }
    }
    if (j >= p.size()) return std::string_view::npos;
    bMatched = bIn != bNegate;
    return j + 1;
}

// One element of a Like pattern.
struct LikeElem {
    enum Kind { Star, Any, Digit, Class, Literal } kind;
    char c = 0;
    size_t classAt = 0; // index of '[' in the pattern, for Class
};

std::vector<LikeElem> CompileLike(std::string_view p) {
    std::vector<LikeElem> out;
    for (size_t i = 0; i < p.size();) {
        char pc = p[i];
        if (pc == '*') {
            if (out.empty() || out.back().kind != LikeElem::Star) out.push_back({LikeElem::Star});
            ++i;
        } else if (pc == '?') {
            out.push_back({LikeElem::Any});
            ++i;
        } else if (pc == '#') {
            out.push_back({LikeElem::Digit});
            ++i;
        } else if (pc == '[') {
            bool bDummy = false;
            size_t next = MatchClass(p, i, 'a', bDummy);
            if (next == std::string_view::npos) {
                out.push_back({LikeElem::Literal, '['});
                ++i;
            } else {
                out.push_back({LikeElem::Class, 0, i});
                i = next;
            }
        } else {
            out.push_back({LikeElem::Literal, pc});
            ++i;
        }
    }
    return out;
}

bool ElemMatches(const LikeElem& e, std::string_view p, char c) {
    switch (e.kind) {
    case LikeElem::Any:
        return true;
    case LikeElem::Digit:
        return IsDigit(c);
    case LikeElem::Class: {
        bool bMatched = false;
        MatchClass(p, e.classAt, c, bMatched);
        return bMatched;
    }
    case LikeElem::Literal:
        return Lower(e.c) == Lower(c);
    case LikeElem::Star:
        break;
    }
    return false;
}
} // namespace

// Dynamic programming over (text position, pattern element): time and memory grow with the
// product of the lengths, never exponentially, whatever stars a user's exclusion holds.
bool Like(std::string_view sText, std::string_view sPattern) {
    const std::vector<LikeElem> elems = CompileLike(sPattern);
    const size_t n = sText.size(), m = elems.size();
    // reach[j]: the first j elements match the text consumed so far.
    std::vector<char> reach(m + 1, 0), next(m + 1, 0);
    auto closeOverStars = [&](std::vector<char>& r) {
        for (size_t j = 0; j < m; ++j)
            if (r[j] && elems[j].kind == LikeElem::Star) r[j + 1] = 1; // a star may match nothing
    };
    reach[0] = 1;
    closeOverStars(reach);
    for (size_t i = 0; i < n; ++i) {
        std::fill(next.begin(), next.end(), 0);
        for (size_t j = 0; j < m; ++j) {
            if (elems[j].kind == LikeElem::Star) {
                if (reach[j] || reach[j + 1]) next[j + 1] = 1; // the star takes this byte too
            } else if (reach[j] && ElemMatches(elems[j], sPattern, sText[i])) {
                next[j + 1] = 1;
            }
        }
        closeOverStars(next);
        reach.swap(next);
    }
    return reach[m] != 0;
}

namespace {
// Iterative * and ? matcher (linear backtracking on the last star).
bool GlobMatch(std::string_view s, std::string_view p) {
    size_t si = 0, pi = 0, star = std::string_view::npos, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == '?' || Lower(p[pi]) == Lower(s[si]))) {
            ++si, ++pi;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = si;
        } else if (star != std::string_view::npos) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}
} // namespace

bool WildcardMatch(std::string_view sName, std::string_view sPattern) {
    if (GlobMatch(sName, sPattern)) return true;
    // A trailing ".*" also matches a name without an extension ("*.*" matches every name).
    if (sPattern.size() >= 2 && sPattern.substr(sPattern.size() - 2) == ".*" &&
        sName.find('.') == std::string_view::npos)
        return GlobMatch(sName, sPattern.substr(0, sPattern.size() - 2));
    return false;
}

bool HasWildcards(std::string_view sText) { return sText.find_first_of("*?") != std::string_view::npos; }

bool BoolFromIniText(const std::string& sText) {
    if (sText == "True") return true;
    return Val(sText) != 0;
}

std::string BoolToIniText(bool b) { return b ? "-1" : "0"; }

std::string SizeText(double dBytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int i = 0;
    while (dBytes >= 1024 && i < 4) {
        dBytes /= 1024;
        ++i;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, i == 0 ? "%.0f %s" : "%.1f %s", dBytes, units[i]);
    return buf;
}

std::string DurationText(double dSeconds) {
    dSeconds = std::max(0.0, dSeconds);
    if (dSeconds < 10) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.1f s", dSeconds);
        return buf;
    }
    const auto lSeconds = static_cast<int64_t>(std::llround(dSeconds));
    if (lSeconds < 60) return std::to_string(lSeconds) + " s";
    if (lSeconds < 3600) return std::to_string(lSeconds / 60) + " min " + std::to_string(lSeconds % 60) + " s";
    return std::to_string(lSeconds / 3600) + " h " + std::to_string(lSeconds % 3600 / 60) + " min";
}

bool IsUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b >> 6) != 2) return false;
            cp = cp << 6 | (b & 0x3F);
        }
        static constexpr uint32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < Least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

} // namespace libStrings
