// Builds without zlib (the MinGW build): the catalogue files are written as plain text, and a
// compressed one is refused with the reason.
#include "system/QvCliGzip.h"

bool QvCliGzipAvailable(std::string& reason) {
    reason = "this build of qvsplit reads and writes no gzip files (it was built without zlib)";
    return false;
}

std::string QvCliGzip(std::string_view, int) { return std::string(); }
std::string QvCliStoredGzip(std::string_view) { return std::string(); }
size_t QvCliStoredGzipSize(size_t) { return 0; }

bool QvCliGunzip(std::string_view, std::string& data, std::string& error) {
    data.clear();
    QvCliGzipAvailable(error);
    return false;
}

struct QvCliGzipCounter::Impl {
    size_t bytes = 0;
};

QvCliGzipCounter::QvCliGzipCounter(int) : m_impl(new Impl) {}
QvCliGzipCounter::~QvCliGzipCounter() { delete m_impl; }
void QvCliGzipCounter::Add(std::string_view data) { m_impl->bytes += data.size(); }
size_t QvCliGzipCounter::Finish() { return m_impl->bytes; }

std::string QvCliGzipLibrary() { return ""; }
