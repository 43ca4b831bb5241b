// Encrypts a document into the EncryptedDownloadFile format for the holder of an RSA private
// key: a fresh random password per call protects the AES-256-CBC part and is itself encrypted
// with the recipient's public key.
//
// Used on the GUI thread, one Cipher per save; it holds no state, so separate instances may
// also run on separate threads. Failures go to the debug log and, where the caller
// passes one, described in *failure for the user; every failure yields an empty result.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "export/openssl_util.h"

class Cipher : public QObject {
    Q_OBJECT
public:
    // Initialises libcrypto (error strings, ciphers and digests, default configuration).
    explicit Cipher(QObject* parent = nullptr);

    // The RSA public key of a PEM SubjectPublicKeyInfo file ("BEGIN PUBLIC KEY"), owned by the
    // caller; null when the file cannot be read, holds no such key, or the key is not RSA.
    EvpPkeyPtr loadPublicKey(const QString& filename, QString* failure = nullptr);

    // The complete file for plaintext, encrypted for key; empty when any step fails (random
    // bytes, RSA, AES), so a caller never saves a file nobody can read.
    QByteArray encrypt(EVP_PKEY* key, const QByteArray& plaintext, QString* failure = nullptr);

    // The salted AES part ("Salted__", a fresh salt, the ciphertext) for an 8-byte password;
    // empty on failure.
    QByteArray aesEncrypt(const QByteArray& password, const QByteArray& plaintext,
                          QString* failure = nullptr);

    // The whole file, or an empty array with the reason (in the debug log) when it cannot
    // be opened, is not a regular file or is larger than 1 MiB. Never blocks on a FIFO or device.
    QByteArray readFile(const QString& filename, QString* failure = nullptr);
};
