#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/debug_log.h"
#include "tests/hid/temp_dir.h"

namespace {

TEST(DebugLogPrefix, TakesBaseNameWithoutExtensionWhenItFits) {
    const struct {
        const char* path;
        char separator;
        size_t size;
        const char* prefix;  // null: no prefix can be built
    } cases[] = {
        {"C:\\Program Files\\Lumora\\Connector.exe", '\\', 64, "Connector: "},
        {"/usr/bin/lumora-download", '/', 64, "lumora-download: "},
        {"/opt/lumora/reader.sim.bin", '/', 64, "reader.sim: "},
        {"/opt/lumora.d/plain", '/', 64, "plain: "},
        {"/bin/abcde", '/', 8, "abcde: "},
        {"/bin/abcdef", '/', 8, nullptr},
        {"Connector.exe", '\\', 64, nullptr},
        {"/usr/bin/tool", '\\', 64, nullptr},
        {"", '/', 64, nullptr},
    };
    for (const auto& c : cases) {
        char out[64] = "untouched";
        EXPECT_EQ(DebugLogPrefixFromPath(c.path, c.separator, out, c.size), c.prefix != nullptr)
            << c.path;
        EXPECT_STREQ(out, c.prefix ? c.prefix : "untouched") << c.path;
    }
}

// The probe logs numbered lines from several threads, then one message longer than the log's
// buffer, without a line end.
TEST(DebugLogOutput, LinesFromManyThreadsStayWholeAndLongMessageIsCut) {
    const int kThreads = 8;
    const int kMessages = 200;
    const TempDir folder;
    const std::string path = folder / "debug.log";
    ASSERT_EQ(
        TestRunProgram(LUMORA_LOG_PROBE, {std::to_string(kThreads), std::to_string(kMessages)},
                       "LUMORA_DEBUG_LOG", path),
        0);
    std::ifstream file(path, std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(file)), {});
    const std::string longLine = "log_probe: " + std::string(8191, 'x');
    ASSERT_GE(log.size(), longLine.size());
    EXPECT_EQ(log.substr(log.size() - longLine.size()), longLine);

    std::istringstream lines(log.substr(0, log.size() - longLine.size()));
    std::map<int, int> nextMessage;
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        int thread = -1;
        int message = -1;
        char tail[64] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "log_probe: thread %d message %d %63s", &thread,
                              &message, tail),
                  3)
            << line;
        EXPECT_EQ(std::string(tail), std::string(36, '.')) << line;
        EXPECT_EQ(message, nextMessage[thread]++) << "out of order: " << line;
    }
    EXPECT_EQ(count, kThreads * kMessages);
}

}  // namespace
