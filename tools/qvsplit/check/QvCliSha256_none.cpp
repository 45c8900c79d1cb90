// Builds without a hash library (the MinGW build): checksums are not made nor checked.
#include "check/QvCliChecksums.h"

struct QvCliSha256::Impl {};

QvCliSha256::QvCliSha256() : m_impl(new Impl) {}
QvCliSha256::~QvCliSha256() = default;

bool QvCliSha256::Available(std::string& reason) {
    reason = "this build of qvsplit computes no SHA-256 checksums (it was built without libcrypto)";
    return false;
}

void QvCliSha256::Update(const void*, size_t) {}

void QvCliSha256::Digest(unsigned char (&digest)[32]) {
    for (unsigned char& b : digest) b = 0;
}

std::string QvCliSha256::Library() { return ""; }
