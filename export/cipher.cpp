#include "export/cipher.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <limits>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include "export/encrypted_file_format.h"
#include "platform/debug_log.h"

namespace {

using Format = EncryptedDownloadFile;
const QString kAesFailed = QStringLiteral("the AES encryption failed");

// Logs the fixed text and the library's reason as two items; tells the caller what failed.
QByteArray fail(const char* logText, const QString& reason, QString* failure, const QString& what) {
    DebugLog("%s %s\n", logText, qUtf8Printable(reason));
    if (failure) {
        *failure = what.isEmpty() ? reason : what + " (" + reason + ")";
    }
    return {};
}

bool failed(const char* logText, const QString& reason, QString* failure, const QString& what) {
    fail(logText, reason, failure, what);
    return false;
}

bool randomBytes(QByteArray* bytes, int count) {
    bytes->resize(count);
    return RAND_bytes(reinterpret_cast<unsigned char*>(bytes->data()), count) == 1;
}

// The password is the only secret of a saved file; keep it no longer than the call.
void wipe(QByteArray* bytes) {
    OPENSSL_cleanse(bytes->data(), bytes->size());
}

// Appends "Salted__", a fresh salt and the ciphertext to *out, in place: a large document is
// never copied on its way into the file. False (logged, *out untouched) on failure.
bool appendSaltedPart(const QByteArray& password, const QByteArray& plaintext, QByteArray* out,
                      QString* failure) {
    ERR_clear_error();
    const qint64 cipherTextSize = Format::cipherTextSize(plaintext.size());
    if (out->size() + Format::kSaltMagicSize + Format::kSaltSize + cipherTextSize >
        std::numeric_limits<int>::max()) {
        return failed("EVP_EncryptUpdate error: ", QStringLiteral("the document is too large"),
                      failure, {});
    }
    QByteArray salt;
    if (!randomBytes(&salt, Format::kSaltSize)) {
        return failed("Could not encrypt", takeOpenSslError(), failure,
                      QStringLiteral("no random bytes for the salt"));
    }
    unsigned char key[Format::kAesKeySize];
    unsigned char iv[Format::kAesIvSize];
    // Wiped on every way out of this function.
    struct Wipe {
        unsigned char* key;
        unsigned char* iv;
        ~Wipe() {
            OPENSSL_cleanse(key, Format::kAesKeySize);
            OPENSSL_cleanse(iv, Format::kAesIvSize);
        }
    } wipeKey{key, iv};
    if (!deriveAesKeyAndIv(password, salt, key, iv)) {
        return failed("EVP_BytesToKey error: ", takeOpenSslError(), failure,
                      QStringLiteral("the AES key could not be derived"));
    }

    EvpCipherCtxPtr context(EVP_CIPHER_CTX_new());
    if (!context || EVP_EncryptInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, key, iv) != 1) {
        return failed("EVP_EncryptInit_ex error: ", takeOpenSslError(), failure, kAesFailed);
    }
    // Restarts the operation on the same cipher, key and IV; harmless, kept for the log text.
    if (EVP_EncryptInit_ex(context.get(), nullptr, nullptr, nullptr, nullptr) != 1) {
        return failed("Crypto Engine didnt successfully initialized. EVP_EncryptInit_ex error: ",
                      takeOpenSslError(), failure, kAesFailed);
    }
    const int start = out->size();
    out->reserve(start + Format::kSaltMagicSize + Format::kSaltSize + int(cipherTextSize));
    out->append(Format::kSaltMagic, Format::kSaltMagicSize).append(salt);
    const int cipherTextStart = out->size();
    out->resize(cipherTextStart + int(cipherTextSize));
    auto* cipherText = reinterpret_cast<unsigned char*>(out->data()) + cipherTextStart;
    int updateLength = 0;
    if (EVP_EncryptUpdate(context.get(), cipherText, &updateLength,
                          reinterpret_cast<const unsigned char*>(plaintext.constData()),
                          plaintext.size()) != 1) {
        out->truncate(start);
        return failed("EVP_EncryptUpdate error: ", takeOpenSslError(), failure, kAesFailed);
    }
    int finalLength = 0;
    if (EVP_EncryptFinal_ex(context.get(), cipherText + updateLength, &finalLength) != 1) {
        out->truncate(start);
        return failed("EVP_EncryptFinal error: ", takeOpenSslError(), failure, kAesFailed);
    }
    out->resize(cipherTextStart + updateLength + finalLength);
    return true;
}

}  // namespace

Cipher::Cipher(QObject* parent) : QObject(parent) {
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr);
}

namespace {
constexpr qint64 kMaxKeyFileSize = 1024 * 1024;
}  // namespace

QByteArray Cipher::readFile(const QString& filename, QString* failure) {
    QFile file(filename);
    // Opening a FIFO waits for a writer for ever, and a device can be read without end.
    const QFileInfo info(filename);
    QString reason;
    if (info.exists() && !info.isFile()) {
        reason = QCoreApplication::translate("Cipher", "it is not a regular file");
    } else if (!file.open(QIODevice::ReadOnly)) {
        // Windows' texts end in a full stop; the messages that quote this add their own.
        reason = file.errorString();
        if (reason.endsWith(QLatin1Char('.'))) {
            reason.chop(1);
        }
    } else {
        const QByteArray bytes = file.read(kMaxKeyFileSize + 1);
        if (bytes.size() <= kMaxKeyFileSize) {
            return bytes;
        }
        reason = QCoreApplication::translate("Cipher", "it is larger than 1 MiB");
    }
    DebugLog("%s %s\n", qUtf8Printable(filename), qUtf8Printable(reason));
    if (failure) {
        *failure = reason;
    }
    return {};
}

EvpPkeyPtr Cipher::loadPublicKey(const QString& filename, QString* failure) {
    QString reason;
    const QByteArray pem = readFile(filename, &reason);
    if (pem.isEmpty()) {
        fail("Could not load public key",
             reason.isEmpty() ? QCoreApplication::translate("Cipher", "the file is empty") : reason,
             failure, {});
        return nullptr;
    }
    ERR_clear_error();
    // Length -1: the text up to its first zero byte, as a PEM file is text.
    BioPtr bio(BIO_new_mem_buf(pem.constData(), -1));
    EvpPkeyPtr key(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key) {
        fail("Could not load public key", takeOpenSslError(), failure,
             QCoreApplication::translate("Cipher", "it holds no PEM public key"));
        return nullptr;
    }
    if (!EVP_PKEY_is_a(key.get(), "RSA")) {
        fail("Could not load public key",
             QCoreApplication::translate("Cipher", "it is not an RSA key"), failure, {});
        return nullptr;
    }
    return key;
}

QByteArray Cipher::encrypt(EVP_PKEY* key, const QByteArray& plaintext, QString* failure) {
    if (!key) {
        return fail("Could not encrypt", QStringLiteral("no public key"), failure, {});
    }
    ERR_clear_error();
    QByteArray password;
    if (!randomBytes(&password, Format::kPasswordSize)) {
        return fail("Could not encrypt", takeOpenSslError(), failure,
                    QStringLiteral("no random bytes for the password"));
    }

    EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    size_t blockSize = 0;
    QByteArray rsaBlock;
    const auto* passwordBytes = reinterpret_cast<const unsigned char*>(password.constData());
    bool encrypted =
        context && EVP_PKEY_encrypt_init(context.get()) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_encrypt(context.get(), nullptr, &blockSize, passwordBytes, password.size()) == 1;
    if (encrypted) {
        rsaBlock.resize(static_cast<int>(blockSize));
        encrypted =
            EVP_PKEY_encrypt(context.get(), reinterpret_cast<unsigned char*>(rsaBlock.data()),
                             &blockSize, passwordBytes, password.size()) == 1;
        // A reader splits the file at its key's size, so the block must fill it exactly.
        encrypted = encrypted && blockSize == static_cast<size_t>(EVP_PKEY_get_size(key));
    }
    if (!encrypted) {
        wipe(&password);
        return fail("Could not encrypt", takeOpenSslError(), failure,
                    QStringLiteral("the RSA encryption of the password failed"));
    }

    // The file grows in place from its key block; reserved whole, so it is never copied.
    QByteArray file = rsaBlock;
    file.reserve(rsaBlock.size() + Format::kSaltMagicSize + Format::kSaltSize +
                 int(Format::cipherTextSize(plaintext.size())));
    const bool sealed = appendSaltedPart(password, plaintext, &file, failure);
    wipe(&password);
    return sealed ? file : QByteArray();
}

QByteArray Cipher::aesEncrypt(const QByteArray& password, const QByteArray& plaintext,
                              QString* failure) {
    QByteArray part;
    return appendSaltedPart(password, plaintext, &part, failure) ? part : QByteArray();
}
