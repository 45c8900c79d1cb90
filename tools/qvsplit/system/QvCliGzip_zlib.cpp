// Gzip through zlib.
#include "system/QvCliGzip.h"

#include <zlib.h>

#include <cstring>

namespace {

// Deflate's stored blocks hold at most 65,535 bytes; each takes 5 bytes of header. A member
// adds its 10-byte header and 8-byte trailer, and an empty one still holds one block.
const size_t kStoredBlock = 65535;

std::string Deflate(std::string_view data, int level, int strategy) {
    z_stream z;
    std::memset(&z, 0, sizeof z);
    // 15 window bits, +16 for a gzip header and trailer; memory level 9.
    if (deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 9, strategy) != Z_OK) return std::string();
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&z, Z_FINISH);
    out.resize(status == Z_STREAM_END ? z.total_out : 0);
    deflateEnd(&z);
    return out;
}

}  // namespace

bool QvCliGzipAvailable(std::string&) { return true; }

std::string QvCliGzipLibrary() { return std::string("zlib ") + zlibVersion(); }

std::string QvCliGzip(std::string_view data, int level) { return Deflate(data, level, Z_DEFAULT_STRATEGY); }

std::string QvCliStoredGzip(std::string_view data) {
    // Level 0 writes stored blocks alone; its size is checked against the count made ahead.
    std::string out = Deflate(data, 0, Z_DEFAULT_STRATEGY);
    return out.size() == QvCliStoredGzipSize(data.size()) ? out : std::string();
}

size_t QvCliStoredGzipSize(size_t bytes) {
    const size_t blocks = bytes == 0 ? 1 : (bytes + kStoredBlock - 1) / kStoredBlock;
    return 10 + bytes + 5 * blocks + 8;
}

bool QvCliGunzip(std::string_view gzip, std::string& data, std::string& error) {
    data.clear();
    size_t at = 0;
    char piece[1 << 16];
    while (at < gzip.size()) {
        z_stream z;
        std::memset(&z, 0, sizeof z);
        if (inflateInit2(&z, 15 + 16) != Z_OK) {
            error = "cannot be decompressed (out of memory)";
            return false;
        }
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data() + at));
        z.avail_in = static_cast<uInt>(gzip.size() - at);
        int status = Z_OK;
        while (status == Z_OK) {
            z.next_out = reinterpret_cast<Bytef*>(piece);
            z.avail_out = sizeof piece;
            status = inflate(&z, Z_NO_FLUSH);
            data.append(piece, sizeof piece - z.avail_out);
            if (status == Z_BUF_ERROR && z.avail_in == 0) break;
        }
        const size_t used = gzip.size() - at - z.avail_in;
        inflateEnd(&z);
        if (status != Z_STREAM_END) {
            error = status == Z_BUF_ERROR ? "is cut short (its compressed data ends early)" : "is damaged (not gzip data, or corrupt)";
            return false;
        }
        at += used;
    }
    if (gzip.empty()) {
        error = "is empty";
        return false;
    }
    return true;
}

struct QvCliGzipCounter::Impl {
    z_stream z;
    bool open = false;
    size_t bytes = 0;
    char out[1 << 16];

    void Run(int flush) {
        do {
            z.next_out = reinterpret_cast<Bytef*>(out);
            z.avail_out = sizeof out;
            deflate(&z, flush);
            bytes += sizeof out - z.avail_out;
        } while (z.avail_out == 0);
    }
};

QvCliGzipCounter::QvCliGzipCounter(int level) : m_impl(new Impl) {
    std::memset(&m_impl->z, 0, sizeof m_impl->z);
    m_impl->open = deflateInit2(&m_impl->z, level, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) == Z_OK;
}

QvCliGzipCounter::~QvCliGzipCounter() {
    if (m_impl->open) deflateEnd(&m_impl->z);
    delete m_impl;
}

void QvCliGzipCounter::Add(std::string_view data) {
    if (!m_impl->open || data.empty()) return;
    m_impl->z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    m_impl->z.avail_in = static_cast<uInt>(data.size());
    m_impl->Run(Z_NO_FLUSH);
}

size_t QvCliGzipCounter::Finish() {
    if (!m_impl->open) return m_impl->bytes;
    m_impl->z.avail_in = 0;
    m_impl->Run(Z_FINISH);
    deflateEnd(&m_impl->z);
    m_impl->open = false;
    return m_impl->bytes;
}
