// Gzip members and base64, for the catalogue files a disc carries: they list the whole set on
// every disc, and compressed they cost a small part of its room.
#ifndef QVCLIGZIP_H
#define QVCLIGZIP_H

#include <cstddef>
#include <string>
#include <string_view>

// Whether this build compresses (the MinGW build has no zlib); when not, reason says why.
bool QvCliGzipAvailable(std::string& reason);
// The library gzip is made with and its version, for --version ("" when none).
std::string QvCliGzipLibrary();

// One gzip member holding data, compressed at level (1-9). Members put one after the other
// are one gzip file to gunzip, zcat and zgrep.
std::string QvCliGzip(std::string_view data, int level);

// One gzip member holding data stored as it is: its size depends on the data's length alone
// (QvCliStoredGzipSize), so that it can be counted before the data is known.
std::string QvCliStoredGzip(std::string_view data);
size_t QvCliStoredGzipSize(size_t bytes);

// The data of every member of a gzip file; false with error set when it is not one, or is
// damaged.
bool QvCliGunzip(std::string_view gzip, std::string& data, std::string& error);

// Whether bytes begin as a gzip file does.
bool QvCliLooksGzipped(std::string_view bytes);

// The level the catalogue files are compressed at.
const int kQvCliCatalogLevel = 5;

// Counts the bytes of one gzip member of everything added, without keeping them.
class QvCliGzipCounter {
public:
    explicit QvCliGzipCounter(int level);
    ~QvCliGzipCounter();
    QvCliGzipCounter(const QvCliGzipCounter&) = delete;
    QvCliGzipCounter& operator=(const QvCliGzipCounter&) = delete;
    void Add(std::string_view data);
    // The member's bytes; the counter then takes nothing more.
    size_t Finish();

private:
    struct Impl;
    Impl* m_impl;
};

// Base64 (RFC 4648, with padding), one line.
std::string QvCliBase64(std::string_view data);

#endif
