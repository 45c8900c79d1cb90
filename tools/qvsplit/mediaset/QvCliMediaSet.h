// A media set read back from its media files, for show, where and verify, or reported by the
// library after a split for its summary.
#ifndef QVCLIMEDIASET_H
#define QVCLIMEDIASET_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One FILE element of a media file.
struct QvCliEntry {
    std::wstring fullPath;   // FullPath: a file, or a folder followed by "\*.*"
    std::wstring targetPath; // TargetPath
    std::wstring writeTime;  // WriteTime, 14 digits of local time
    bool isDir = false;      // Attribute has the directory bit and not the reparse-point bit
    bool isLink = false;     // Attribute has the reparse-point bit: a link kept as an entry
    uint64_t size = 0;       // FileSize
};

// One media file.
struct QvCliMedium {
    std::string fileName;      // name within the folder
    int number = 0;            // the number in its name; a "Last.xml" left by a stopped split sorts last
    uint32_t splitSizeMb = 0;  // Info/Split_Size
    uint64_t mediaSize = 0;    // Info/Media_Size
    uint64_t dataSize = 0;     // the files' data as the image holds it, a file with several names
                               // once (the split's own report; 0: not known, Media_Size stands)
    uint64_t imageSize = 0;    // Info/Image_Size: the predicted image, when planned for a file system
    uint32_t numberFiles = 0;  // Info/Media_NumberFiles
    bool hasNumberFiles = false;  // whether the medium carries that count (0 is a count)
    size_t entryCount = 0;     // FILE elements
    std::vector<QvCliEntry> entries;  // once QvCliLoadMedium read them; empty otherwise
};

struct QvCliMediaSet {
    std::string dir;
    std::vector<QvCliMedium> media;  // in number order
    uint64_t distinctBytes = 0;      // sizes of the distinct entries (by FullPath) summed
};

// Finds the media files of dir ("Media%d.xml", "media%d.xml", "Last.xml"), in number order; a
// set still marked incomplete is refused. withFigures also reads each medium's figures and the
// count of its entries, and counts the set's distinct bytes. The entries themselves are read a
// medium at a time (QvCliLoadMedium), so that a set of millions of entries is never held whole.
bool QvCliLoadMediaSet(const std::string& dir, QvCliMediaSet& set, std::string& error, bool withFigures);
// Reads one medium of set, its figures and its entries, into medium.
bool QvCliLoadMedium(const QvCliMediaSet& set, QvCliMedium& medium, std::string& error);
// Calls visit with each medium of set in turn (and its index), its entries read for the call and
// dropped after; with countDistinct, the set's distinct bytes are counted on the way. False with
// error set, before visiting it, when a media file cannot be read.
bool QvCliForEachMedium(QvCliMediaSet& set, const std::function<void(size_t, const QvCliMedium&)>& visit,
                        std::string& error, bool countDistinct = false);

// Two independent 64-bit hashes of text (the standard library's and FNV-1a), which tell texts
// apart where one alone might not: what stands for an entry where holding it would cost more.
void QvCliTwoHashes(std::string_view text, uint64_t& first, uint64_t& second);

// Reads one media file a run of entries at a time: its Info into medium, and each FILE element
// handed to take (with its FullPath as written, in UTF-8) instead of kept, counted in entryCount.
// A medium of a million entries is read in the memory of a few thousand.
typedef std::function<void(QvCliEntry&& entry, std::string_view fullPath)> QvCliEntryTaker;
bool QvCliReadMedium(const std::filesystem::path& file, QvCliMedium& medium, const QvCliEntryTaker& take,
                     std::string& error);

// Beside the media files: a marker that stays while a split writes them (a set that holds it
// is incomplete), and the list of what the split left out.
extern const char* const kQvCliIncompleteMarker;
extern const char* const kQvCliLeftOutFile;

// Creates the marker of an unfinished split in dir; false when it cannot.
bool QvCliMarkIncomplete(const std::string& dir);
// Removes the marker: the set in dir is complete.
void QvCliMarkComplete(const std::string& dir);

// Writes and reads the list of what a split left out: library paths, sizes (-1: unknown) and
// reasons, as XML (the library's paths are valid XML text, whatever the host names hold).
struct QvCliLeftOutRecord {
    std::wstring path;
    long long size = -1;
    std::string reason;
};
bool QvCliSaveLeftOut(const std::string& dir, const std::vector<QvCliLeftOutRecord>& records);
std::vector<QvCliLeftOutRecord> QvCliLoadLeftOut(const std::string& dir);
// The files a set that follows earlier sets records as deleted ("Deleted.xml"), by library path;
// none when it has no such list.
std::vector<std::wstring> QvCliLoadDeleted(const std::string& dir);
// The same files as paths inside the media: each one's target folder and name.
std::vector<std::pair<std::wstring, std::wstring>> QvCliLoadDeletedTargets(const std::string& dir);

// The folder a directory entry's FullPath names (without "\*.*").
std::wstring QvCliEntryFolder(const QvCliEntry& entry);

#endif
