#pragma once
// Small text operations shared by every layer. All text is bytes (UTF-8 on
// Linux); "case-insensitive" means ASCII letters only.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace libStrings {

// Each byte of sText found in sBadChars (case-sensitive) is replaced by sReplacement ("" removes it).
std::string StripBadChars(const std::string& sText, const std::string& sBadChars, const std::string& sReplacement);
// Removes ' blank ; @ # ! $ % ^ & * ( ) and the double quote (job names -> zip base names).
std::string StripFileNameChars(const std::string& sText);
// Keeps only bytes 32..126.
std::string MakePrintable(const std::string& sText);
// Numeric text: rounded half to even, clamped into [iMin, iMax]; anything else gives iMin.
int16_t StrToIntRange(const std::string& sText, int16_t iMin, int16_t iMax);
int32_t StrToLongRange(const std::string& sText, int32_t lMin, int32_t lMax);
// Splits CR LF-terminated lines; keeps the non-blank ones (untrimmed) in order; text after the
// last CR LF is ignored; with no lines, the single element "". Returns true on failure.
bool GetFileList(const std::string& sText, std::vector<std::string>& lines);
// The lines GetFileList keeps, as its result (a failure is its fatal report).
[[nodiscard]] std::vector<std::string> FileList(const std::string& sText);
// Shorter than 50 bytes: as is; otherwise "..." + the last 44 bytes, blanks around trimmed.
std::string ShortenForDisplay(const std::string& sText);

// Blanks (space, tab) removed at both ends / at the left / at the right.
std::string Trim(std::string_view sText);
std::string LCase(std::string_view sText);
std::string UCase(std::string_view sText);
bool IEquals(std::string_view a, std::string_view b);
bool StartsWith(std::string_view sText, std::string_view sPrefix);
bool IEndsWith(std::string_view sText, std::string_view sSuffix);

// The classic numeric test: optional blanks around, one sign, digits with at most one decimal
// point (at least one digit), an optional exponent (E/e/D/d, sign, digits). Also "&H1F"/"&O17".
bool IsNumeric(std::string_view sText);
// The value of the leading number (blanks skipped, sign, decimals, exponent); non-numeric -> 0.
double Val(std::string_view sText);
// A numeric text's value (IsNumeric must be true; otherwise 0).
double NumericValue(std::string_view sText);
// Rounds half to even (the classic CInt/CLng rounding).
double RoundHalfEven(double d);

std::string ReplaceAll(std::string sText, std::string_view sFrom, std::string_view sTo);
// Splits at every occurrence of the separator (empty fields kept). "" gives one empty field.
std::vector<std::string> Split(std::string_view sText, std::string_view sSeparator);

// Whole-text match, case ignored: * any run, ? one byte, # one digit, [abc] [a-z] one of, [!...] none of.
bool Like(std::string_view sText, std::string_view sPattern);
// File-name match, case ignored: * and ? only; "*.*" matches every name, with or without a dot.
bool WildcardMatch(std::string_view sName, std::string_view sPattern);
// True when the text holds * or ?.
bool HasWildcards(std::string_view sText);

// INI boolean rule: "True" (exact) is -1; otherwise true when Val(text) != 0.
bool BoolFromIniText(const std::string& sText);
// "-1" or "0".
std::string BoolToIniText(bool b);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF).
bool IsUtf8(std::string_view s);

// A byte count for people: "512 B", "3.4 KiB", "12.0 MiB", "1.5 GiB", "2.0 TiB".
std::string SizeText(double dBytes);
// A length of time for people: "0.4 s", "12 s", "2 min 5 s", "1 h 3 min".
std::string DurationText(double dSeconds);

} // namespace libStrings
