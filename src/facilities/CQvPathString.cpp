// Windows path operations on a string, following the shell's Path* functions; no disk access.
#include "facilities/CQvPathString.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\'; }

// "X:" at the start: the drive prefix that the backslash after it belongs to.
bool HasDrive(std::wstring_view s) { return s.size() >= 2 && s[1] == L':'; }

// A path that is nothing but a root: "\" or "X:\".
bool IsBareRoot(std::wstring_view s) {
    return s == L"\\" || (s.size() == 3 && HasDrive(s) && IsSeparator(s[2]));
}

}  // namespace

void CQvPathString::AddBackslash() {
    const std::wstring_view s = view();
    if (!s.empty() && !IsSeparator(s.back())) *this += L'\\';
}

void CQvPathString::RemoveBackslash() {
    const std::wstring_view s = view();
    if (!s.empty() && IsSeparator(s.back()) && !IsBareRoot(s)) Truncate(s.size() - 1);
}

BOOL CQvPathString::RemoveFileSpec() {
    const std::wstring_view s = view();
    const size_t last = s.rfind(L'\\');
    size_t keep;
    if (last == std::wstring_view::npos) {
        // No separator: only a drive prefix ("C:a" -> "C:") or nothing is left.
        keep = HasDrive(s) ? 2 : 0;
    } else if (last == 0 || (last == 1 && IsSeparator(s[0]))) {
        // "\a" keeps its root "\", "\\server" keeps "\\".
        keep = last + 1;
    } else if (last == 2 && HasDrive(s)) {
        keep = 3;  // "C:\a" -> "C:\"
    } else {
        keep = last;  // "C:\a\b" -> "C:\a", "C:\a\" -> "C:\a"
    }
    if (keep >= s.size()) return FALSE;
    Truncate(keep);
    return TRUE;
}

CQvString CQvPathString::FindFileName() const {
    // The name starts after the last separator or colon that is followed by something other
    // than a separator, so a trailing "\" stays part of the name ("C:\a\" gives "a\").
    const std::wstring_view s = view();
    size_t start = 0;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        const wchar_t c = s[i];
        const wchar_t next = s[i + 1];
        if ((c == L'\\' || c == L'/' || c == L':') && next != L'\\' && next != L'/') start = i + 1;
    }
    return CQvString(s.substr(start));
}

CQvString CQvPathString::FindExtension() const {
    // The last dot counts only when no space or separator follows it.
    const std::wstring_view s = view();
    size_t dot = std::wstring_view::npos;
    for (size_t i = 0; i < s.size(); ++i) {
        const wchar_t c = s[i];
        if (c == L'.') dot = i;
        else if (c == L'\\' || c == L' ') dot = std::wstring_view::npos;
    }
    if (dot == std::wstring_view::npos) return CQvString();
    return CQvString(s.substr(dot));
}
