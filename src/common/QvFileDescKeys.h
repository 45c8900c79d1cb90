// Keys of the catalogue maps: entries are ordered by lower-cased path (QvPathLess), and two
// files whose paths differ only in letter case (possible on a case-sensitive file system) both
// keep an entry: the first one met is keyed by its own path (sharing the entry's text), each
// further one by its lower-cased path, a NUL and its exact path, which sorts right after it.
#ifndef QVFILEDESCKEYS_H
#define QVFILEDESCKEYS_H

#include "common/QvRecords.h"

#include <functional>

// The lower-cased path: how the maps order the entries of that path.
CQvString QvFileDescKey(const CQvString& strPath);

// The entry of the file at strPath, or end(): the entry of exactly that path, else one whose
// path names the same file. pAt, when given, receives where entries of that lower-cased path
// begin (or would), for QvInsertFileDesc.
// pNear, when given, is an entry of the map that may lie just before the place of strPath
// (the entry added last, when files come in order): then the search costs two comparisons.
// nearLower, when not empty, is the lower-cased path of the entry at pNear, keyed by its own
// path (as QvInsertFileDesc tells): it is compared with as wide text, without reading the key.
QvFileDescMapIter QvFindFileDesc(QvFileDescMap& map, const CQvString& strPath,
                                 const CQvString* pLowerKey = nullptr,
                                 QvFileDescMapIter* pAt = nullptr,
                                 const QvFileDescMapIter* pNear = nullptr,
                                 std::wstring_view nearLower = std::wstring_view());

// Adds desc for the file at desc.strFilePath unless the map holds that file already; true
// when added. strLowerKey, when given, is QvFileDescKey(desc.strFilePath); pAt, when given,
// is what QvFindFileDesc gave for that path with the map unchanged since.
// pAdded, when given, receives the new entry; pOwnKey, whether it is keyed by its own path
// (false for a twin's key).
bool QvInsertFileDesc(QvFileDescMap& map, FileDesc&& desc, const CQvString* pLowerKey = nullptr,
                      const QvFileDescMapIter* pAt = nullptr, QvFileDescMapIter* pAdded = nullptr,
                      bool* pOwnKey = nullptr);

// Adds desc, or replaces the entry the map holds for that file.
void QvPutFileDesc(QvFileDescMap& map, const FileDesc& desc);

// Removes the entry of the file at strPath; true when there was one.
bool QvEraseFileDesc(QvFileDescMap& map, const CQvString& strPath);

// Whether strPath is the entry at strBase or lies below it: equal ignoring letter case where
// they share characters, and naming the same entries (a twin folder that differs only in
// letter case is another folder).
bool QvPathAtOrBelow(const CQvString& strPath, const CQvString& strBase);

// Removes every entry below the folder strFolder (the folder's own entry stays), or only those
// bErase says to when given; the count removed.
size_t QvEraseBelow(QvFileDescMap& map, const CQvString& strFolder,
                    const std::function<bool(const FileDesc&)>& bErase = nullptr);

// Whether the map holds an entry below strFolder (as QvEraseBelow finds them).
bool QvHoldsBelow(const QvFileDescMap& map, const CQvString& strFolder);

#endif
