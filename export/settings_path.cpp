#include "export/settings_path.h"

#include <QDir>
#include <QSettings>
#include <QStringList>

QString applySettingsPathFromEnvironment() {
    const QStringList entries =
        qEnvironmentVariable("XDG_CONFIG_DIRS").split(QDir::listSeparator());
    for (const QString& entry : entries) {
        if (!entry.isEmpty() && QDir::isAbsolutePath(entry)) {
            QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, entry);
            return entry;
        }
    }
    return {};
}
