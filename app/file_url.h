// File URLs for the drag-out's "text/uri-list": file:///home/... on Linux, file:///C:/... on
// Windows, whatever separators the path uses.
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QString>

enum class PathStyle {
    native,   // the platform's own
    posix,    // "/" separates; a backslash is an ordinary character
    windows,  // "\" and "/" separate; a drive letter or a \\server\share prefix starts the path
};

// The percent-encoded file URL of the absolute path, or an empty string when path is not
// absolute in that style (a URL cannot name a relative file). Any thread.
QString localFileUrl(const QString& path, PathStyle style = PathStyle::native);

// The window's way to localFileUrl: the QML singleton FileUrl of "com.norvane.qml.fileurl".
// GUI thread.
class FileUrl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    Q_INVOKABLE QString fromLocalPath(const QString& path) const { return localFileUrl(path); }
    // The path as the platform writes it, for people to read and copy (backslashes on Windows).
    Q_INVOKABLE QString shownPath(const QString& path) const {
        return QDir::toNativeSeparators(path);
    }
    // The URL of the folder that holds the file at path.
    Q_INVOKABLE QString folderOf(const QString& path) const {
        return localFileUrl(QFileInfo(path).absolutePath());
    }
};
