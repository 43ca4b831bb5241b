// Shared by the protocol tests: the debug log captured in a file, and byte helpers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The log sink is chosen at the first message, so the file is set before any test runs.
class LogFile : public ::testing::Environment {
public:
    static std::string& path() {
        static std::string value;
        return value;
    }
    static std::string text() {
        std::ifstream file(path(), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), {});
    }
    void SetUp() override {
        path() = "/tmp/lumora-protocol-test-" + std::to_string(getpid()) + ".log";
        setenv("LUMORA_DEBUG_LOG", path().c_str(), 1);
    }
    void TearDown() override { std::remove(path().c_str()); }
};

// Inline, so the test program registers it once whichever files include this.
inline ::testing::Environment* const kLogFileEnvironment =
    ::testing::AddGlobalTestEnvironment(new LogFile);

// The log lines written since it was made.
class LogSince {
public:
    LogSince() : start_(LogFile::text().size()) {}
    std::string text() const { return LogFile::text().substr(start_); }
    int count(const std::string& what) const {
        const std::string all = text();
        int n = 0;
        for (size_t at = all.find(what); at != std::string::npos; at = all.find(what, at + 1)) {
            ++n;
        }
        return n;
    }

private:
    size_t start_;
};

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

inline Bytes TextBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}
