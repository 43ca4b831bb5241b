// The debug log of a test program, captured in a file.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/test_platform.h"

// The log sink is chosen at the first message, so the file is set before any test runs. It lies
// in a folder of its own, removed at the end.
class LogFile : public ::testing::Environment {
public:
    static std::string& folder() {
        static std::string value;
        return value;
    }
    static std::string path() { return folder() + "/debug.log"; }
    static std::string text() {
        std::ifstream file(path(), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), {});
    }
    void SetUp() override {
        folder() = TestMakeTempDir("lumora-log");
        TestSetEnv("LUMORA_DEBUG_LOG", path().c_str());
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder(), ignored);
    }
};

// Inline, so the test program registers it once whichever files include this.
inline ::testing::Environment* const kLogFileEnvironment =
    ::testing::AddGlobalTestEnvironment(new LogFile);

// The log written since it was made (or since start).
class LogSince {
public:
    explicit LogSince(size_t start = LogFile::text().size()) : start_(start) {}
    int count(const std::string& what) const {
        const std::string all = LogFile::text().substr(start_);
        int n = 0;
        for (size_t at = all.find(what); at != std::string::npos; at = all.find(what, at + 1)) {
            ++n;
        }
        return n;
    }

private:
    size_t start_;
};
