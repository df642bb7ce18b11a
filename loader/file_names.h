// File names compared the way the file system compares them: code unit by
// code unit with simple upper-casing, never by the rules of a language (which
// would take a double s for a German sharp s, or pass over a soft hyphen).
#pragma once

#include <string>

namespace kickoff {

// The text of the ANSI code page in UTF-16; empty when it cannot be converted.
std::wstring WideFromAnsi(const std::string& text);

// The part after the last backslash (all of it when there is none).
std::wstring FileNamePart(const std::wstring& path);

bool SameFileName(const std::wstring& a, const std::wstring& b);

// Whether `name` begins with `prefix`, compared as SameFileName does.
bool FileNameStartsWith(const std::wstring& name, const std::wstring& prefix);

}  // namespace kickoff
