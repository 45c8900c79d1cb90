// Reads the entries of a media file: the FILE elements under its root, value by value.
#include "media/QvMediaEntries.h"

#include "facilities/CQvFile.h"
#include "platform/QvPlatform.h"

#include <cwctype>
#include <pugixml.hpp>

namespace {

std::wstring Value(const pugi::xml_node& file, const char* name) {
    return qvp::Utf8ToWide(file.child(name).child_value());
}

int64_t Number(const std::wstring& text) {
    int64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') break;
        value = value * 10 + (c - L'0');
    }
    return value;
}

// A part of a cut file is named "<file>.<stamp of 14 digits>.Part<N>".
void NotePart(QvMediaEntry& e) {
    const std::wstring& s = e.strSource;
    const size_t part = s.rfind(L".Part");
    if (part == std::wstring::npos || part < 15 || part + 5 == s.size()) return;
    for (size_t i = part + 5; i < s.size(); ++i)
        if (!std::iswdigit(s[i])) return;
    if (s[part - 15] != L'.') return;
    for (size_t i = part - 14; i < part; ++i)
        if (!std::iswdigit(s[i])) return;
    e.dwPart = static_cast<uint32_t>(Number(s.substr(part + 5)));
    e.strCutFile = s.substr(0, part - 15);
}

}  // namespace

bool QvReadMediaEntries(const std::wstring& strPath, std::vector<QvMediaEntry>& vEntries) {
    std::string bytes;
    if (!CQvFile::ReadAll(strPath.c_str(), bytes)) return false;
    pugi::xml_document doc;
    if (!doc.load_buffer(bytes.data(), bytes.size())) return false;
    const pugi::xml_node factory = doc.child("Factory");
    if (!factory) return false;
    std::vector<QvMediaEntry> entries;
    for (pugi::xml_node file = factory.child("FILE"); file; file = file.next_sibling("FILE")) {
        QvMediaEntry e;
        e.strSource = Value(file, "FullPath");
        e.strTarget = Value(file, "TargetPath");
        e.strName = Value(file, "Name");
        e.strWriteTime = Value(file, "WriteTime");
        e.dwAttributes = static_cast<uint32_t>(Number(Value(file, "Attribute")));
        e.iSize = Number(Value(file, "FileSize"));
        // A folder entry names its files as "<folder>\*.*".
        const std::wstring all = L"\\*.*";
        if ((e.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && e.strSource.size() > all.size() &&
            e.strSource.compare(e.strSource.size() - all.size(), all.size(), all) == 0)
            e.strSource.resize(e.strSource.size() - all.size());
        else
            NotePart(e);
        entries.push_back(std::move(e));
    }
    vEntries.swap(entries);
    return true;
}
