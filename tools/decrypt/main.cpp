// lumora-decrypt: turns a saved file back into its JSON document with the recipient's private
// key. Messages go to standard error; the document to standard output or to -o.
#include <stdio.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include "export/decrypter.h"
#include "platform/program_version.h"

namespace {

enum ExitCode {
    kExitDecrypted = 0,
    kExitError = 1,  // the key, the file or the output cannot be read or written
    kExitUsage = 2,
    kExitWrongKey = 3,
    kExitDamaged = 4,  // truncated or corrupt
};

const char kUsage[] =
    "Usage: lumora-decrypt --key PRIVATE.pem [--passin SOURCE] FILE [-o OUT]\n"
    "\n"
    "Decrypts FILE, a file saved by Lumora Connector, with the recipient's RSA private key\n"
    "and writes the JSON document to standard output, or to OUT (readable by its owner only).\n"
    "A FILE or OUT of - is standard input or standard output.\n"
    "\n"
    "  -k, --key PRIVATE.pem  the RSA private key (PEM) that belongs to the public key the\n"
    "                         file was saved for\n"
    "      --passin SOURCE    the key's passphrase, when it has one: pass:TEXT, env:VARIABLE,\n"
    "                         file:PATH or fd:NUMBER (the first line); without it the\n"
    "                         passphrase is asked for on the terminal, when there is one\n"
    "  -o, --output OUT       write the document to OUT instead of standard output\n"
    "  -h, --help             show this help\n"
    "      --version          print the program's name and version\n"
    "\n"
    "Exit codes:\n"
    "  0  decrypted\n"
    "  1  the key, FILE or OUT cannot be read or written, or the key is not an RSA private key\n"
    "  2  usage error\n"
    "  3  wrong key: FILE was not saved for this key\n"
    "  4  FILE is truncated or corrupt\n";

int complain(int code, const QString& message) {
    std::fprintf(stderr, "lumora-decrypt: %s\n", qUtf8Printable(message));
    if (code == kExitUsage) {
        std::fputs("Try 'lumora-decrypt --help'.\n", stderr);
    }
    return code;
}

// FILE and OUT of "-" are the standard streams.
const QString kStandardStream = QStringLiteral("-");

bool readWhole(const QString& path, QByteArray* bytes, QString* failure) {
    QFile file(path);
    if (!(path == kStandardStream ? file.open(stdin, QIODevice::ReadOnly)
                                  : file.open(QIODevice::ReadOnly))) {
        *failure = file.errorString();
        return false;
    }
    *bytes = file.readAll();
    return true;
}

// OpenSSL's forms of a passphrase source; the first line of a file or descriptor.
bool readPassphrase(const QString& source, QByteArray* passphrase, QString* failure) {
    const QString kind = source.section(':', 0, 0);
    const QString value = source.section(':', 1);
    if (kind == "pass") {
        *passphrase = value.toLocal8Bit();
        return true;
    }
    if (kind == "env") {
        if (!qEnvironmentVariableIsSet(qPrintable(value))) {
            *failure = "the variable " + value + " is not set";
            return false;
        }
        *passphrase = qgetenv(qPrintable(value));
        return true;
    }
    QFile file;
    bool number = false;
    const int fd = value.toInt(&number);
    if (kind == "file") {
        file.setFileName(value);
        file.open(QIODevice::ReadOnly);
    } else if (kind == "fd" && number && fd >= 0) {
        file.open(fd, QIODevice::ReadOnly);
    } else {
        *failure = "--passin takes pass:TEXT, env:VARIABLE, file:PATH or fd:NUMBER";
        return false;
    }
    if (!file.isOpen()) {
        *failure = "cannot read the passphrase from " + value + ": " + file.errorString();
        return false;
    }
    *passphrase = file.readLine(64 * 1024);
    while (passphrase->endsWith('\n') || passphrase->endsWith('\r')) {
        passphrase->chop(1);
    }
    return true;
}

bool writeDocument(const QString& path, const QByteArray& document, QString* failure) {
    if (path.isEmpty()) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly) || out.write(document) != document.size() ||
            !out.flush()) {
            *failure = out.errorString();
            return false;
        }
        return true;
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        *failure = out.errorString();
        return false;
    }
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (out.write(document) != document.size() || !out.commit()) {
        *failure = out.errorString();
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (PrintVersionIfAsked(argc, argv, "lumora-decrypt")) {
        return kExitDecrypted;
    }
#ifdef _WIN32
    // Saved files and documents are bytes: no line-end translation, no end at a ^Z byte.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption help({"h", "help"}, "");
    const QCommandLineOption keyOption({"k", "key"}, "", "PRIVATE.pem");
    const QCommandLineOption outputOption({"o", "output"}, "", "OUT");
    const QCommandLineOption passinOption("passin", "", "SOURCE");
    parser.addOptions({help, keyOption, outputOption, passinOption});
    if (!parser.parse(app.arguments())) {
        return complain(kExitUsage, parser.errorText());
    }
    if (parser.isSet(help)) {
        std::fputs(kUsage, stdout);
        return kExitDecrypted;
    }
    const QStringList files = parser.positionalArguments();
    if (!parser.isSet(keyOption)) {
        return complain(kExitUsage, "missing --key PRIVATE.pem");
    }
    if (files.size() != 1) {
        return complain(kExitUsage, files.isEmpty() ? "missing FILE" : "more than one FILE");
    }
    const QString keyPath = parser.value(keyOption);
    const QString inputPath = files.first();
    const QString inputName = inputPath == kStandardStream ? "standard input" : inputPath;

    QString failure;
    QByteArray pem;
    if (!readWhole(keyPath, &pem, &failure)) {
        return complain(kExitError, "cannot read the key " + keyPath + ": " + failure);
    }
    QByteArray passphrase;
    if (parser.isSet(passinOption) &&
        !readPassphrase(parser.value(passinOption), &passphrase, &failure)) {
        return complain(parser.value(passinOption).contains(':') ? kExitError : kExitUsage,
                        failure);
    }
    // Asked for only where someone can answer.
    const EvpPkeyPtr key =
        loadPrivateKey(pem, &failure, parser.isSet(passinOption) ? &passphrase : nullptr,
                       isatty(fileno(stdin)) != 0);
    if (!key) {
        return complain(kExitError, "cannot use the key " + keyPath + ": " + failure);
    }
    QByteArray input;
    if (!readWhole(inputPath, &input, &failure)) {
        return complain(kExitError, "cannot read " + inputName + ": " + failure);
    }

    const DecryptResult result = decryptDownloadFile(key.get(), input);
    switch (result.status) {
        case DecryptStatus::decrypted:
            break;
        case DecryptStatus::wrongKey:
            return complain(kExitWrongKey, inputName + ": " + result.message);
        case DecryptStatus::truncated:
        case DecryptStatus::corrupt:
            return complain(kExitDamaged, inputName + ": " + result.message);
    }
    const QString outputPath =
        parser.value(outputOption) == kStandardStream ? QString() : parser.value(outputOption);
    if (!writeDocument(outputPath, result.document, &failure)) {
        return complain(kExitError, "cannot write " +
                                        (outputPath.isEmpty() ? "standard output" : outputPath) +
                                        ": " + failure);
    }
    return kExitDecrypted;
}
