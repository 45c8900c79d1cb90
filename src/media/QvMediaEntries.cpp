// Reads the entries of a media file: the FILE elements under its root, value by value.
#include "media/QvMediaEntries.h"

#include "facilities/CQvFile.h"
#include "platform/QvPlatform.h"

#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string_view>
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

namespace {

// Reads the FILE elements of a media file's text as they arrive. Only what a split writes is
// understood: the root "Factory", FILE elements holding one element per value, each value
// plain text (with character references) or CDATA sections. Markup inside a CDATA section,
// a comment or a processing instruction is skipped, so a path holding "<FILE>" is a path.
class MediaScanner {
public:
    explicit MediaScanner(const std::function<void(const QvMediaEntry&)>& visit) : m_visit(visit) {}

    // Consumes what it can of text from pos on; returns false on text that is no media file.
    // pos stops at the start of a construct not yet complete.
    bool Feed(const std::string& text, size_t& pos, bool bAtEnd) {
        while (pos < text.size()) {
            const size_t lt = text.find('<', pos);
            if (lt == std::string::npos) {
                if (m_inValue) m_raw.append(text, pos, std::string::npos);
                pos = text.size();
                return true;
            }
            if (m_inValue) m_raw.append(text, pos, lt - pos);
            pos = lt;
            size_t end;
            if (lt + 1 < text.size() && (text[lt + 1] == '!' || text[lt + 1] == '?')) {
                if (text.compare(lt, 9, "<![CDATA[") == 0) {
                    end = text.find("]]>", lt + 9);
                    if (end == std::string::npos) return More(bAtEnd);
                    if (m_inValue) m_value.append(Decoded()).append(text, lt + 9, end - lt - 9);
                    pos = end + 3;
                    continue;
                }
                if (lt + 9 > text.size() && !bAtEnd) return true;  // may be a CDATA section cut short
                const char* close = text.compare(lt, 4, "<!--") == 0 ? "-->" : text[lt + 1] == '?' ? "?>" : ">";
                end = text.find(close, lt + 2);
                if (end == std::string::npos) return More(bAtEnd);
                pos = end + std::strlen(close);
                continue;
            }
            end = text.find('>', lt);
            if (end == std::string::npos) return More(bAtEnd);
            if (!Tag(text, lt + 1, end)) return false;
            pos = end + 1;
        }
        return true;
    }
    bool SawRoot() const { return m_bRoot; }

private:
    // A construct cut short: wait for the rest, unless the file ended.
    static bool More(bool bAtEnd) { return !bAtEnd; }

    // One tag between '<' and '>' (from begins after '<').
    bool Tag(const std::string& text, size_t from, size_t end) {
        const bool bClose = text[from] == '/';
        if (bClose) ++from;
        size_t nameEnd = from;
        while (nameEnd < end && text[nameEnd] != '/' && text[nameEnd] != ' ' && text[nameEnd] != '\t' &&
               text[nameEnd] != '\r' && text[nameEnd] != '\n')
            ++nameEnd;
        const std::string_view name(text.data() + from, nameEnd - from);
        const bool bEmpty = !bClose && end > from && text[end - 1] == '/';
        if (!m_bRoot) {
            if (bClose || name != "Factory") return false;
            m_bRoot = true;
            return true;
        }
        if (name == "FILE") {
            if (bClose) {
                if (!m_bInFile) return false;
                Emit();
                m_bInFile = false;
            } else if (!bEmpty) {
                m_bInFile = true;
                m_entry = QvMediaEntry();
            }
            return true;
        }
        if (!m_bInFile) return true;
        if (!bClose && !bEmpty && !m_inValue) {
            m_inValue = true;
            m_field.assign(name.data(), name.size());
            m_value.clear();
            m_raw.clear();
        } else if (bClose && m_inValue && name == m_field) {
            m_value += Decoded();
            Store();
            m_inValue = false;
        }
        return true;
    }

    // The plain text gathered since the last CDATA section, its references replaced.
    std::string Decoded() {
        std::string out;
        for (size_t i = 0; i < m_raw.size(); ++i) {
            if (m_raw[i] != '&') {
                out += m_raw[i];
                continue;
            }
            const size_t semi = m_raw.find(';', i);
            if (semi == std::string::npos) {
                out += m_raw[i];
                continue;
            }
            const std::string ref = m_raw.substr(i + 1, semi - i - 1);
            uint32_t code = 0;
            if (ref == "amp") code = '&';
            else if (ref == "lt") code = '<';
            else if (ref == "gt") code = '>';
            else if (ref == "quot") code = '"';
            else if (ref == "apos") code = '\'';
            else if (ref.size() > 1 && ref[0] == '#')
                code = static_cast<uint32_t>(std::strtoul(ref.c_str() + (ref[1] == 'x' ? 2 : 1), nullptr, ref[1] == 'x' ? 16 : 10));
            if (code == 0) {
                out += m_raw[i];
                continue;
            }
            out += qvp::WideToUtf8(std::wstring(1, static_cast<wchar_t>(code)));
            i = semi;
        }
        m_raw.clear();
        return out;
    }

    void Store() {
        if (m_field == "FullPath") m_entry.strSource = qvp::Utf8ToWide(m_value);
        else if (m_field == "TargetPath") m_entry.strTarget = qvp::Utf8ToWide(m_value);
        else if (m_field == "Name") m_entry.strName = qvp::Utf8ToWide(m_value);
        else if (m_field == "WriteTime") m_entry.strWriteTime = qvp::Utf8ToWide(m_value);
        else if (m_field == "Attribute") m_entry.dwAttributes = static_cast<uint32_t>(Number(qvp::Utf8ToWide(m_value)));
        else if (m_field == "FileSize") m_entry.iSize = Number(qvp::Utf8ToWide(m_value));
    }

    void Emit() {
        const std::wstring all = L"\\*.*";
        std::wstring& s = m_entry.strSource;
        if ((m_entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && s.size() > all.size() &&
            s.compare(s.size() - all.size(), all.size(), all) == 0)
            s.resize(s.size() - all.size());
        m_visit(m_entry);
    }

    const std::function<void(const QvMediaEntry&)>& m_visit;
    bool m_bRoot = false;
    bool m_bInFile = false;
    bool m_inValue = false;
    std::string m_field, m_value, m_raw;
    QvMediaEntry m_entry;
};

}  // namespace

bool QvScanMediaEntries(const std::wstring& strPath, const std::function<void(const QvMediaEntry&)>& visit) {
    CQvFile file(strPath.c_str());
    if (!file.Open(GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) return false;
    MediaScanner scanner(visit);
    std::string text;
    std::vector<char> piece(1 << 20);
    for (;;) {
        DWORD nRead = 0;
        if (!file.Read(piece.data(), static_cast<DWORD>(piece.size()), &nRead, nullptr)) return false;
        text.append(piece.data(), nRead);
        size_t pos = 0;
        if (!scanner.Feed(text, pos, nRead == 0)) return false;
        text.erase(0, pos);
        if (nRead == 0) break;
    }
    return scanner.SawRoot() && text.find_first_not_of(" \t\r\n") == std::string::npos;
}
