// SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA instructions where it has
// them: hashing must keep pace with reading a disc.
#include "check/QvCliChecksums.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

struct QvCliSha256::Impl {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~Impl() { EVP_MD_CTX_free(context); }
};

QvCliSha256::QvCliSha256() : m_impl(new Impl) { EVP_DigestInit_ex(m_impl->context, EVP_sha256(), nullptr); }
QvCliSha256::~QvCliSha256() = default;

bool QvCliSha256::Available(std::string&) { return true; }

std::string QvCliSha256::Library() { return OpenSSL_version(OPENSSL_VERSION); }

void QvCliSha256::Update(const void* data, size_t bytes) {
    if (bytes) EVP_DigestUpdate(m_impl->context, data, bytes);
}

void QvCliSha256::Digest(unsigned char (&digest)[32]) {
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_impl->context, digest, &length);
    EVP_DigestInit_ex(m_impl->context, EVP_sha256(), nullptr);
}
