#include "export/encrypted_file_format.h"

#include <openssl/evp.h>

namespace {
constexpr int kMinimumKeySize = 64;  // 512 bits, the smallest RSA key libcrypto makes
}

QByteArray EncryptedDownloadFile::join(const QByteArray& rsaBlock, const QByteArray& saltedPart) {
    return rsaBlock + saltedPart;
}

EncryptedDownloadFile::ParseResult EncryptedDownloadFile::parse(const QByteArray& bytes,
                                                                int keySize,
                                                                EncryptedDownloadFile* out) {
    const qint64 size = bytes.size();
    const QByteArray magic(kSaltMagic, kSaltMagicSize);
    if (keySize <= 0) {
        return ParseResult::truncated;
    }
    if (size >= saltOffset(keySize) && bytes.mid(keySize, kSaltMagicSize) != magic) {
        return ParseResult::noSaltMagic;
    }
    if (size < cipherTextOffset(keySize) + kAesBlockSize) {
        return ParseResult::truncated;
    }
    if ((size - cipherTextOffset(keySize)) % kAesBlockSize != 0) {
        return ParseResult::partialBlock;
    }
    out->rsaBlock = bytes.left(keySize);
    out->salt = bytes.mid(saltOffset(keySize), kSaltSize);
    out->cipherText = bytes.mid(cipherTextOffset(keySize));
    return ParseResult::ok;
}

qint64 EncryptedDownloadFile::findSaltMagic(const QByteArray& bytes) {
    return bytes.indexOf(QByteArray(kSaltMagic), kMinimumKeySize);
}

bool deriveAesKeyAndIv(const QByteArray& password, const QByteArray& salt,
                       unsigned char (&key)[EncryptedDownloadFile::kAesKeySize],
                       unsigned char (&iv)[EncryptedDownloadFile::kAesIvSize]) {
    if (salt.size() != EncryptedDownloadFile::kSaltSize) {
        return false;
    }
    const int keySize = EVP_BytesToKey(
        EVP_aes_256_cbc(), EVP_sha1(), reinterpret_cast<const unsigned char*>(salt.constData()),
        reinterpret_cast<const unsigned char*>(password.constData()), password.size(), 1, key, iv);
    return keySize == EncryptedDownloadFile::kAesKeySize;
}
