// The entries a media file lists, read back for the C interface's callers.
#ifndef QVMEDIAENTRIES_H
#define QVMEDIAENTRIES_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One FILE element of a media file, its texts as the library holds paths.
struct QvMediaEntry {
    std::wstring strSource;   // the file or folder (a folder kept whole without its "\*.*")
    std::wstring strTarget;   // the folder it is restored under
    std::wstring strName;     // its own name
    std::wstring strWriteTime;
    std::wstring strCutFile;  // for part N of a cut file, the file cut; else empty
    uint32_t dwAttributes = 0;
    uint32_t dwPart = 0;      // N of a part, else 0
    int64_t iSize = 0;
};

// Reads every entry of the media file at strPath (a library path), in its order; false when the
// file cannot be read or is not a media file.
bool QvReadMediaEntries(const std::wstring& strPath, std::vector<QvMediaEntry>& vEntries);

// The same, an entry at a time, reading the file in pieces: a set of many media files is read
// in the memory of one piece and one entry. Fills strSource, strTarget, strWriteTime,
// dwAttributes and iSize (a folder kept whole without its "\*.*"). False when the file cannot
// be read or is not a media file, possibly after some entries were visited.
bool QvScanMediaEntries(const std::wstring& strPath, const std::function<void(const QvMediaEntry&)>& visit);

#endif
