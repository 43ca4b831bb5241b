#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/debug_log.h"
#include "tests/hid/temp_dir.h"

namespace {

TEST(DebugLogPrefix, TakesBaseNameWithoutExtension) {
    struct Case {
        const char* path;
        char separator;
        const char* prefix;  // null: no prefix can be built
    };
    const Case cases[] = {
        {"C:\\Program Files\\Lumora\\Connector.exe", '\\', "Connector: "},
        {"/usr/bin/lumora-download", '/', "lumora-download: "},
        {"/opt/lumora/reader.sim.bin", '/', "reader.sim: "},
        {"/opt/lumora.d/plain", '/', "plain: "},
        {"Connector.exe", '\\', nullptr},
        {"/usr/bin/tool", '\\', nullptr},
        {"", '/', nullptr},
    };
    for (const Case& c : cases) {
        char out[64] = "untouched";
        const bool built = DebugLogPrefixFromPath(c.path, c.separator, out, sizeof out);
        EXPECT_EQ(built, c.prefix != nullptr) << c.path;
        EXPECT_STREQ(out, c.prefix ? c.prefix : "untouched") << c.path;
    }
}

TEST(DebugLogPrefix, RefusesPrefixThatDoesNotFit) {
    char out[8];
    EXPECT_FALSE(DebugLogPrefixFromPath("/bin/averylongname", '/', out, sizeof out));
    EXPECT_TRUE(DebugLogPrefixFromPath("/bin/abcde", '/', out, sizeof out));
    EXPECT_STREQ(out, "abcde: ");
}

std::string runProbe(int threads, int messages) {
    const TempDir folder;
    const std::string path = folder / "debug.log";
    EXPECT_EQ(TestRunProgram(LUMORA_LOG_PROBE, {std::to_string(threads), std::to_string(messages)},
                             "LUMORA_DEBUG_LOG", path),
              0);
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

TEST(DebugLogOutput, LinesFromManyThreadsStayWholeAndLongMessageIsCut) {
    const int kThreads = 8;
    const int kMessages = 200;
    const std::string log = runProbe(kThreads, kMessages);

    const std::string prefix = "log_probe: ";
    const std::string longLine = prefix + std::string(8191, 'x');
    ASSERT_GE(log.size(), longLine.size());
    EXPECT_EQ(log.substr(log.size() - longLine.size()), longLine);

    std::istringstream lines(log.substr(0, log.size() - longLine.size()));
    std::map<int, int> nextMessage;
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        int thread = -1;
        int message = -1;
        char tail[64] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "log_probe: thread %d message %d %63s", &thread,
                              &message, tail),
                  3)
            << line;
        EXPECT_EQ(std::string(tail), std::string(36, '.')) << line;
        EXPECT_EQ(message, nextMessage[thread]++) << "out of order: " << line;
        ++count;
    }
    EXPECT_EQ(count, kThreads * kMessages);
}

}  // namespace
