// A fresh folder in the system's temporary folder for one test, removed with everything in it.
#pragma once

#include <filesystem>
#include <string>

#include "tests/support/test_platform.h"

class TempDir {
public:
    TempDir() : path_(TestMakeTempDir("lumora-hid")) {}
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
