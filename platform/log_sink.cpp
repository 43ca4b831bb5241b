// LogSink: stamped lines, one append each message; rotation by renames.
#include "platform/log_sink.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/os_backend.h"

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian), without the C library's
// time-zone state, which is neither thread-safe nor alike across OSes.
void civilDate(long long days, int* year, int* month, int* day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthFromMarch = (5 * dayOfYear + 2) / 153;
    *day = int(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    *month = int(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    *year = int(yearOfEra + era * 400 + (*month <= 2));
}

// The separators of a path: '/' works on Windows too.
std::string separators() {
    return {'/', kOsPathSeparator};
}

// Makes folder and the folders above it; empty, or why the first missing one could not be made.
std::string makeFolders(const std::string& folder) {
    std::string firstFailure;
    for (size_t at = folder.find_first_of(separators(), 1); at != std::string::npos;
         at = folder.find_first_of(separators(), at + 1)) {
        if (!OsMakeFolder(folder.substr(0, at).c_str()) && firstFailure.empty()) {
            firstFailure = OsLastErrorText();
        }
    }
    if (OsMakeFolder(folder.c_str())) {
        return std::string();
    }
    return firstFailure.empty() ? OsLastErrorText() : firstFailure;
}

}  // namespace

void FormatLogTime(char* out) {
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    const long long seconds = ms / 1000;
    const long long days = seconds / 86400;
    int year, month, day;
    civilDate(days, &year, &month, &day);
    const int daySeconds = int(seconds - days * 86400);
    std::snprintf(out, kLogTimeSize, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day,
                  daySeconds / 3600, daySeconds / 60 % 60, daySeconds % 60, int(ms % 1000));
}

LogSink::LogSink(std::string file, bool support, std::string header, std::string prefix)
    : file_(std::move(file)),
      support_(support),
      header_(std::move(header)),
      prefix_(std::move(prefix)) {}

LogSink::~LogSink() {
    if (handle_ != -1) {
        OsFileClose(handle_);
    }
}

bool LogSink::start() {
    if (handle_ != -1 || broken_) {
        return !broken_;
    }
    if (support_) {
        const std::string folder = file_.substr(0, file_.find_last_of(separators()));
        const std::string failure = makeFolders(folder);
        if (!failure.empty()) {
            complain(folder, failure);
            broken_ = true;
            return false;
        }
    }
    broken_ = !open();
    return !broken_;
}

void LogSink::write(const char* text) {
    if (!start()) {
        return;
    }
    lines_.clear();
    stampLines(text, &lines_);
    if (support_) {
        const long long size = OsFileSize(handle_);
        if (size >= 0 && size + (long long)lines_.size() > kLogFileBytes) {
            rotate(lines_.size());
        }
    }
    if (handle_ != -1 && !OsAppendWrite(handle_, lines_.data(), lines_.size())) {
        complain(file_, OsLastErrorText());  // a full disk: later lines may fit again
    }
}

void LogSink::stampLines(const char* text, std::string* out) const {
    char stamp[kLogTimeSize];
    FormatLogTime(stamp);
    while (*text) {
        const char* end = std::strchr(text, '\n');
        const size_t length = end ? size_t(end - text) : std::strlen(text);
        out->append(stamp).append(" ").append(prefix_).append(text, length).append("\n");
        text += end ? length + 1 : length;
    }
}

void LogSink::rotate(size_t needed) {
    OsFileClose(handle_);
    handle_ = OsAppendOpen(file_.c_str());
    // Another program may have rotated first (this handle was on the file now called .1): its
    // fresh file is then used as it is.
    const long long size = handle_ != -1 ? OsFileSize(handle_) : -1;
    if (size >= 0 && size + (long long)needed <= kLogFileBytes) {
        return;
    }
    if (handle_ != -1) {
        OsFileClose(handle_);
        handle_ = -1;
    }
    // "<file>.<n>" for n older files; n 0 is the file itself.
    auto named = [this](int n) { return n == 0 ? file_ : file_ + "." + std::to_string(n); };
    for (int n = kLogFiles - 1; n > 0; --n) {
        OsFileReplace(named(n - 1).c_str(), named(n).c_str());
    }
    open();
}

bool LogSink::open() {
    handle_ = OsAppendOpen(file_.c_str());
    if (handle_ == -1) {
        complain(file_, OsLastErrorText());
        return false;
    }
    std::string header;
    stampLines(header_.c_str(), &header);
    OsAppendWrite(handle_, header.data(), header.size());
    return true;
}

void LogSink::complain(const std::string& what, const std::string& reason) {
    if (!std::exchange(said_, true)) {
        std::fprintf(stderr, "%scannot write the log %s (%s); going on without it\n",
                     prefix_.c_str(), what.c_str(), reason.c_str());
        std::fflush(stderr);
    }
}
