// The saved file's layout and randomness, and that the openssl command reads it back.
#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <QProcess>
#include <QRegularExpression>

#include "export/cipher.h"
#include "export/encrypted_file_format.h"
#include "export_test_support.h"

namespace {

QByteArray rsaEncrypt(EVP_PKEY* key, const QByteArray& in) {
    EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    QByteArray out(EVP_PKEY_get_size(key), '\0');
    size_t length = out.size();
    EXPECT_TRUE(EVP_PKEY_encrypt_init(context.get()) == 1 &&
                EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1 &&
                EVP_PKEY_encrypt(context.get(), reinterpret_cast<unsigned char*>(out.data()),
                                 &length, reinterpret_cast<const unsigned char*>(in.data()),
                                 in.size()) == 1);
    return out;
}

// The README's openssl recipe exactly as printed: the indented block that runs pkeyutl.
QString readmeOpensslRecipe() {
    const QString readme = QString::fromUtf8(readBytes(LUMORA_SOURCE_DIR "/README.md"));
    const QString section = readme.section("## Decrypting a saved file", 1).section("\n## ", 0, 0);
    const QRegularExpression::PatternOption lines = QRegularExpression::MultilineOption;
    for (const QString& block : section.split("\n\n")) {
        if (block.contains("openssl pkeyutl") &&
            !block.contains(QRegularExpression("^ {0,3}\\S", lines))) {
            return QString(block).remove(QRegularExpression("^ {4}", lines));
        }
    }
    return {};
}

TEST(CipherTest, FileLayoutForPlaintextSizesWith2048BitKey) {
    const struct {
        int plaintextSize;
        int cipherTextSize;
    } cases[] = {{0, 16}, {15, 16}, {16, 32}, {1000, 1008}};
    Cipher cipher;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plaintextSize);
        const QByteArray plaintext(c.plaintextSize, 'x');
        const QByteArray file = cipher.encrypt(testKey(2048).key.get(), plaintext);
        EXPECT_EQ(file.size(), 256 + 16 + c.cipherTextSize);
        EXPECT_EQ(file.mid(256, 8), "Salted__");
        EXPECT_EQ(cipher.aesEncrypt("password", plaintext).size(), 16 + c.cipherTextSize);
    }
}

TEST(CipherTest, TwoSavesOfOneDocumentDifferInEveryPart) {
    Cipher cipher;
    const QByteArray first = cipher.encrypt(testKey(2048).key.get(), "{}");
    const QByteArray second = cipher.encrypt(testKey(2048).key.get(), "{}");
    EXPECT_NE(first.left(256), second.left(256));        // password and RSA padding
    EXPECT_NE(first.mid(264, 8), second.mid(264, 8));    // salt
    EXPECT_NE(first.mid(272, 16), second.mid(272, 16));  // ciphertext
}

TEST(CipherTest, OpensslCommandDecryptsSavedFileWithTheReadmeRecipe) {
    const QString recipe = readmeOpensslRecipe();
    ASSERT_FALSE(recipe.isEmpty()) << "README.md lost its openssl recipe";
    const TestKey& key = testKey(2048);
    Cipher cipher;
    const QByteArray document = "{\"records\":[{\"10\":\"caf\xe9\",\"90\":\"S1\\r\\n\"}]}";
    // The bytes that `openssl enc -pass` cannot take: zero, line feed, carriage return.
    const QByteArray awkwardPassword("\0\n\r\0A\xff\n\x01", 8);
    for (const QByteArray& file :
         {cipher.encrypt(key.key.get(), document),
          EncryptedDownloadFile::join(rsaEncrypt(key.key.get(), awkwardPassword),
                                      cipher.aesEncrypt(awkwardPassword, document))}) {
        QTemporaryDir work;
        QFile::copy(key.privatePem(), work.filePath("private.pem"));
        writeBytes(work.filePath("S1_2026-12-05T081530.123Z_data.json"), file);
        QProcess shell;
        shell.setWorkingDirectory(work.path());
        shell.start("bash", {"-euo", "pipefail", "-c", recipe});
        ASSERT_TRUE(shell.waitForFinished(30000));
        EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
        EXPECT_EQ(readBytes(work.filePath("document.json")), document);
    }
}

}  // namespace
