// The values of one media entry, shared by every writer of media description files.
#include "media/QvMediaEntry.h"

#include "facilities/CQvPathString.h"

namespace {

// The text handed to the XML facility for a value written as a CDATA section.
CQvString Wrapped(const CQvString& value) {
    CQvString text(L"<![CDATA[");
    text += value;
    text += L"]]>";
    return text;
}

// The decimal text of a number, as "%d" / "%I64d" print it (the C library's wide printf cost
// more than the rest of an entry's numbers).
CQvString Decimal(int64_t value) {
    wchar_t text[24];
    wchar_t* p = text + 23;
    *p = L'\0';
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        *--p = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--p = L'-';
    return CQvString(p);
}

}  // namespace

CQvString QvWithoutTrailingBackslash(const CQvString& path) {
    const int len = path.GetLength();
    if (len > 0 && path.GetAt(len - 1) == L'\\') return path.Left(len - 1);
    return path;
}

void QvEntryValues::Add(const wchar_t* szName, CQvString strText) {
    values[count].szName = szName;
    values[count].strText = std::move(strText);
    ++count;
}

void QvFileEntryValues(const FileDesc& desc, QvEntryValues& out) {
    const CQvString full = desc.strFilePath;
    const CQvPathString path(full);
    const CQvString name = path.FindFileName();
    out.count = 0;
    out.Add(L"FullPath", Wrapped(full));
    // The folder part: everything before the name, up to and including the last "\".
    out.Add(L"Path", Wrapped(full.Left(full.GetLength() - name.GetLength())));
    out.Add(L"TargetPath", Wrapped(desc.strTargetPath));
    out.Add(L"Name", Wrapped(name));
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
    out.Add(L"FullPath", Wrapped(fullPath));
    out.Add(L"Path", whole ? full : dir.Left(k + 1));
    out.Add(L"TargetPath", Wrapped(desc.strTargetPath));
    out.Add(L"Name", Wrapped(whole ? CQvString() : dir.Mid(k + 1, dir.GetLength() - k - 1)));
    out.Add(L"Attribute", Decimal(static_cast<int32_t>(desc.dwAttributes)));
    out.Add(L"Exclusion", CQvString(L"0"));
    out.Add(L"WriteTime", desc.strWriteTime);
    out.Add(L"FileSize", Decimal(desc.iFileSize));
}
