// EncryptedDownloadFile, the format of every saved file, byte by byte (K is the size in bytes of
// the recipient's RSA modulus, n the plaintext length):
//
//   offset 0      K bytes   the 8-byte password, RSA-encrypted with PKCS #1 v1.5 padding
//   offset K      8 bytes   "Salted__"
//   offset K + 8  8 bytes   the salt
//   offset K + 16           AES-256-CBC ciphertext, PKCS #7 padded: 16 * (n / 16 + 1) bytes
//
// No header or length field: a reader splits the file at its own key's size. From offset K on
// it is exactly the salted output of `openssl enc -aes-256-cbc -md sha1` with the password as
// pass phrase. This file is the one place that knows these offsets; the cipher and the
// decrypter both go through it. Pure functions, any thread.
#pragma once

#include <QByteArray>
#include <QtGlobal>

struct EncryptedDownloadFile {
    static constexpr int kPasswordSize = 8;
    static constexpr char kSaltMagic[] = "Salted__";
    static constexpr int kSaltMagicSize = 8;
    static constexpr int kSaltSize = 8;
    static constexpr int kAesBlockSize = 16;
    static constexpr int kAesKeySize = 32;
    static constexpr int kAesIvSize = 16;

    static constexpr qint64 saltMagicOffset(int keySize) { return keySize; }
    static constexpr qint64 saltOffset(int keySize) { return keySize + kSaltMagicSize; }
    static constexpr qint64 cipherTextOffset(int keySize) {
        return keySize + kSaltMagicSize + kSaltSize;
    }
    // PKCS #7 always pads, so a whole extra block follows a plaintext of whole blocks.
    static constexpr qint64 cipherTextSize(qint64 plaintextSize) {
        return kAesBlockSize * (plaintextSize / kAesBlockSize + 1);
    }

    enum class ParseResult {
        ok,
        truncated,     // shorter than the key block, the salted header and one cipher block
        noSaltMagic,   // "Salted__" is not at offset K
        partialBlock,  // the ciphertext is not a whole number of blocks
    };

    QByteArray rsaBlock;
    QByteArray salt;
    QByteArray cipherText;

    // The whole file: the key block followed by the salted part.
    static QByteArray join(const QByteArray& rsaBlock, const QByteArray& saltedPart);

    // Splits bytes for a key of keySize bytes. On ok, *out holds the three parts.
    static ParseResult parse(const QByteArray& bytes, int keySize, EncryptedDownloadFile* out);
    // Where "Salted__" first stands after a plausible key block (at least 64 bytes), or -1:
    // tells a file made for a key of another size from a damaged one.
    static qint64 findSaltMagic(const QByteArray& bytes);
};

// The AES key and IV of the format: EVP_BytesToKey with AES-256-CBC, SHA-1, the 8-byte salt,
// the password as data and one iteration. False when libcrypto fails (its error queue says why).
bool deriveAesKeyAndIv(const QByteArray& password, const QByteArray& salt,
                       unsigned char (&key)[EncryptedDownloadFile::kAesKeySize],
                       unsigned char (&iv)[EncryptedDownloadFile::kAesIvSize]);
