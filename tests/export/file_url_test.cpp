// The drag-out URL of a saved file on both kinds of path.
#include <gtest/gtest.h>

#include "export/file_url.h"

namespace {

TEST(FileUrl, NamesAbsolutePathsOfBothPlatforms) {
    const struct {
        const char* path;
        PathStyle style;
        const char* url;
    } cases[] = {
        {"/home/ana/data/S1/S1_2026-12-05T081530.123Z_data.json", PathStyle::posix,
         "file:///home/ana/data/S1/S1_2026-12-05T081530.123Z_data.json"},
        {"/srv/lumora data/S#1/a?b%c.json", PathStyle::posix,
         "file:///srv/lumora%20data/S%231/a%3Fb%25c.json"},
        {"/tmp/caf\u00e9", PathStyle::posix, "file:///tmp/caf%C3%A9"},
        // A backslash is an ordinary file name character there.
        {"/tmp/a\\b", PathStyle::posix, "file:///tmp/a%5Cb"},
        // What FileUtil gives on Windows: forward slashes, then the native separator.
        {"C:/ProgramData/Lumora/data/S1\\S1_2026-12-05T081530.123Z_data.json", PathStyle::windows,
         "file:///C:/ProgramData/Lumora/data/S1/S1_2026-12-05T081530.123Z_data.json"},
        {"D:\\Users\\Ana B\\S1.json", PathStyle::windows, "file:///D:/Users/Ana%20B/S1.json"},
        {"\\\\clinic-nas\\share\\S1.json", PathStyle::windows, "file://clinic-nas/share/S1.json"},
        // A URL cannot name a relative file.
        {"data/S1.json", PathStyle::posix, ""},
        {"", PathStyle::posix, ""},
        {"S1\\S1.json", PathStyle::windows, ""},
        {"/S1.json", PathStyle::windows, ""},
        {"\\\\\\share", PathStyle::windows, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(localFileUrl(QString::fromUtf8(c.path), c.style).toStdString(), c.url) << c.path;
    }
}

}  // namespace
