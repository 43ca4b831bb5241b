// Turns a saved EncryptedDownloadFile back into its document with the recipient's RSA private
// key. Pure functions on their arguments; any thread.
#pragma once

#include <QByteArray>
#include <QString>

#include "export/openssl_util.h"

enum class DecryptStatus {
    decrypted,
    wrongKey,   // the key block does not open with this key, or the file was made for another
    truncated,  // the file ends before its parts do
    corrupt,    // the parts are there but do not decrypt to a JSON document
};

struct DecryptResult {
    DecryptStatus status = DecryptStatus::corrupt;
    QByteArray document;  // the plaintext, when decrypted
    QString message;      // what went wrong, for the user, when not decrypted
};

// The RSA private key of PEM text, owned by the caller; null, with *failure saying why, when
// there is none. A key protected by a passphrase is opened with passphrase when given, else with
// one asked for on the terminal when prompt (blocks for the user), else not at all.
EvpPkeyPtr loadPrivateKey(const QByteArray& pem, QString* failure,
                          const QByteArray* passphrase = nullptr, bool prompt = false);

// Decrypts file with privateKey (which must not be null). The document is accepted only when
// it is of the saved shape (a JSON object of exactly events, factory_config, hostDateTime and
// records, no raw control character inside a text): the format carries no checksum, and damage
// inside the ciphertext would otherwise pass as a changed document.
DecryptResult decryptDownloadFile(EVP_PKEY* privateKey, const QByteArray& file);
