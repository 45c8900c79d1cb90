// A media set read back from its media files, for show, where, verify and the summary.
#ifndef QVCLIMEDIASET_H
#define QVCLIMEDIASET_H

#include <cstdint>
#include <string>
#include <vector>

// One FILE element of a media file.
struct QvCliEntry {
    std::wstring fullPath;   // FullPath: a file, or a folder followed by "\*.*"
    std::wstring targetPath; // TargetPath
    std::wstring writeTime;  // WriteTime, 14 digits of local time
    bool isDir = false;      // Attribute has the directory bit
    uint64_t size = 0;       // FileSize
};

// One media file.
struct QvCliMedium {
    std::string fileName;      // name within the folder
    int number = 0;            // the number in its name; a "Last.xml" left by a stopped split sorts last
    uint32_t splitSizeMb = 0;  // Info/Split_Size
    uint64_t mediaSize = 0;    // Info/Media_Size
    uint32_t numberFiles = 0;  // Info/Media_NumberFiles
    std::vector<QvCliEntry> entries;
};

struct QvCliMediaSet {
    std::string dir;
    std::vector<QvCliMedium> media;  // in number order
};

// Reads every media file of dir ("Media%d.xml", "media%d.xml", "Last.xml").
bool QvCliLoadMediaSet(const std::string& dir, QvCliMediaSet& set, std::string& error);

// The folder a directory entry's FullPath names (without "\*.*").
std::wstring QvCliEntryFolder(const QvCliEntry& entry);

#endif
