#include "export/settings_path.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

QString applySettingsPathFromEnvironment() {
    const QStringList entries =
        qEnvironmentVariable("XDG_CONFIG_DIRS").split(QDir::listSeparator());
    QString chosen;
    for (const QString& entry : entries) {
        if (entry.isEmpty() || !QDir::isAbsolutePath(entry)) {
            continue;
        }
        if (chosen.isEmpty()) {
            chosen = entry;  // holding none, the defaults apply as from a missing file here
        }
        if (QFileInfo::exists(
                QDir(entry).filePath(QStringLiteral("LumoraConnector/Configuration.ini")))) {
            chosen = entry;
            break;
        }
    }
    if (!chosen.isEmpty()) {
        QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, chosen);
    }
    return chosen;
}
