// Reading a medium pack made, whatever carries it: an ISO image, a tar archive, or a folder (a
// mounted disc). Entries come in the order the medium stores them; each file's content is
// handed over in chunks as it is read, once.
#ifndef QVCLIMEDIUMREADER_H
#define QVCLIMEDIUMREADER_H

#include <cstdint>
#include <string>

struct QvCliMediumEntry {
    enum Kind { kFile, kFolder, kLink, kOther };
    Kind kind = kOther;
    std::string path;        // inside the medium: relative, '/'-separated, as stored ("src/a.txt")
    std::string linkTarget;  // a link's target as stored
    std::string hardLink;    // a file stored as another name of an earlier one (its path)
    uint64_t size = 0;       // a file's bytes
    uint32_t mode = 0;       // permission bits
    int64_t writeTime = 0;   // seconds since 1970 (UTC)
};

// What a reader hands its entries to.
class QvCliMediumVisitor {
public:
    virtual ~QvCliMediumVisitor() = default;
    // An entry; for a file, returns whether its content is wanted.
    virtual bool Entry(const QvCliMediumEntry& entry) = 0;
    // The next bytes of the file last wanted; false stops the reading (cancelled).
    virtual bool Data(const void* bytes, size_t count) = 0;
    // The end of that file's content: whole, or cut short at byte offset by why.
    virtual void FileEnd(bool whole, uint64_t offset, const std::string& why) = 0;
    // Bytes of the medium read so far, for progress.
    virtual void Progress(uint64_t) {}
};

enum class QvCliReadOutcome { kRead, kDamaged, kStopped };

// What a source is, told before reading: "iso", "tar", "folder", or empty with error set.
std::string QvCliMediumKind(const std::string& source, uint64_t& bytes, std::string& error);

// The bytes reading source goes through, for a progress bar: an image's or archive's size, the
// files of a folder summed.
uint64_t QvCliMediumBytes(const std::string& source);

// Reads every entry of source. kDamaged, with error saying where, when the medium could not be
// read to its end (the entries read until then were handed over).
QvCliReadOutcome QvCliReadMedium(const std::string& source, QvCliMediumVisitor& visitor, std::string& error);

// The archive half, in a source of its own per library: false (with error) in a build without it.
QvCliReadOutcome QvCliReadArchive(const std::string& file, QvCliMediumVisitor& visitor, std::string& error);
// The first bytes of a file tell "iso", "tar" or neither (empty).
std::string QvCliArchiveKind(const std::string& file);

#endif
