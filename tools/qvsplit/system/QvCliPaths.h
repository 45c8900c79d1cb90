// Paths as the user gives them and as the library takes them.
#ifndef QVCLIPATHS_H
#define QVCLIPATHS_H

#include <filesystem>
#include <string>

// Wide text of UTF-8 bytes and back (a byte that is not UTF-8 widens to U+F000 + byte).
std::wstring QvCliWiden(const std::string& s);
std::string QvCliNarrow(const std::wstring& s);

// The program keeps every host path as UTF-8 text; these turn it into a path object and back
// (on Windows a plain string would be read in the ANSI code page).
std::filesystem::path QvCliFsPath(const std::string& utf8);
std::string QvCliPathText(const std::filesystem::path& p);

// The drive letter through which host paths reach the library (its root is "/" on POSIX).
wchar_t QvCliDrive();

// A path of this host, made absolute, as the Windows path the library takes (names mapped as
// the platform lists them; QvCliToHostPath maps them back).
std::wstring QvCliToLibraryPath(const std::string& hostPath);
// The same for a path whose last name may be a pattern: holding '*' or '?' and naming no entry,
// it keeps them as wildcards.
std::wstring QvCliToLibraryPattern(const std::string& hostPath);
// A Windows path from the library or a media file, as a path of this host.
std::string QvCliToHostPath(const std::wstring& libraryPath);

#endif
