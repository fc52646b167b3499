#pragma once
// Short conversions between the tests' UTF-8 texts and the widgets' texts.

#include <QString>
#include <string>

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }
