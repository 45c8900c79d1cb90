// POSIX (pax) tar archives of one medium, for tapes and uploads.
#ifndef QVCLITARARCHIVE_H
#define QVCLITARARCHIVE_H

#include "mediaset/QvCliMediumLayout.h"

#include <cstdint>
#include <functional>
#include <string>

class QvCliTarArchive {
public:
    // Whether this build of the program can make tar archives; when not, reason says why.
    static bool Available(std::string& reason);
    // The library this is made with and its version, for --version ("" when none).
    static std::string Library();

    // The exact size of the archive Write would make of a layout, without reading a file's
    // content or writing anything.
    static bool Measure(const QvCliMediumLayout& layout, uint64_t& bytes, std::string& error);

    // Writes every item of a layout (folders expanded) to file, names, modes and times kept;
    // with the layout hashing, its files' digests are filled in and its checksum list written.
    // progress gets the file bytes stored so far and returns false to stop; bytes is the size
    // of the archive written.
    static QvCliWriteOutcome Write(QvCliMediumLayout& layout, const std::string& file,
                         const std::function<bool(uint64_t)>& progress, uint64_t& bytes,
                         std::string& error);
};

#endif
