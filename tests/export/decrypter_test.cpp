// Reading saved files back: wrong keys and damaged files are told apart, and lumora-decrypt
// keeps its documented exit codes.
#include <gtest/gtest.h>

#include <QProcess>

#include "export/cipher.h"
#include "export/decrypter.h"
#include "export_test_support.h"

namespace {

const QByteArray kDocument =
    R"({"events":[],"factory_config":[],"hostDateTime":{},"records":[{"90":"S1\r\n"}]})";

QByteArray savedFile(const QByteArray& document = kDocument) {
    return Cipher().encrypt(testKey(2048).key.get(), document);  // 256 + 16 + 80 bytes
}

TEST(DecryptTest, TellsWrongKeysAndDamagedFilesApart) {
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
        {"intact", file, testKey(2048), DecryptStatus::decrypted, ""},
        {"another key", file, testKey(2048, 1), DecryptStatus::wrongKey, "do not open"},
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
    const QString truncated = dir.filePath("truncated.json");
    const QString out = dir.filePath("out.json");
    writeBytes(saved, savedFile());
    writeBytes(truncated, savedFile().left(300));
    const QString key = testKey(2048).privatePem();
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
        {{"--key", key, truncated}, 4, "truncated"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qPrintable(c.arguments.join(' ')));
        QProcess tool;
        tool.setWorkingDirectory(dir.path());
        tool.start(LUMORA_DECRYPT_PROGRAM, c.arguments);
        tool.write(c.input);
        tool.closeWriteChannel();
        ASSERT_TRUE(tool.waitForFinished(30000));
        EXPECT_EQ(tool.exitCode(), c.exitCode);
        EXPECT_TRUE((c.exitCode == 0 ? tool.readAllStandardOutput() : tool.readAllStandardError())
                        .contains(c.output));
    }
    EXPECT_EQ(readBytes(out), kDocument);
    EXPECT_TRUE(ownerOnly(out));
    EXPECT_FALSE(QFile::exists(dir.filePath("-"))) << "-o - is standard output, not a file";
}

}  // namespace
