// INI documents: parsing of UTF-8 text into sections and keys, and atomic storing.
//
// Stored files use CRLF line ends, no byte-order mark, and a blank line between sections.
// Loading accepts LF or CRLF and an optional UTF-8 byte-order mark.
#include "facilities/CQvIni.h"

#include "facilities/CQvFile.h"
#include "platform/QvPlatform.h"

#include <new>

namespace {

const char kBom[] = "\xEF\xBB\xBF";

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring Trimmed(const std::wstring& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::wstring& a, LPCTSTR b) { return CQvString(a).CompareNoCase(b) == 0; }

bool HasLineBreak(const std::wstring& s) { return s.find_first_of(L"\r\n") != std::wstring::npos; }

// A name must read back as itself: not empty, no surrounding blanks, no line breaks.
bool IsStorableName(LPCTSTR name) {
    if (!name || !*name) return false;
    const std::wstring s(name);
    return Trimmed(s) == s && !HasLineBreak(s);
}

bool IsStorableSection(LPCTSTR section) {
    return IsStorableName(section) && std::wstring(section).find(L']') == std::wstring::npos;
}

// A key that a reader would take for a section, a comment or a split point is refused.
bool IsStorableKey(LPCTSTR key) {
    if (!IsStorableName(key)) return false;
    const std::wstring s(key);
    return s.find(L'=') == std::wstring::npos && s[0] != L'[' && s[0] != L';' && s[0] != L'#';
}

// The text split into lines; a "\r" before each "\n" and at the very end is dropped.
std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t at = 0;
    while (at <= text.size()) {
        size_t nl = text.find(L'\n', at);
        if (nl == std::wstring::npos) nl = text.size();
        std::wstring line = text.substr(at, nl - at);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(std::move(line));
        at = nl + 1;
    }
    return lines;
}

}  // namespace

CQvIni::CQvIni() {}

CQvIni::~CQvIni() {}

void CQvIni::Clear() { m_sections.clear(); }

CQvIni::Section* CQvIni::FindSection(LPCTSTR section) {
    for (Section& s : m_sections)
        if (SameName(s.name, section)) return &s;
    return nullptr;
}

const CQvIni::Section* CQvIni::FindSection(LPCTSTR section) const {
    for (const Section& s : m_sections)
        if (SameName(s.name, section)) return &s;
    return nullptr;
}

BOOL CQvIni::Load(LPCTSTR path, LPVOID /*reserved*/) {
    std::string bytes;
    if (!path || !CQvFile::ReadAll(path, bytes)) return FALSE;
    try {
        if (bytes.compare(0, 3, kBom) == 0) bytes.erase(0, 3);
        CQvIni loaded;
        std::wstring current;
        bool inSection = false;
        for (const std::wstring& raw : SplitLines(qvp::Utf8ToWide(bytes))) {
            const std::wstring line = Trimmed(raw);
            if (line.empty() || line[0] == L';' || line[0] == L'#') continue;
            if (line[0] == L'[') {
                const size_t close = line.find(L']');
                const std::wstring name = close == std::wstring::npos ? std::wstring() : Trimmed(line.substr(1, close - 1));
                // "[" without "]" or an empty name is junk; keys after it still go to the last section.
                if (name.empty()) continue;
                current = name;
                inSection = loaded.AddSection(current.c_str()) != FALSE;
                // A name that can be stored and still was not is out of memory: a document short
                // of a section or a key would pass for the whole file.
                if (!inSection && IsStorableSection(current.c_str())) throw std::bad_alloc();
                continue;
            }
            const size_t eq = raw.find(L'=');
            if (eq == std::wstring::npos || !inSection) continue;  // junk, or a key before any section
            // The value is everything after the first "=", kept as written.
            const std::wstring key = Trimmed(raw.substr(0, eq));
            if (!key.empty() && !loaded.AddKey(current.c_str(), key.c_str(), raw.substr(eq + 1).c_str()) &&
                IsStorableKey(key.c_str()))
                throw std::bad_alloc();
        }
        m_sections.swap(loaded.m_sections);
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
    return TRUE;
}

BOOL CQvIni::AddSection(LPCTSTR section) {
    if (!IsStorableSection(section)) return FALSE;
    if (FindSection(section)) return TRUE;
    try {
        m_sections.push_back(Section{section, {}});
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
    return TRUE;
}

BOOL CQvIni::AddKey(LPCTSTR section, LPCTSTR key, LPCTSTR value) {
    if (!IsStorableKey(key) || !value || HasLineBreak(value)) return FALSE;
    if (!AddSection(section)) return FALSE;
    Section* s = FindSection(section);
    try {
        for (auto& kv : s->keys) {
            if (SameName(kv.first, key)) {
                kv.second = value;
                return TRUE;
            }
        }
        s->keys.emplace_back(key, value);
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
    return TRUE;
}

BOOL CQvIni::GetKeyValue(LPCTSTR section, LPCTSTR key, CQvString& value) const {
    if (!section || !key) return FALSE;
    const Section* s = FindSection(section);
    if (!s) return FALSE;
    for (const auto& kv : s->keys) {
        if (SameName(kv.first, key)) {
            value = kv.second.c_str();
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CQvIni::Store(LPCTSTR path, int /*flag*/) {
    if (!path || !*path) return FALSE;
    std::string text;
    try {
        for (size_t i = 0; i < m_sections.size(); ++i) {
            const Section& s = m_sections[i];
            if (i > 0) text += "\r\n";
            text += "[" + qvp::WideToUtf8(s.name) + "]\r\n";
            for (const auto& kv : s.keys)
                text += qvp::WideToUtf8(kv.first) + "=" + qvp::WideToUtf8(kv.second) + "\r\n";
        }
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
    return CQvFile::WriteAtomically(path, text.data(), text.size());
}
