// The values of one "FILE" entry of a media description file, in their fixed order; the media
// writer and the item-list writer both take them from here.
#ifndef QVMEDIAENTRY_H
#define QVMEDIAENTRY_H

#include "common/QvRecords.h"
#include "facilities/CQvString.h"

// One child element of a "FILE" entry: its name and its text.
struct QvEntryValue {
    const wchar_t* szName = nullptr;
    CQvString strText;
};

// The values of one entry; at most ten.
struct QvEntryValues {
    QvEntryValue values[10];
    int count = 0;
    void Add(const wchar_t* szName, CQvString strText);
};

// The path less one trailing backslash, whatever it is (a root "C:\" becomes "C:", which
// PathRemoveBackslash would keep).
CQvString QvWithoutTrailingBackslash(const CQvString& path);

// The values of a file entry (FullPath, Path, TargetPath, Name, Extension, Attribute,
// Exclusion, WriteTime, FileSize, CRC32).
void QvFileEntryValues(const FileDesc& desc, QvEntryValues& out);
// The values of a folder kept whole (FullPath "<folder>\*.*", Path, TargetPath, Name,
// Attribute, Exclusion, WriteTime, FileSize).
void QvFolderEntryValues(const FileDesc& desc, QvEntryValues& out);

#endif
