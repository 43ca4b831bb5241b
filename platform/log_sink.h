// A log file: every line time-stamped (UTC), and for the support log a bounded set of files,
// "<file>", "<file>.1", ... at most kLogFiles of at most kLogFileBytes each, the oldest dropped.
// Several programs may append to the same file at once: each message goes out in one append,
// and a rotation another program did first is followed, not repeated. A file that cannot be
// written never stops the program: it is said once on standard error and left alone.
// Not thread-safe: DebugLog calls it under its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kLogFiles = 3;
constexpr long long kLogFileBytes = 1 << 20;

class LogSink {
public:
    // support: the file is rotated and its folder made (owner-only) when missing. header: lines,
    // each ending in '\n', written at the top of every file this sink starts, and when it opens.
    // prefix: put after each line's time stamp, and before the complaint.
    LogSink(std::string file, bool support, std::string header, std::string prefix);
    ~LogSink();
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    // Opens the file (and writes the header) unless it is open; false when it cannot be.
    bool start();
    // Writes text, whose lines each get the time stamp and prefix.
    void write(const char* text);
    // The file while it can be written, else empty.
    std::string file() const { return broken_ ? std::string() : file_; }

private:
    void stampLines(const char* text, std::string* out) const;
    void rotate(size_t needed);
    bool open();
    void complain(const std::string& what, const std::string& reason);

    const std::string file_;
    const bool support_;
    const std::string header_;
    const std::string prefix_;
    intptr_t handle_ = -1;
    bool broken_ = false;  // could not be opened: written no more
    bool said_ = false;    // a failure is said once
    std::string lines_;    // the message being written, kept for its capacity
};

// "YYYY-MM-DDTHH:MM:SS.mmmZ" of now into out, kLogTimeSize bytes.
constexpr size_t kLogTimeSize = 64;
void FormatLogTime(char* out);
