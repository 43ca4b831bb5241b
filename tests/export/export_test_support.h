// Keys and files for the export tests.
#pragma once

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <sys/stat.h>

#include <map>
#include <ostream>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "export/openssl_util.h"

// Failures show texts, not arrays of code units.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// The smallest document a download saves.
inline const QByteArray kDocument =
    R"({"events":[],"factory_config":[],"hostDateTime":{},"records":[{"90":"S1\r\n"}]})";

// An RSA key and its two PEM files, made once per size and index in a process.
struct TestKey {
    EvpPkeyPtr key;
    QTemporaryDir dir;
    QString publicPem() const { return dir.filePath("public.pem"); }
    QString privatePem() const { return dir.filePath("private.pem"); }
};

inline const TestKey& testKey(int bits, int index = 0) {
    static std::map<std::pair<int, int>, TestKey> keys;
    TestKey& entry = keys[{bits, index}];
    if (!entry.key) {
        entry.key.reset(EVP_RSA_gen(bits));
        BioPtr pub(BIO_new_file(entry.publicPem().toUtf8().constData(), "w"));
        BioPtr priv(BIO_new_file(entry.privatePem().toUtf8().constData(), "w"));
        EXPECT_TRUE(PEM_write_bio_PUBKEY(pub.get(), entry.key.get()) &&
                    PEM_write_bio_PrivateKey(priv.get(), entry.key.get(), nullptr, nullptr, 0,
                                             nullptr, nullptr));
    }
    return entry;
}

inline QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
        << qPrintable(path);
}

// Mode bits are POSIX's: a Windows file takes its folder's access list, so only its existence is
// checked there.
inline bool ownerOnly(const QString& path) {
#ifdef _WIN32
    return QFileInfo::exists(path);
#else
    struct stat status {};
    return stat(path.toUtf8().constData(), &status) == 0 && (status.st_mode & 0777) == 0600;
#endif
}
