// The values of one "FILE" entry of a media description file, in their fixed order; the media
// writer and the item-list writer both take them from here.
#ifndef QVMEDIAENTRY_H
#define QVMEDIAENTRY_H

#include "common/QvRecords.h"
#include "facilities/CQvString.h"
#include "facilities/QvXml.h"

#include <functional>
#include <string>

// One child element of a "FILE" entry: its name, its text, and whether the text is written as
// a CDATA section.
struct QvEntryValue {
    const wchar_t* szName = nullptr;
    CQvString strText;
    bool bCData = false;
};

// The values of one entry; at most ten.
struct QvEntryValues {
    QvEntryValue values[10];
    int count = 0;
    void Add(const wchar_t* szName, CQvString strText, bool bCData = false);
};

// The text a value is handed to the XML facility as: a CDATA value wrapped in its markers.
CQvString QvEntryNodeText(const QvEntryValue& value);

// Appends the "FILE" element of the values to out as a medium's document prints it: one level
// in, each value on a line of its own. False when a value needs the XML facility's escaping
// (a character XML must escape, "]]>" in a CDATA section); out may then hold part of it.
bool QvAppendEntryText(const QvEntryValues& values, std::string& out);

// What a writer of media files gives the entry writer: addValue adds a value to an entry's
// node (the writer's own function, whose lines a traced run records); traceValue leaves those
// same lines for a value written straight as text.
struct QvEntrySink {
    std::function<long(IQvXmlNode*, LPCTSTR, LPCTSTR)> addValue;
    std::function<void(LPCTSTR, LPCTSTR)> traceValue;
};

// The lines a writer's function that adds a value to a node (its trace given by fmt, with the
// value's name and text) leaves for a value written straight as text.
void QvTraceValueAdded(const wchar_t* fmt, LPCTSTR strValue, LPCTSTR strValueText);

// Writes one entry as the last child of a medium's root: straight from its text where it can,
// else as nodes through sink.addValue, then out of memory. A traced run gets a line for each
// value either way. Negative when the entry could not be made.
long QvWriteEntry(IQvXml* pXml, IQvXmlNode* pRoot, const QvEntryValues& values, const QvEntrySink& sink);

// The path less one trailing backslash, whatever it is (a root "C:\" becomes "C:", which
// PathRemoveBackslash would keep).
CQvString QvWithoutTrailingBackslash(const CQvString& path);

// Appends the "FILE" element of a file as QvAppendEntryText appends its values, straight from
// its record. False when a value needs escaping or its path is not written as it is stored;
// out may then hold part of it.
bool QvAppendFileEntryText(const FileDesc& desc, std::string& out);

// QvWriteEntry of a file's values, straight from its record where it can.
long QvWriteFileEntry(IQvXml* pXml, IQvXmlNode* pRoot, const FileDesc& desc, const QvEntrySink& sink);

// The values of a file entry (FullPath, Path, TargetPath, Name, Extension, Attribute,
// Exclusion, WriteTime, FileSize, CRC32).
void QvFileEntryValues(const FileDesc& desc, QvEntryValues& out);
// The values of a folder kept whole (FullPath "<folder>\*.*", Path, TargetPath, Name,
// Attribute, Exclusion, WriteTime, FileSize).
void QvFolderEntryValues(const FileDesc& desc, QvEntryValues& out);

#endif
