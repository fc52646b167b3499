#pragma once
// INI files with the Windows profile rules: sections and keys compared without
// regard to case, blanks around keys and values ignored, a value in matching
// quotes read without them, lines that are not key=value kept as they are.
// Saved whole, with CR LF, through a temporary file and a rename.

#include <string>
#include <sys/types.h>
#include <vector>

class IniFile {
public:
    IniFile() = default;
    // Reads the file (any bytes; CR LF or LF). Returns false when it cannot be read (the object
    // is then empty). A missing file is not an error for callers that just want defaults.
    bool Load(const std::string& sPath);
    // Replaces the content with the given text (as if read from a file).
    void Parse(const std::string& sText);

    bool HasSection(const std::string& sSection) const;
    bool Has(const std::string& sSection, const std::string& sKey) const;
    // The value (trimmed, matching outer quotes removed), or sDefault when the key is missing.
    std::string Get(const std::string& sSection, const std::string& sKey, const std::string& sDefault = "") const;
    // True when the key is present with a value of blanks only (which Get reads as "").
    bool HasBlankValue(const std::string& sSection, const std::string& sKey) const;
    // Replaces the key's line in place, or appends it at the end of its section, creating the
    // section at the end of the file when missing.
    void Set(const std::string& sSection, const std::string& sKey, const std::string& sValue);
    // Removes a key (no effect when missing).
    void Remove(const std::string& sSection, const std::string& sKey);
    // Replaces the whole body of a section with the given lines (each "key=value" or plain);
    // empty data keeps the header with no lines.
    void WriteSection(const std::string& sSection, const std::vector<std::string>& data);
    // The key names of a section in file order.
    std::vector<std::string> Keys(const std::string& sSection) const;
    // The lines before the first section header (legacy layouts), as read, without line ends.
    const std::vector<std::string>& PlainLines() const { return m_plain; }

    // The whole text as it would be saved (CR LF line ends).
    std::string Text() const;
    // Writes the whole file to a temporary name in the same folder, flushes, renames over the
    // target. Throws StowError on failure; returns true on success.
    bool Save(const std::string& sPath, mode_t mode = 0600) const;

private:
    struct Section {
        std::string Name;               // as written in the header
        std::vector<std::string> Lines; // body lines as stored
    };
    std::vector<std::string> m_plain;
    std::vector<Section> m_sections;
    int FindSection(const std::string& sSection) const;
    const std::string* FindLine(const std::string& sSection, const std::string& sKey) const;
};

namespace libIni {
// A value written on one line reads back as written when it needs no quoting; values with
// blanks at the ends or surrounding quotes are wrapped in quotes so that they survive.
std::string QuoteIfNeeded(const std::string& sValue);
} // namespace libIni
