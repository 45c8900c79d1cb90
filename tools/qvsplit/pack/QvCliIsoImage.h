// ISO 9660 images of one medium: level 3, Rock Ridge, Joliet with long names.
#ifndef QVCLIISOIMAGE_H
#define QVCLIISOIMAGE_H

#include "mediaset/QvCliMediumLayout.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Bytes of one sector of a disc: ISO images are whole sectors.
constexpr uint64_t kQvCliSectorBytes = 2048;

class QvCliIsoImage {
public:
    QvCliIsoImage();
    ~QvCliIsoImage();
    QvCliIsoImage(const QvCliIsoImage&) = delete;
    QvCliIsoImage& operator=(const QvCliIsoImage&) = delete;

    // Whether this build of the program can make ISO images; when not, reason says why.
    static bool Available(std::string& reason);
    // The library this is made with and its version, for --version ("" when none).
    static std::string Library();

    // Builds the image's directory tree from a layout (folders expanded); nothing is read yet.
    // With the layout hashing, files are hashed as they are written and the list made last.
    bool Build(const QvCliMediumLayout& layout, const std::string& volumeId, std::string& error);
    // The exact size of the image as Write would make it, without making it.
    bool Measure(uint64_t& bytes, std::string& error);

    // Writes the image to file (created or replaced). progress gets the bytes written so far
    // and returns false to stop; bytes is the size written.
    QvCliWriteOutcome Write(const std::string& file, const std::function<bool(uint64_t)>& progress,
                  uint64_t& bytes, std::string& error);

    // The checksum list of the image's files, once written from a hashing layout (the one it
    // carries, or the one it would carry had it room).
    std::string SumsText() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

#endif
