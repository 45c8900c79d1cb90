// Windows path operations on a string, following the shell's Path* functions; no disk access.
#include "facilities/CQvPathString.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\'; }

// "X:" at the start: the drive prefix that the backslash after it belongs to.
bool HasDrive(const std::wstring& s) { return s.size() >= 2 && s[1] == L':'; }

// A path that is nothing but a root: "\" or "X:\".
bool IsBareRoot(const std::wstring& s) {
    return s == L"\\" || (s.size() == 3 && HasDrive(s) && IsSeparator(s[2]));
}

}  // namespace

void CQvPathString::AddBackslash() {
    if (!m_str.empty() && !IsSeparator(m_str.back())) m_str += L'\\';
}

void CQvPathString::RemoveBackslash() {
    if (!m_str.empty() && IsSeparator(m_str.back()) && !IsBareRoot(m_str)) m_str.pop_back();
}

BOOL CQvPathString::RemoveFileSpec() {
    const std::wstring before = m_str;
    const size_t last = m_str.rfind(L'\\');
    if (last == std::wstring::npos) {
        // No separator: only a drive prefix ("C:a" -> "C:") or nothing is left.
        m_str.resize(HasDrive(m_str) ? 2 : 0);
    } else if (last == 0 || (last == 1 && IsSeparator(m_str[0]))) {
        // "\a" keeps its root "\", "\\server" keeps "\\".
        m_str.resize(last + 1);
    } else if (last == 2 && HasDrive(m_str)) {
        m_str.resize(3);  // "C:\a" -> "C:\"
    } else {
        m_str.resize(last);  // "C:\a\b" -> "C:\a", "C:\a\" -> "C:\a"
    }
    return m_str != before ? TRUE : FALSE;
}

CQvString CQvPathString::FindFileName() const {
    // The name starts after the last separator or colon that is followed by something other
    // than a separator, so a trailing "\" stays part of the name ("C:\a\" gives "a\").
    size_t start = 0;
    for (size_t i = 0; i + 1 < m_str.size(); ++i) {
        const wchar_t c = m_str[i];
        const wchar_t next = m_str[i + 1];
        if ((c == L'\\' || c == L'/' || c == L':') && next != L'\\' && next != L'/') start = i + 1;
    }
    return CQvString(m_str.substr(start));
}

CQvString CQvPathString::FindExtension() const {
    // The last dot counts only when no space or separator follows it.
    size_t dot = std::wstring::npos;
    for (size_t i = 0; i < m_str.size(); ++i) {
        const wchar_t c = m_str[i];
        if (c == L'.') dot = i;
        else if (c == L'\\' || c == L' ') dot = std::wstring::npos;
    }
    if (dot == std::wstring::npos) return CQvString();
    return CQvString(m_str.substr(dot));
}
