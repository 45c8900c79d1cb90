// The records every subsystem passes to the others: file, group and medium descriptions,
// and the maps and vectors built from them.
#ifndef QVRECORDS_H
#define QVRECORDS_H

#include "facilities/CQvPathText.h"
#include "facilities/CQvString.h"
#include "QvSplit.h"

#include <deque>
#include <map>
#include <vector>

class CQvPathRules;

// One file or directory of the catalogue, of a medium, or of the item list.
struct QVSPLIT_API FileDesc {
    FileDesc();
    FileDesc(const FileDesc& other);
    FileDesc(FileDesc&& other) noexcept;
    ~FileDesc();
    const FileDesc& operator=(const FileDesc& other);
    FileDesc& operator=(FileDesc&& other) noexcept;

    CQvPathRules* pPathRules;  // rule that selected the entry, owned by the rules catalogue
    DWORD dwAttributes;        // Windows attributes; 0x10 marks a directory
    DWORD dwCRC32;             // always 0: nothing computes a checksum
    int32_t iAllTogetherGroup; // AllTogether group, -1 for none
    DWORD dwFileCount;         // files below a folder item of the item-list split
    CQvString strWriteTime;    // local last-write time, "%Y%m%d%H%M%S"
    CQvPathText strFilePath;   // full source path
    CQvString strTargetPath;   // folder to restore under: leading "\", no trailing "\"
    int64_t iFileSize;         // bytes; for a directory, the files below it
    DWORD dwLinks;             // the file's names (hard links) as its listing gave them; 0: not known
};

// The order of the catalogue and of every medium: paths compared character by character as
// if lower-cased, so a key may keep the path's own letter case and share its text with the
// entry's path; "A" and "a" are one key. Behind a zero the rest is compared exactly, letter
// case included: twins get keys of their own that way (see QvFileDescKeys.h). A wide text
// compares with a key as its CQvPathText would, so a search need not convert it.
struct QVSPLIT_API QvPathLess {
    typedef void is_transparent;
    bool operator()(const CQvPathText& a, const CQvPathText& b) const;
    bool operator()(const CQvPathText& a, std::wstring_view b) const;
    bool operator()(std::wstring_view a, const CQvPathText& b) const;
};

typedef std::map<CQvPathText, FileDesc, QvPathLess> QvFileDescMap;
typedef QvFileDescMap::iterator QvFileDescMapIter;
typedef std::map<CQvString, CQvPathRules*> QvRules;
// A working list of the distribution: filled from a map whose nodes it frees as it goes, in
// blocks that use the room they leave (one block of the whole size would grow the heap by it).
typedef std::deque<FileDesc> FileDescVector;

// The files of one AllTogether group, placed as a unit.
struct QVSPLIT_API GroupFileDesc {
    GroupFileDesc();
    GroupFileDesc(const GroupFileDesc& other);
    GroupFileDesc(GroupFileDesc&& other) noexcept;
    ~GroupFileDesc();
    GroupFileDesc& operator=(const GroupFileDesc& other);
    GroupFileDesc& operator=(GroupFileDesc&& other) noexcept;

    FileDescVector vtFileDesc;  // the group's files
    int64_t iGroupSize;         // sum of their sizes
};

typedef std::vector<GroupFileDesc> GroupFileDescVector;

// A record for one medium; part of the interface, not filled by any operation.
struct QVSPLIT_API MediaDesc {
    MediaDesc();
    MediaDesc(const MediaDesc& other);
    ~MediaDesc();
    MediaDesc& operator=(const MediaDesc& other);

    CQvString strMediaName;  // name of the medium
    DWORD dwMediaNumber;     // its number in the set
    DWORD dwMediaSize;       // bytes placed, in megabytes
    DWORD dwFileCount;       // files placed
    DWORD dwFreeSpace;       // megabytes kept free
    QvFileDescMap mpFileDesc;  // the entries
};

#endif
