#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/debug_log.h"
#include "platform/log_sink.h"
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

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
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
    const std::string log = readFile(LogFile::path());
    // The program's name without its extension, then the message cut to the log's buffer.
    const std::string longLine = " lumora_platform_tests: " + std::string(8191, 'x') + "\n";
    ASSERT_GE(log.size(), longLine.size());
    EXPECT_EQ(log.substr(log.size() - longLine.size()), longLine);

    std::istringstream lines(log.substr(0, log.size() - longLine.size() - 24));  // its stamp
    std::map<int, int> nextMessage;
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        int thread = -1;
        int message = -1;
        char tail[64] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "%*s lumora_platform_tests: thread %d message %d %63s",
                              &thread, &message, tail),
                  3)
            << line;
        EXPECT_EQ(std::string(tail), std::string(36, '.')) << line;
        EXPECT_EQ(message, nextMessage[thread]++) << "out of order: " << line;
    }
    EXPECT_EQ(count, kThreads * kMessages);
}

#ifndef _WIN32
TEST(DebugLogSupportFolder, FollowsXdgStateHomeElseHome) {
    const struct {
        const char* state;  // null: unset
        const char* home;
        const char* folder;
    } cases[] = {
        {"/var/state", "/home/a", "/var/state/lumora-connector"},
        {nullptr, "/home/a", "/home/a/.local/state/lumora-connector"},
        {"relative", "/home/a", "/home/a/.local/state/lumora-connector"},
        {"", nullptr, ""},
    };
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/";
    auto set = [](const char* name, const char* value) {
        value ? (void)TestSetEnv(name, value) : TestUnsetEnv(name);
    };
    for (const auto& c : cases) {
        set("XDG_STATE_HOME", c.state);
        set("HOME", c.home);
        EXPECT_EQ(DebugLogSupportFolder(), c.folder) << (c.state ? c.state : "unset");
    }
    TestSetEnv("HOME", home.c_str());
}
#endif

// Made in a missing folder; the newest lines kept in at most three files of 1 MiB, each
// starting with the header, every line time-stamped.
TEST(DebugLogSupportFile, RotatesKeepingTheNewestLinesStamped) {
    const std::string file = LogFile::folder() + "/state/logs/support.log";
    {
        LogSink sink(file, true, "header\n", "p: ");
        for (int i = 0; i < 40000; ++i) {
            sink.write(("line " + std::to_string(i) + std::string(80, '.') + "\n").c_str());
        }
        EXPECT_EQ(sink.file(), file);
    }
    const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z p: .*)");
    for (const std::string& name : {file, file + ".1", file + ".2"}) {
        const std::string text = readFile(name);
        EXPECT_LE(text.size(), size_t(kLogFileBytes)) << name;
        EXPECT_GT(text.size() * (name == file ? 10 : 1), size_t(kLogFileBytes) * 9 / 10) << name;
        EXPECT_EQ(text.substr(25, 10), "p: header\n") << name;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            ASSERT_TRUE(std::regex_match(line, stamped)) << line;
        }
    }
    EXPECT_NE(readFile(file).find("line 39999."), std::string::npos);
    EXPECT_FALSE(std::ifstream(file + ".3").good());
#ifndef _WIN32
    const auto made = std::filesystem::status(LogFile::folder() + "/state/logs").permissions();
    EXPECT_EQ(made, std::filesystem::perms::owner_all);
#endif
}

// Said once on standard error; writing goes on without the file.
TEST(DebugLogSupportFile, UnwritableFolderIsSaidOnce) {
    const std::string inPlace = LogFile::folder() + "/a-file";
    std::ofstream(inPlace) << "not a folder";
    for (const std::string& file : {inPlace + "/support.log", inPlace + "/logs/support.log"}) {
        testing::internal::CaptureStderr();
        {
            LogSink sink(file, true, "header\n", "p: ");
            sink.write("one\n");
            sink.write("two\n");
            EXPECT_EQ(sink.file(), "");
        }
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.rfind("p: cannot write the log " + inPlace, 0), 0u) << said;
        EXPECT_EQ(said.find("; going on without it\n"), said.size() - 22) << said;
    }
}

}  // namespace
