#include "export/file_url.h"

#include <QDir>
#include <QUrl>

namespace {

bool startsWithDrive(const QString& path) {
    return path.size() >= 3 && path[0].isLetter() && path[0].unicode() < 0x80 &&
           path[1] == QLatin1Char(':') && path[2] == QLatin1Char('/');
}

}  // namespace

QString localFileUrl(const QString& path, PathStyle style) {
    if (style == PathStyle::native) {
        style = QDir::separator() == QLatin1Char('\\') ? PathStyle::windows : PathStyle::posix;
    }
    QString host;
    QString urlPath = path;
    if (style == PathStyle::windows) {
        urlPath.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (urlPath.startsWith(QLatin1String("//"))) {
            // A share: the server becomes the URL's host.
            const int slash = urlPath.indexOf(QLatin1Char('/'), 2);
            host = urlPath.mid(2, slash < 0 ? -1 : slash - 2);
            urlPath = slash < 0 ? QStringLiteral("/") : urlPath.mid(slash);
            if (host.isEmpty()) {
                return {};
            }
        } else if (startsWithDrive(urlPath)) {
            urlPath.prepend(QLatin1Char('/'));
        } else {
            return {};
        }
    } else if (!urlPath.startsWith(QLatin1Char('/'))) {
        return {};
    }
    QUrl url;
    url.setScheme(QStringLiteral("file"));
    url.setHost(host);
    url.setPath(urlPath, QUrl::DecodedMode);
    return url.toString(QUrl::FullyEncoded);
}
