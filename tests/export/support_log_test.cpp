// The lines that start each log file: what support reads before anything else.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <iterator>

#include "export/support_log.h"

TEST(SupportLog, HeaderNamesProgramVersionOsLibrariesAndLocalTime) {
    const QStringList lines = supportLogHeader("lumora-download").split('\n');
    const char* const patterns[] = {
        R"(lumora-download \d+\.\d+\.\d+)",
        R"(OS: .+, \S+ \S+)",
        R"(Qt 5\.\d+\.\d+, OpenSSL 3\.\d+\.\d+.*)",
        R"(Started \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d))",
        "",
    };
    ASSERT_EQ(size_t(lines.size()), std::size(patterns)) << qPrintable(lines.join('\n'));
    for (size_t i = 0; i < std::size(patterns); ++i) {
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(patterns[i]));
        EXPECT_TRUE(pattern.match(lines[int(i)]).hasMatch()) << qPrintable(lines[int(i)]);
    }
}
