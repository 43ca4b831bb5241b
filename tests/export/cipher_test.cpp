// The saved file both ways, against the format's rules written out here with libcrypto and Qt's
// SHA-1 alone; wrong keys and damaged files told apart; lumora-decrypt's exit codes.
#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <QCryptographicHash>
#include <QProcess>
#include <QRegularExpression>

#include "export/cipher.h"
#include "export/decrypter.h"
#include "export_test_support.h"

namespace {

// The bytes that `openssl enc -pass` cannot take: zero, line feed, carriage return.
const QByteArray kAwkwardPassword("\0\n\r\0A\xff\n\x01", 8);

const unsigned char* bytes(const QByteArray& data) {
    return reinterpret_cast<const unsigned char*>(data.constData());
}

// PKCS #1 v1.5, as the key block is sealed.
QByteArray rsa(bool encrypt, EVP_PKEY* key, const QByteArray& in) {
    EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    QByteArray out(EVP_PKEY_get_size(key), '\0');
    size_t length = out.size();
    const bool ok = (encrypt ? EVP_PKEY_encrypt_init : EVP_PKEY_decrypt_init)(context.get()) == 1 &&
                    EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1 &&
                    (encrypt ? EVP_PKEY_encrypt : EVP_PKEY_decrypt)(
                        context.get(), reinterpret_cast<unsigned char*>(out.data()), &length,
                        bytes(in), in.size()) == 1;
    return ok ? out.left(int(length)) : QByteArray();
}

// AES-256-CBC, key and IV the first 48 bytes of D1 D2 D3: D1 = SHA-1(password salt),
// Dn = SHA-1(Dn-1 password salt).
QByteArray aes(bool encrypt, const QByteArray& password, const QByteArray& salt,
               const QByteArray& in) {
    QByteArray d;
    QByteArray keyAndIv;
    while (keyAndIv.size() < 48) {
        d = QCryptographicHash::hash(d + password + salt, QCryptographicHash::Sha1);
        keyAndIv += d;
    }
    EvpCipherCtxPtr context(EVP_CIPHER_CTX_new());
    QByteArray out(in.size() + 16, '\0');
    auto* to = reinterpret_cast<unsigned char*>(out.data());
    int length = 0;
    int last = 0;
    const bool ok = EVP_CipherInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, bytes(keyAndIv),
                                      bytes(keyAndIv) + 32, encrypt) == 1 &&
                    EVP_CipherUpdate(context.get(), to, &length, bytes(in), in.size()) == 1 &&
                    EVP_CipherFinal_ex(context.get(), to + length, &last) == 1;
    return ok ? out.left(length + last) : QByteArray();
}

QByteArray makeByTheRules(EVP_PKEY* key, const QByteArray& password, const QByteArray& document) {
    const QByteArray salt = "\x01\x02saltyy";
    return rsa(true, key, password) + "Salted__" + salt + aes(true, password, salt, document);
}
QByteArray openByTheRules(EVP_PKEY* key, const QByteArray& file) {
    const int k = EVP_PKEY_get_size(key);
    EXPECT_EQ(file.mid(k, 8), "Salted__");
    return aes(false, rsa(false, key, file.left(k)), file.mid(k + 8, 8), file.mid(k + 16));
}

TEST(CipherTest, SavedFileOpensByTheFormatsRules) {
    const TestKey& key = testKey(2048);
    Cipher cipher;
    for (const QByteArray& document :
         {QByteArray(), QByteArray(15, 'x'), QByteArray(16, 'x'), QByteArray(1000, 'x'),
          QByteArray("{\"records\":[{\"10\":\"caf\xe9\",\"90\":\"S1\\r\\n\"}]}")}) {
        SCOPED_TRACE(document.size());
        const QByteArray file = cipher.encrypt(key.key.get(), document);
        // PKCS #7 always pads: a whole block follows a document of whole blocks.
        EXPECT_EQ(file.size(), 256 + 16 + 16 * (document.size() / 16 + 1));
        EXPECT_EQ(openByTheRules(key.key.get(), file), document);
        // A fresh salt, and so a fresh ciphertext, each time.
        const QByteArray again = cipher.encrypt(key.key.get(), document);
        EXPECT_NE(again.mid(264, 8), file.mid(264, 8));
        EXPECT_NE(again.mid(272), file.mid(272));
    }
}

// The README's openssl recipe exactly as printed: the indented block that runs pkeyutl.
TEST(CipherTest, OpensslCommandDecryptsAFileWithTheReadmeRecipe) {
    const QString readme = QString::fromUtf8(readBytes(LUMORA_SOURCE_DIR "/README.md"));
    const QString section = readme.section("## Decrypting a saved file", 1).section("\n## ", 0, 0);
    const QRegularExpression::PatternOption lines = QRegularExpression::MultilineOption;
    QString recipe;
    for (const QString& block : section.split("\n\n")) {
        if (block.contains("openssl pkeyutl") &&
            !block.contains(QRegularExpression("^ {0,3}\\S", lines))) {
            recipe = QString(block).remove(QRegularExpression("^ {4}", lines));
        }
    }
    ASSERT_FALSE(recipe.isEmpty()) << "README.md lost its openssl recipe";
#ifdef _WIN32
    GTEST_SKIP() << "the recipe is for bash and the openssl command";
#endif
    const TestKey& key = testKey(2048);
    QTemporaryDir work;
    QFile::copy(key.privatePem(), work.filePath("private.pem"));
    writeBytes(work.filePath("S1_2026-12-05T081530.123Z_data.json"),
               makeByTheRules(key.key.get(), kAwkwardPassword, kDocument));
    QProcess shell;
    shell.setWorkingDirectory(work.path());
    shell.start("bash", {"-euo", "pipefail", "-c", recipe});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    EXPECT_EQ(readBytes(work.filePath("document.json")), kDocument);
}

QByteArray savedFile(const QByteArray& document = kDocument) {
    return Cipher().encrypt(testKey(2048).key.get(), document);  // 256 + 16 + 80 bytes
}

TEST(DecryptTest, OpensFilesMadeByTheRulesAndTellsWrongKeysAndDamagedFilesApart) {
    const QByteArray file = savedFile();
    auto flipped = [&](int offset) {
        QByteArray copy = file;
        copy[offset] = static_cast<char>(copy[offset] ^ 1);
        return copy;
    };
    const struct {
        const char* name;
        QByteArray file;
        const TestKey& key;
        DecryptStatus status;
        const char* message;
    } cases[] = {
        {"made by the rules", makeByTheRules(testKey(2048).key.get(), kAwkwardPassword, kDocument),
         testKey(2048), DecryptStatus::decrypted, ""},
        {"smaller key", file, testKey(1024), DecryptStatus::wrongKey, "for a 2048-bit key"},
        {"key block only", file.left(256), testKey(2048), DecryptStatus::truncated, "truncated"},
        {"cut in a block", file.chopped(1), testKey(2048), DecryptStatus::truncated, "whole"},
        {"last block gone", file.chopped(16), testKey(2048), DecryptStatus::corrupt, "last block"},
        {"magic damaged", flipped(258), testKey(2048), DecryptStatus::corrupt, "Salted__"},
        {"first block damaged", flipped(272), testKey(2048), DecryptStatus::corrupt, "JSON"},
        // The format has no checksum: damage can still decrypt to JSON, but not to this shape.
        {"member swallowed",
         savedFile(R"({"events":[],"factory_config":"],\"hostDateTime\":{},)"
                   R"(\"records\":[{\"90\":\"S1\"}]"})"),
         testKey(2048), DecryptStatus::corrupt, "four members"},
        {"raw control character",
         savedFile(R"({"events":[],"factory_config":[],"hostDateTime":{},"records":[{"9)"
                   "\x01"
                   R"(0":"S1"}]})"),
         testKey(2048), DecryptStatus::corrupt, "control character"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DecryptResult result = decryptDownloadFile(c.key.key.get(), c.file);
        EXPECT_EQ(result.status, c.status);
        EXPECT_TRUE(result.message.contains(c.message)) << result.message.toStdString();
        EXPECT_EQ(result.document, c.status == DecryptStatus::decrypted ? kDocument : "");
    }
}

TEST(DecryptToolTest, ExitCodesAndOutput) {
    QTemporaryDir dir;
    const QString saved = dir.filePath("saved.json");
    const QString out = dir.filePath("out.json");
    writeBytes(saved, savedFile());
    const QString key = testKey(2048).privatePem();
    // The same key behind a passphrase, which used to be asked for with no terminal to answer.
    const QString locked = dir.filePath("locked.pem");
    ASSERT_TRUE(PEM_write_bio_PrivateKey(BioPtr(BIO_new_file(qPrintable(locked), "w")).get(),
                                         testKey(2048).key.get(), EVP_aes_256_cbc(), nullptr, 0,
                                         nullptr, const_cast<char*>("s3cret")));
    writeBytes(dir.filePath("pass.txt"), "s3cret\nrest\n");
    qputenv("LUMORA_TEST_PASS", "s3cret");
    const struct {
        QStringList arguments;
        int exitCode;
        const char* output;     // standard output for 0, standard error otherwise
        QByteArray input = {};  // standard input
    } cases[] = {
        {{"--help"}, 0, "Exit codes:"},
        {{"-k", key, saved, "-o", out}, 0, ""},
        {{"-k", key, "-"}, 0, kDocument.constData(), savedFile()},
        {{"-k", key, saved, "-o", "-"}, 0, kDocument.constData()},
        {{"-k", key, "-"}, 4, "standard input: the file is truncated", savedFile().left(300)},
        {{saved}, 2, "missing --key"},
        {{"--key", key, dir.filePath("none")}, 1, "cannot read"},
        {{"--key", testKey(2048, 1).privatePem(), saved}, 3, "wrong key"},
        {{"-k", locked, saved}, 1, "the key is protected by a passphrase; give it with --passin"},
        {{"-k", locked, "--passin", "pass:s3cret", saved}, 0, kDocument.constData()},
        {{"-k", locked, "--passin", "env:LUMORA_TEST_PASS", saved}, 0, kDocument.constData()},
        {{"-k", locked, "--passin", "file:pass.txt", saved}, 0, kDocument.constData()},
        {{"-k", locked, "--passin", "fd:0", saved}, 0, kDocument.constData(), "s3cret\n"},
        {{"-k", locked, "--passin", "pass:wrong", saved}, 1, "the passphrase does not open it"},
        {{"-k", locked, "--passin", "s3cret", saved}, 2, "--passin takes pass:TEXT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qPrintable(c.arguments.join(' ')));
        QProcess tool;
        tool.setWorkingDirectory(dir.path());
        tool.start(LUMORA_DECRYPT_PROGRAM, c.arguments);
        tool.write(c.input);
        tool.closeWriteChannel();
        ASSERT_TRUE(tool.waitForFinished(60000));
        EXPECT_EQ(tool.exitCode(), c.exitCode);
        EXPECT_TRUE((c.exitCode == 0 ? tool.readAllStandardOutput() : tool.readAllStandardError())
                        .contains(c.output));
    }
    EXPECT_EQ(readBytes(out), kDocument);
    EXPECT_TRUE(ownerOnly(out));
    EXPECT_FALSE(QFile::exists(dir.filePath("-"))) << "-o - is standard output, not a file";
}

}  // namespace
