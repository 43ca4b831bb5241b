// Ownership wrappers for the OpenSSL handles of the export layer, and the library's error text.
// Any thread; no shared state beyond libcrypto's own per-thread error queue.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>

#include <memory>

#include <QString>

struct EvpPkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct EvpPkeyCtxDeleter {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct EvpCipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyDeleter>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, EvpPkeyCtxDeleter>;
using EvpCipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, EvpCipherCtxDeleter>;
using BioPtr = std::unique_ptr<BIO, BioDeleter>;

// The text of the oldest error in this thread's OpenSSL error queue, which is then emptied, so
// the next failure reports its own cause. "no details" when the queue is empty.
QString takeOpenSslError();
