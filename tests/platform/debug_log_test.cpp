#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/debug_log.h"
#include "platform/os.h"
#include "tests/support/log_file.h"

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
        {"", '/', 64, nullptr},
    };
    for (const auto& c : cases) {
        char out[64] = "untouched";
        EXPECT_EQ(DebugLogPrefixFromPath(c.path, c.separator, out, c.size), c.prefix != nullptr)
            << c.path;
        EXPECT_STREQ(out, c.prefix ? c.prefix : "untouched") << c.path;
    }
}

constexpr int kThreads = 8;
constexpr int kMessages = 200;

void logLines(void* thread) {
    for (int i = 0; i < kMessages; ++i) {
        DebugLog("thread %d message %d %s\n", int(reinterpret_cast<intptr_t>(thread)), i,
                 "....................................");
    }
}

TEST(DebugLogOutput, LinesFromManyThreadsStayWholeAndLongMessageIsCut) {
    std::ofstream(LogFile::path(), std::ios::trunc);  // messages still go to the file's end
    std::vector<OsHandle> threads;
    for (intptr_t t = 0; t < kThreads; ++t) {
        threads.push_back(OsCreateThread("log-lines", logLines, reinterpret_cast<void*>(t)));
    }
    for (OsHandle thread : threads) {
        ASSERT_EQ(OsWait(thread, 30000), kWaitSignalled);
        OsCloseHandle(thread);
    }
    DebugLog("%s", std::string(10000, 'x').c_str());
    std::ifstream file(LogFile::path(), std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(file)), {});
    // The program's name without its extension, then the message cut to the log's buffer.
    const std::string longLine = "lumora_platform_tests: " + std::string(8191, 'x');
    ASSERT_GE(log.size(), longLine.size());
    EXPECT_EQ(log.substr(log.size() - longLine.size()), longLine);

    std::istringstream lines(log.substr(0, log.size() - longLine.size()));
    std::map<int, int> nextMessage;
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        int thread = -1;
        int message = -1;
        char tail[64] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "lumora_platform_tests: thread %d message %d %63s",
                              &thread, &message, tail),
                  3)
            << line;
        EXPECT_EQ(std::string(tail), std::string(36, '.')) << line;
        EXPECT_EQ(message, nextMessage[thread]++) << "out of order: " << line;
    }
    EXPECT_EQ(count, kThreads * kMessages);
}

}  // namespace
