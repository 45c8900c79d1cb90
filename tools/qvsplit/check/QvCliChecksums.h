// SHA-256 of file contents, and the checksum list each medium carries: the format
// 'sha256sum -c' reads, with paths as they are on the medium.
#ifndef QVCLICHECKSUMS_H
#define QVCLICHECKSUMS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The list's name at the root of every medium pack makes.
extern const char* const kQvCliSumsFile;

// An incremental SHA-256.
class QvCliSha256 {
public:
    QvCliSha256();
    ~QvCliSha256();
    QvCliSha256(const QvCliSha256&) = delete;
    QvCliSha256& operator=(const QvCliSha256&) = delete;

    // Whether this build of the program computes checksums; when not, reason says why.
    static bool Available(std::string& reason);
    // The library this is made with and its version, for --version ("" when none).
    static std::string Library();

    void Update(const void* data, size_t bytes);
    // The digest of everything given since the start or the last Digest; the hash then starts
    // again.
    void Digest(unsigned char (&digest)[32]);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The 64 lower-case hex digits of a digest.
std::string QvCliHex(const unsigned char* digest);

// One line of a checksum list for a file at path inside the medium ('/'-separated), newline
// included. A path holding a backslash, a newline or a carriage return is escaped as GNU
// sha256sum writes it: the line starts with a backslash and those characters become \\, \n, \r.
std::string QvCliSumsLine(const std::string& hex, const std::string& path);
// Its length, without making it.
size_t QvCliSumsLineBytes(const std::string& path);

// The escaping of a path in such a line: whether a path needs it (a backslash, a newline or a
// carriage return in it), the path escaped (\\, \n, \r), and back (false on a backslash that
// begins none of those).
bool QvCliNeedsEscape(const std::string& path);
std::string QvCliEscape(const std::string& path);
bool QvCliUnescape(const std::string& escaped, std::string& path);

// Hands each line of text to take (without its newline, numbered from 1) until take returns
// false; false then.
bool QvCliEachLine(const std::string& text, const std::function<bool(std::string& line, size_t number)>& take);

struct QvCliSumsEntry {
    std::string hex;   // 64 lower-case hex digits
    std::string path;  // unescaped
};
// Reads a list as QvCliSumsLine writes it (and as sha256sum writes it, '*' for binary mode
// allowed). False, with error naming the line, on a line it cannot read.
bool QvCliParseSums(const std::string& text, std::vector<QvCliSumsEntry>& entries, std::string& error);

// The copy beside the plan in planDir of a medium's list (suffix ".SHA256SUMS") or notes
// (".MEDIUM.txt"), found by the name pack gave the medium's image or archive (Media3.iso:
// Media3.SHA256SUMS); empty when there is none.
std::string QvCliBesidePlan(const std::string& planDir, const std::string& source, const std::string& suffix);

struct QvCliMediumLayout;
// Adds the medium's checksum list to a layout (its last item) and sets it hashing; false when
// this build computes no checksums. Its size is counted from the paths of the files before it.
bool QvCliAddSumsItem(QvCliMediumLayout& layout);
// The list of a layout whose files were written: a line per file (generated ones but the list
// itself included), sorted by path.
std::string QvCliSumsText(const QvCliMediumLayout& layout);
// The content of generated item index of a layout whose files before it were written.
std::string QvCliGenerated(const QvCliMediumLayout& layout, size_t index);

#endif
