// The values of one media entry, shared by every writer of media description files.
#include "media/QvMediaEntry.h"

#include "facilities/CQvLog.h"
#include "facilities/CQvPathString.h"

#include <cstdint>
#include <cstring>

namespace {

// The decimal text of a number, as "%d" / "%I64d" print it (the C library's printf cost more
// than the rest of an entry's numbers), written at the end of buffer.
std::string_view DecimalText(int64_t value, char (&buffer)[24]) {
    char* p = buffer + sizeof buffer;
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--p = '-';
    return std::string_view(p, static_cast<size_t>(buffer + sizeof buffer - p));
}

void AppendDecimal(int64_t value, std::string& out) {
    char buffer[24];
    out += DecimalText(value, buffer);
}

CQvString Decimal(int64_t value) {
    std::string text;
    AppendDecimal(value, text);
    return CQvString(std::wstring(text.begin(), text.end()));
}

// Writes an entry straight as its text, which append gives, unless append meets a value that
// needs the XML facility's escaping. 1 (S_FALSE): the entry is to be written as nodes.
template <class Append>
long SpoolEntryText(IQvXml* pXml, Append append) {
    // One text for every entry of the thread, so that its memory is taken once.
    thread_local std::string text;
    text.clear();
    if (!append(text)) return 1;
    return pXml->SpoolText(text);
}

}  // namespace

CQvString QvWithoutTrailingBackslash(const CQvString& path) {
    const int len = path.GetLength();
    if (len > 0 && path.GetAt(len - 1) == L'\\') return path.Left(len - 1);
    return path;
}

void QvEntryValues::Add(const wchar_t* szName, CQvString strText, bool bCData) {
    values[count].szName = szName;
    values[count].strText = std::move(strText);
    values[count].bCData = bCData;
    ++count;
}

CQvString QvEntryNodeText(const QvEntryValue& value) {
    if (!value.bCData) return value.strText;
    CQvString text(L"<![CDATA[");
    text += value.strText;
    text += L"]]>";
    return text;
}

namespace {

// Whether the XML facility prints text as it stands: in a CDATA section anything but its end
// marker, in plain text no markup character, quote or control character.
bool PrintsAsItStands(std::string_view text, bool bCData) {
    if (bCData) return text.find("]]>") == std::string_view::npos;
    for (const unsigned char c : text)
        if (c < 0x20 || c == '&' || c == '<' || c == '>' || c == '"' || c == '\'') return false;
    return true;
}

void AppendName(const wchar_t* szName, std::string& out) {
    for (const wchar_t* p = szName; *p; ++p) out += static_cast<char>(*p);  // ASCII names
}

}  // namespace

bool QvAppendEntryText(const QvEntryValues& values, std::string& out) {
    out += "  <FILE>\n";
    for (int i = 0; i < values.count; ++i) {
        const QvEntryValue& value = values.values[i];
        out += "    <";
        AppendName(value.szName, out);
        const size_t open = out.size();
        out += value.bCData ? "><![CDATA[" : ">";
        // The value goes straight in behind its opening, and is looked at where it lies.
        const size_t start = out.size();
        qvp::AppendUtf8(value.strText.c_str(), static_cast<size_t>(value.strText.GetLength()), out);
        if (!PrintsAsItStands(std::string_view(out).substr(start), value.bCData)) return false;
        // Plain text that is empty leaves the element empty; an empty CDATA section stays.
        if (!value.bCData && out.size() == start) {
            out.replace(open, std::string::npos, " />\n");
            continue;
        }
        if (value.bCData) out += "]]>";
        out += "</";
        AppendName(value.szName, out);
        out += ">\n";
    }
    out += "  </FILE>\n";
    return true;
}

namespace {

// Whether a path's stored bytes are its UTF-8 as it is written: they are, unless they hold a
// surrogate or a value beyond Unicode, which the writer replaces.
bool IsWrittenAsStored(std::string_view bytes) {
    size_t i = 0;
    // Eight bytes at a time while they are ASCII, most of any path.
    for (uint64_t word; i + sizeof word <= bytes.size(); i += sizeof word) {
        std::memcpy(&word, bytes.data() + i, sizeof word);
        if (word & 0x8080808080808080ull) break;
    }
    for (; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0xED) continue;
        const unsigned char next = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        if ((c == 0xED && next >= 0xA0) || c > 0xF4 || (c == 0xF4 && next >= 0x90)) return false;
    }
    return true;
}

// Whether plain text prints as it stands, and CDATA text (which a path's parts are) does.
bool PlainPrints(std::string_view text) { return PrintsAsItStands(text, false); }
bool CDataPrints(std::string_view text) { return PrintsAsItStands(text, true); }

// An entry is written into room taken once, rather than by many appends that each check the
// string's capacity: at hundreds of thousands of entries the appends cost more than the rest of
// the entry. The cursor stays within the room its caller reserved.
struct EntryCursor {
    char* p;
    template <size_t N>
    void Put(const char (&literal)[N]) {
        std::memcpy(p, literal, N - 1);
        p += N - 1;
    }
    void Put(std::string_view text) {
        if (text.empty()) return;
        std::memcpy(p, text.data(), text.size());
        p += text.size();
    }
    void PutDecimal(int64_t value) {
        char buffer[24];
        Put(DecimalText(value, buffer));
    }
    // A value of plain text as QvAppendEntryText writes it: an empty one leaves the element
    // empty.
    template <size_t E, size_t N, size_t M>
    void PutPlain(const char (&empty)[E], const char (&open)[N], const char (&close)[M], std::string_view text) {
        if (text.empty()) {
            Put(empty);
            return;
        }
        Put(open);
        Put(text);
        Put(close);
    }
    // One value as QvAppendEntryText writes it; the name is given with its "<" and ">".
    template <size_t N, size_t M>
    void PutCData(const char (&open)[N], const char (&close)[M], std::string_view text) {
        Put("    ");
        Put(open);
        Put("<![CDATA[");
        Put(text);
        Put("]]>");
        Put(close);
        Put("\n");
    }
};

// A value's UTF-8 and whether it prints as it stands, kept for the next entry with the same value.
struct EncodedText {
    explicit EncodedText(bool (*printsAsItStands)(std::string_view)) : test(printsAsItStands) {}
    void Take(const CQvString& value) {
        const std::wstring_view text = value.view();
        if (text == wide) return;
        wide.assign(text);
        utf8.clear();
        qvp::AppendUtf8(text.data(), text.size(), utf8);
        prints = test(utf8);
    }
    operator std::string_view() const { return utf8; }  // NOLINT: used where the text goes
    size_t size() const { return utf8.size(); }
    bool (*test)(std::string_view);
    std::wstring wide;
    std::string utf8;
    bool prints = true;
};

// The room a file entry takes at most beside its texts: the element names, the CDATA marks and
// three numbers of up to 20 digits.
constexpr size_t kEntryFrame = 512;

}  // namespace

bool QvAppendFileEntryText(const FileDesc& desc, std::string& out) {
    thread_local std::string path;
    path.clear();
    desc.strFilePath.AppendBytesTo(path);
    const std::string_view full = path;
    if (!IsWrittenAsStored(full)) return false;
    // The name and the extension are found as CQvPathString finds them, from the end: the name
    // begins behind the last separator or colon that a separator does not follow (and that
    // does not end the path), the extension at the last dot that no backslash or space follows.
    // The characters looked for are ASCII, which UTF-8 never uses inside another character.
    size_t start = 0;
    for (size_t end = full.size(); end > 1;) {
        const size_t i = full.find_last_of("\\/:", end - 2);
        if (i == std::string_view::npos) break;
        if (full[i + 1] != '\\' && full[i + 1] != '/') {
            start = i + 1;
            break;
        }
        end = i + 1;
    }
    size_t dot = full.rfind('.');
    if (dot != std::string_view::npos) {
        const size_t stop = full.find_last_of("\\ ");
        if (stop != std::string_view::npos && stop > dot) dot = std::string_view::npos;
    }
    // The entries of a medium mostly share their target folder, and those of a folder often
    // their write time: each is encoded again only when it differs from the entry's before.
    thread_local EncodedText target(&CDataPrints), time(&PlainPrints);
    target.Take(desc.strTargetPath);
    time.Take(desc.strWriteTime);
    const std::string_view extension = dot == std::string_view::npos ? std::string_view() : full.substr(dot);
    // The folder and the name lie inside the full path: when it prints as it stands, so do they.
    if (!CDataPrints(full) || !target.prints || !PlainPrints(extension) || !time.prints) return false;

    const size_t before = out.size();
    out.resize(before + kEntryFrame + 3 * full.size() + extension.size() + target.size() + time.size());
    EntryCursor at{&out[before]};
    at.Put("  <FILE>\n");
    at.PutCData("<FullPath>", "</FullPath>", full);
    at.PutCData("<Path>", "</Path>", full.substr(0, start));
    at.PutCData("<TargetPath>", "</TargetPath>", target);
    at.PutCData("<Name>", "</Name>", full.substr(start));
    at.PutPlain("    <Extension />\n", "    <Extension>", "</Extension>\n", extension);
    // Attributes and checksum print as signed 32-bit values ("%d"), the size as 64-bit.
    at.Put("    <Attribute>");
    at.PutDecimal(static_cast<int32_t>(desc.dwAttributes));
    at.Put("</Attribute>\n    <Exclusion>0</Exclusion>\n");
    at.PutPlain("    <WriteTime />\n", "    <WriteTime>", "</WriteTime>\n", time);
    at.Put("    <FileSize>");
    at.PutDecimal(desc.iFileSize);
    at.Put("</FileSize>\n    <CRC32>");
    at.PutDecimal(static_cast<int32_t>(desc.dwCRC32));
    at.Put("</CRC32>\n  </FILE>\n");
    out.resize(static_cast<size_t>(at.p - out.data()));
    return true;
}

void QvTraceValueAdded(const wchar_t* fmt, LPCTSTR strValue, LPCTSTR strValueText) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(fmt, strValue, strValueText);
    log->ExitFunction(static_cast<long>(S_OK));
}

namespace {

bool Traced() { return CQvLog::GetInstance()->LevelActive(QvLogLevel::Enter); }

// The lines the values of an entry written as text leave in a traced run.
void TraceValues(const QvEntryValues& values, const QvEntrySink& sink) {
    for (int i = 0; i < values.count; ++i)
        sink.traceValue(values.values[i].szName, QvEntryNodeText(values.values[i]));
}

// Writes an entry as nodes, a value at a time through the writer's own function.
long WriteEntryNodes(IQvXml* pXml, IQvXmlNode* pRoot, const QvEntryValues& values, const QvEntrySink& sink) {
    QvXmlHeld<IQvXmlNode> file;
    if (pRoot->AddChild(L"FILE", file.Out()) < 0 || !file) return E_FAIL;
    for (int i = 0; i < values.count; ++i)
        sink.addValue(file.Get(), values.values[i].szName, QvEntryNodeText(values.values[i]));
    // Written out at once, so that a medium of many entries holds one of them in memory; should
    // that fail, the save of the medium says so.
    pXml->SpoolChild(file.Get());
    return S_OK;
}

}  // namespace

long QvWriteFileEntry(IQvXml* pXml, IQvXmlNode* pRoot, const FileDesc& desc, const QvEntrySink& sink) {
    if (pXml == nullptr || pRoot == nullptr) return E_FAIL;
    const long hr = SpoolEntryText(pXml, [&](std::string& text) { return QvAppendFileEntryText(desc, text); });
    if (hr < 0 || (hr != 1 && !Traced())) return hr;
    // The wide values only for the trace, or for an entry written as nodes.
    QvEntryValues values;
    QvFileEntryValues(desc, values);
    if (hr != 1) {
        TraceValues(values, sink);
        return hr;
    }
    return QvWriteEntry(pXml, pRoot, values, sink);
}

long QvWriteEntry(IQvXml* pXml, IQvXmlNode* pRoot, const QvEntryValues& values, const QvEntrySink& sink) {
    if (pXml == nullptr || pRoot == nullptr) return E_FAIL;
    const long hr = SpoolEntryText(pXml, [&](std::string& text) { return QvAppendEntryText(values, text); });
    if (hr != 1) {
        if (hr >= 0 && Traced()) TraceValues(values, sink);
        return hr;
    }
    return WriteEntryNodes(pXml, pRoot, values, sink);
}

void QvFileEntryValues(const FileDesc& desc, QvEntryValues& out) {
    const CQvString full = desc.strFilePath;
    const CQvPathString path(full);
    const CQvString name = path.FindFileName();
    out.count = 0;
    out.Add(L"FullPath", full, true);
    // The folder part: everything before the name, up to and including the last "\".
    out.Add(L"Path", full.Left(full.GetLength() - name.GetLength()), true);
    out.Add(L"TargetPath", desc.strTargetPath, true);
    out.Add(L"Name", name, true);
    out.Add(L"Extension", path.FindExtension());
    // Attributes and checksum print as signed 32-bit values ("%d"), the size as 64-bit.
    out.Add(L"Attribute", Decimal(static_cast<int32_t>(desc.dwAttributes)));
    out.Add(L"Exclusion", CQvString(L"0"));
    out.Add(L"WriteTime", desc.strWriteTime);
    out.Add(L"FileSize", Decimal(desc.iFileSize));
    out.Add(L"CRC32", Decimal(static_cast<int32_t>(desc.dwCRC32)));
}

void QvFolderEntryValues(const FileDesc& desc, QvEntryValues& out) {
    const CQvString full = desc.strFilePath;
    const CQvString dir = QvWithoutTrailingBackslash(full);
    int k = 0;
    if (!dir.ReverseFind(L'\\', k)) k = 0;
    // No backslash, or only a leading one: there is no parent folder to cut off.
    const bool whole = (k == 0);
    CQvString fullPath(dir);
    fullPath += L"\\*.*";
    out.count = 0;
    out.Add(L"FullPath", fullPath, true);
    out.Add(L"Path", whole ? full : dir.Left(k + 1));
    out.Add(L"TargetPath", desc.strTargetPath, true);
    out.Add(L"Name", whole ? CQvString() : dir.Mid(k + 1, dir.GetLength() - k - 1), true);
    out.Add(L"Attribute", Decimal(static_cast<int32_t>(desc.dwAttributes)));
    out.Add(L"Exclusion", CQvString(L"0"));
    out.Add(L"WriteTime", desc.strWriteTime);
    out.Add(L"FileSize", Decimal(desc.iFileSize));
}
