#include "export/decrypter.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <algorithm>
#include <cstring>

#include "export/encrypted_file_format.h"

namespace {

using Format = EncryptedDownloadFile;

// The format carries no checksum: a damaged block can still decrypt to valid JSON, such as a
// member swallowed into a string. What a save writes is narrower: compact JSON whose top level
// holds exactly its four members, with every control character inside strings escaped.
QString savedShapeProblem(const QByteArray& text, const QJsonDocument& json) {
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString && static_cast<unsigned char>(c) < 0x20) {
            return QStringLiteral("a text in it holds a raw control character");
        }
        if (escaped) {
            escaped = false;
        } else if (c == '\\') {
            escaped = inString;
        } else if (c == '"') {
            inString = !inString;
        }
    }
    const QJsonObject top = json.object();
    const bool shaped = json.isObject() && top.size() == 4 &&
                        top.value(QLatin1String("events")).isArray() &&
                        top.value(QLatin1String("factory_config")).isArray() &&
                        top.value(QLatin1String("hostDateTime")).isObject() &&
                        top.value(QLatin1String("records")).isArray();
    if (!shaped) {
        return QStringLiteral(
            "not to a saved document (the four members events, factory_config, hostDateTime and "
            "records)");
    }
    return {};
}

DecryptResult failed(DecryptStatus status, const QString& message) {
    DecryptResult result;
    result.status = status;
    result.message = message;
    return result;
}

// The 8-byte password, or an empty array when the block does not open with this key.
QByteArray decryptPassword(EVP_PKEY* privateKey, const QByteArray& rsaBlock) {
    EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, privateKey, nullptr));
    if (!context || EVP_PKEY_decrypt_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1) {
        return {};
    }
    // Newer libcrypto answers a wrong key with a random "password" (implicit rejection); a
    // local tool has no timing oracle to hide, and needs the plain failure. Older ones ignore
    // the parameter.
    unsigned int implicitRejection = 0;
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_uint("implicit-rejection", &implicitRejection),
        OSSL_PARAM_construct_end()};
    EVP_PKEY_CTX_set_params(context.get(), params);

    const auto* in = reinterpret_cast<const unsigned char*>(rsaBlock.constData());
    size_t length = 0;
    if (EVP_PKEY_decrypt(context.get(), nullptr, &length, in, rsaBlock.size()) != 1) {
        return {};
    }
    QByteArray password(static_cast<int>(length), '\0');
    if (EVP_PKEY_decrypt(context.get(), reinterpret_cast<unsigned char*>(password.data()), &length,
                         in, rsaBlock.size()) != 1 ||
        length != static_cast<size_t>(Format::kPasswordSize)) {
        OPENSSL_cleanse(password.data(), password.size());
        return {};
    }
    password.resize(Format::kPasswordSize);
    return password;
}

// The plaintext, or a null array when the padding of the last block is wrong.
QByteArray aesDecrypt(const QByteArray& password, const Format& parts) {
    unsigned char key[Format::kAesKeySize];
    unsigned char iv[Format::kAesIvSize];
    QByteArray plaintext(parts.cipherText.size(), Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(plaintext.data());
    int updateLength = 0;
    int finalLength = 0;
    EvpCipherCtxPtr context(EVP_CIPHER_CTX_new());
    const bool ok =
        deriveAesKeyAndIv(password, parts.salt, key, iv) && context &&
        EVP_DecryptInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, key, iv) == 1 &&
        EVP_DecryptUpdate(context.get(), out, &updateLength,
                          reinterpret_cast<const unsigned char*>(parts.cipherText.constData()),
                          parts.cipherText.size()) == 1 &&
        EVP_DecryptFinal_ex(context.get(), out + updateLength, &finalLength) == 1;
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(iv, sizeof iv);
    if (!ok) {
        return QByteArray();
    }
    plaintext.resize(updateLength + finalLength);
    return plaintext;
}

}  // namespace

namespace {

struct Passphrase {
    const QByteArray* given;
    bool prompt;
    bool asked = false;
};

// OpenSSL asks only for a protected key.
int PassphraseCallback(char* buffer, int size, int, void* context) {
    auto* pass = static_cast<Passphrase*>(context);
    pass->asked = true;
    if (pass->given) {
        const int n = static_cast<int>(std::min<qsizetype>(pass->given->size(), size));
        std::memcpy(buffer, pass->given->constData(), static_cast<size_t>(n));
        return n;
    }
    return pass->prompt ? PEM_def_callback(buffer, size, 0, nullptr) : -1;
}

}  // namespace

EvpPkeyPtr loadPrivateKey(const QByteArray& pem, QString* failure, const QByteArray* passphrase,
                          bool prompt) {
    ERR_clear_error();
    BioPtr bio(BIO_new_mem_buf(pem.constData(), pem.size()));
    Passphrase pass{passphrase, prompt};
    EvpPkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, PassphraseCallback, &pass)
                       : nullptr);
    if (!key) {
        const QString reason = takeOpenSslError();
        if (pass.asked && !passphrase && !prompt) {
            *failure =
                QStringLiteral("the key is protected by a passphrase; give it with --passin");
        } else if (pass.asked) {
            *failure = "the passphrase does not open it (" + reason + ")";
        } else {
            *failure = "it holds no PEM private key (" + reason + ")";
        }
        return nullptr;
    }
    if (!EVP_PKEY_is_a(key.get(), "RSA")) {
        *failure = QStringLiteral("it is not an RSA key");
        return nullptr;
    }
    return key;
}

DecryptResult decryptDownloadFile(EVP_PKEY* privateKey, const QByteArray& file) {
    ERR_clear_error();
    const int keySize = EVP_PKEY_get_size(privateKey);
    const QString keyBits = QString::number(EVP_PKEY_get_bits(privateKey));
    Format parts;
    switch (Format::parse(file, keySize, &parts)) {
        case Format::ParseResult::ok:
            break;
        case Format::ParseResult::truncated:
            return failed(DecryptStatus::truncated,
                          QStringLiteral("the file is truncated: %1 bytes, fewer than the %2 "
                                         "that a file for a %3-bit key has at least")
                              .arg(file.size())
                              .arg(Format::cipherTextOffset(keySize) + Format::kAesBlockSize)
                              .arg(keyBits));
        case Format::ParseResult::noSaltMagic: {
            const qint64 found = Format::findSaltMagic(file);
            if (found > 0 && found != keySize) {
                return failed(DecryptStatus::wrongKey,
                              QStringLiteral("wrong key: the file was encrypted for a %1-bit "
                                             "key, this key has %2 bits")
                                  .arg(found * 8)
                                  .arg(keyBits));
            }
            return failed(DecryptStatus::corrupt,
                          QStringLiteral("the file is corrupt: \"Salted__\" is missing at "
                                         "offset %1")
                              .arg(keySize));
        }
        case Format::ParseResult::partialBlock:
            return failed(DecryptStatus::truncated,
                          QStringLiteral("the file is truncated or damaged: its encrypted "
                                         "document is not a whole number of %1-byte blocks")
                              .arg(Format::kAesBlockSize));
    }

    QByteArray password = decryptPassword(privateKey, parts.rsaBlock);
    ERR_clear_error();
    if (password.isEmpty()) {
        return failed(DecryptStatus::wrongKey,
                      QStringLiteral("wrong key: the first %1 bytes of the file do not open "
                                     "with this key (or they are damaged)")
                          .arg(keySize));
    }
    DecryptResult result;
    result.document = aesDecrypt(password, parts);
    OPENSSL_cleanse(password.data(), password.size());
    ERR_clear_error();
    if (result.document.isNull()) {
        return failed(DecryptStatus::corrupt,
                      QStringLiteral("the file is corrupt: its last block does not decrypt"));
    }
    // The document is Latin-1 text; its bytes become characters one to one.
    QJsonParseError error;
    const QJsonDocument json =
        QJsonDocument::fromJson(QString::fromLatin1(result.document).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) {
        return failed(DecryptStatus::corrupt,
                      QStringLiteral("the file is corrupt: it decrypts, but not to a JSON "
                                     "document (%1)")
                          .arg(error.errorString()));
    }
    const QString shape = savedShapeProblem(result.document, json);
    if (!shape.isEmpty()) {
        return failed(
            DecryptStatus::corrupt,
            QStringLiteral("the file is corrupt: it decrypts to JSON, but %1").arg(shape));
    }
    result.status = DecryptStatus::decrypted;
    return result;
}
