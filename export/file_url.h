// File URLs for the drag-out's "text/uri-list": file:///home/... on Linux, file:///C:/... on
// Windows, whatever separators the path uses.
#pragma once

#include <QString>

enum class PathStyle {
    native,   // the platform's own
    posix,    // "/" separates; a backslash is an ordinary character
    windows,  // "\" and "/" separate; a drive letter or a \\server\share prefix starts the path
};

// The percent-encoded file URL of the absolute path, or an empty string when path is not
// absolute in that style (a URL cannot name a relative file). Any thread.
QString localFileUrl(const QString& path, PathStyle style = PathStyle::native);
