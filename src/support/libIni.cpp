#include "support/libIni.h"

#include "support/StowError.h"
#include "support/libFiles.h"
#include "support/libStrings.h"

#include <cerrno>
#include <fstream>
#include <sstream>

using libStrings::IEquals;
using libStrings::Trim;

namespace {
// "[Name]" (blanks allowed around): the section name, trimmed.
bool SectionHeader(const std::string& sLine, std::string& sName) {
    std::string s = Trim(sLine);
    if (s.size() < 2 || s[0] != '[') return false;
    size_t iClose = s.find(']');
    if (iClose == std::string::npos) return false;
    sName = Trim(std::string_view(s).substr(1, iClose - 1));
    return true;
}

// "key=value": the key, trimmed. Comment lines (";") and lines without "=" have no key.
bool KeyOf(const std::string& sLine, std::string& sKey) {
    size_t iEq = sLine.find('=');
    if (iEq == std::string::npos) return false;
    std::string s = Trim(std::string_view(sLine).substr(0, iEq));
    if (!s.empty() && s[0] == ';') return false;
    sKey = s;
    return true;
}

std::string ValueOf(const std::string& sLine) {
    std::string s = Trim(std::string_view(sLine).substr(sLine.find('=') + 1));
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        s = s.substr(1, s.size() - 2);
    return s;
}

// A line cannot carry CR or LF: they would split it. Callers escape such bytes themselves;
// this only keeps the file's structure intact.
std::string OneLine(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c == '\r' || c == '\n') c = ' ';
    return r;
}
} // namespace

namespace libIni {
std::string QuoteIfNeeded(const std::string& sValue) {
    if (sValue.empty()) return sValue;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    bool bEdges = blank(sValue.front()) || blank(sValue.back());
    bool bQuoted =
        sValue.size() >= 2 && (sValue.front() == '"' || sValue.front() == '\'') && sValue.back() == sValue.front();
    if (bEdges || bQuoted) return "\"" + sValue + "\"";
    return sValue;
}
} // namespace libIni

bool IniFile::Load(const std::string& sPath) {
    std::ifstream in(sPath, std::ios::binary);
    if (!in) {
        Parse("");
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    Parse(ss.str());
    return true;
}

void IniFile::Parse(const std::string& sText) {
    m_plain.clear();
    m_sections.clear();
    size_t i = 0;
    while (i < sText.size()) {
        size_t j = sText.find('\n', i);
        std::string sLine = sText.substr(i, j == std::string::npos ? std::string::npos : j - i);
        if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
        std::string sName;
        if (SectionHeader(sLine, sName)) {
            m_sections.push_back(Section{sName, {}});
        } else if (m_sections.empty()) {
            m_plain.push_back(sLine);
        } else {
            m_sections.back().Lines.push_back(sLine);
        }
        if (j == std::string::npos) break;
        i = j + 1;
    }
}

int IniFile::FindSection(const std::string& sSection) const {
    std::string sWanted = Trim(sSection);
    for (size_t i = 0; i < m_sections.size(); ++i)
        if (IEquals(m_sections[i].Name, sWanted)) return static_cast<int>(i);
    return -1;
}

bool IniFile::HasSection(const std::string& sSection) const { return FindSection(sSection) >= 0; }

bool IniFile::Has(const std::string& sSection, const std::string& sKey) const {
    int s = FindSection(sSection);
    if (s < 0) return false;
    std::string sWanted = Trim(sKey), k;
    for (auto& l : m_sections[s].Lines)
        if (KeyOf(l, k) && IEquals(k, sWanted)) return true;
    return false;
}

const std::string* IniFile::FindLine(const std::string& sSection, const std::string& sKey) const {
    int s = FindSection(sSection);
    if (s < 0) return nullptr;
    std::string sWanted = Trim(sKey), k;
    for (auto& l : m_sections[s].Lines)
        if (KeyOf(l, k) && IEquals(k, sWanted)) return &l;
    return nullptr;
}

std::string IniFile::Get(const std::string& sSection, const std::string& sKey, const std::string& sDefault) const {
    const std::string* pLine = FindLine(sSection, sKey);
    return pLine ? ValueOf(*pLine) : sDefault;
}

bool IniFile::HasBlankValue(const std::string& sSection, const std::string& sKey) const {
    const std::string* pLine = FindLine(sSection, sKey);
    if (!pLine) return false;
    const std::string sRaw = pLine->substr(pLine->find('=') + 1);
    return !sRaw.empty() && Trim(sRaw).empty();
}

void IniFile::Set(const std::string& sSection, const std::string& sKey, const std::string& sValue) {
    std::string sWanted = Trim(OneLine(sKey));
    std::string sLine = sWanted + "=" + libIni::QuoteIfNeeded(OneLine(sValue));
    int s = FindSection(sSection);
    if (s < 0) {
        m_sections.push_back(Section{Trim(OneLine(sSection)), {sLine}});
        return;
    }
    auto& lines = m_sections[s].Lines;
    std::string k;
    for (auto& l : lines)
        if (KeyOf(l, k) && IEquals(k, sWanted)) {
            l = sLine;
            return;
        }
    // After the last non-blank line, so blank separator lines stay between sections.
    size_t iPos = lines.size();
    while (iPos > 0 && Trim(lines[iPos - 1]).empty())
        --iPos;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(iPos), sLine);
}

void IniFile::Remove(const std::string& sSection, const std::string& sKey) {
    int s = FindSection(sSection);
    if (s < 0) return;
    auto& lines = m_sections[s].Lines;
    std::string sWanted = Trim(sKey), k;
    for (size_t i = 0; i < lines.size(); ++i)
        if (KeyOf(lines[i], k) && IEquals(k, sWanted)) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
}

void IniFile::WriteSection(const std::string& sSection, const std::vector<std::string>& data) {
    std::vector<std::string> lines;
    for (auto& d : data)
        lines.push_back(OneLine(d));
    int s = FindSection(sSection);
    if (s < 0)
        m_sections.push_back(Section{Trim(OneLine(sSection)), std::move(lines)});
    else
        m_sections[s].Lines = std::move(lines);
}

std::vector<std::string> IniFile::Keys(const std::string& sSection) const {
    std::vector<std::string> out;
    int s = FindSection(sSection);
    if (s < 0) return out;
    std::string k;
    for (auto& l : m_sections[s].Lines)
        if (KeyOf(l, k)) out.push_back(k);
    return out;
}

std::string IniFile::Text() const {
    std::string s;
    for (auto& l : m_plain)
        s += l + "\r\n";
    for (auto& sec : m_sections) {
        s += "[" + sec.Name + "]\r\n";
        for (auto& l : sec.Lines)
            s += l + "\r\n";
    }
    return s;
}

bool IniFile::Save(const std::string& sPath, mode_t mode) const {
    libFiles::WriteWholeFileAtomic(sPath, Text(), mode);
    return true;
}
