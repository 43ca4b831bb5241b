#include "app/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>
#include <vector>

namespace {

// The installed translators; GUI thread only, kept until replaced or the program ends.
std::vector<std::unique_ptr<QTranslator>>& installed() {
    static std::vector<std::unique_ptr<QTranslator>> translators;
    return translators;
}

void install(const QString& file, const QString& folder) {
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(file, folder) && QCoreApplication::installTranslator(translator.get())) {
        installed().push_back(std::move(translator));
    }
}

}  // namespace

QStringList translationFolders() {
    const QString program = QCoreApplication::applicationDirPath();
    return {program + QStringLiteral("/translations"),
            program + QStringLiteral("/../share/lumora-connector/translations"),
            program + QStringLiteral("/../translations")};
}

QString installTranslators(const QStringList& languages, const QStringList& folders) {
    for (const auto& translator : installed()) {
        QCoreApplication::removeTranslator(translator.get());
    }
    installed().clear();
    for (const QString& name : languages) {
        // "de-CH" and "de_DE" both take the German texts.
        const QString language = QLocale(name).name().section(QLatin1Char('_'), 0, 0);
        if (language == QLatin1String("en")) {
            return {};
        }
        const QString ours = QStringLiteral("lumora-connector_") + language;
        for (const QString& folder : folders) {
            if (!QFileInfo::exists(QDir(folder).filePath(ours + QStringLiteral(".qm")))) {
                continue;
            }
            install(ours, folder);
            // Qt's own texts come from its translations folder; the Windows installer puts them
            // beside ours.
            const QString qt = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
            for (const char* module : {"qtbase_", "qtdeclarative_", "qtquickcontrols2_"}) {
                const QString file = QLatin1String(module) + language;
                install(file, QFileInfo::exists(QDir(qt).filePath(file + ".qm")) ? qt : folder);
            }
            return language;
        }
    }
    return {};
}
