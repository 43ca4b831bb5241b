// The socket folder that the simulated readers of an end-to-end test process plug into, and
// plugging one in. The HID backend reads LUMORA_HID_SOCKET_DIR once per process, so including
// this header registers the folder as a test environment, made before any test runs.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "temp_dir.h"
#include "tools/reader-sim/reader_sim.h"

class SimFolder : public ::testing::Environment {
public:
    static const std::string& path() { return folder_->path(); }

    void SetUp() override {
        folder_ = new TempDir;
        log_ = folder_->path() + ".log";
        TestSetEnv("LUMORA_HID_SOCKET_DIR", folder_->path().c_str());
        // A faulty link logs every dropped packet; keep that out of the test output.
        TestSetEnv("LUMORA_DEBUG_LOG", log_.c_str());
    }
    void TearDown() override {
        delete folder_;
        std::remove(log_.c_str());
    }

private:
    static inline TempDir* folder_ = nullptr;
    std::string log_;
};

inline const auto* const kSimFolder = ::testing::AddGlobalTestEnvironment(new SimFolder);

// Starts a quiet simulated reader called name in the folder; null, and a failure, if it cannot.
inline std::unique_ptr<ReaderSim> PlugReader(const std::string& name,
                                             ReaderSimOptions options = {}) {
    options.dir = SimFolder::path();
    options.name = name;
    options.log = false;
    auto sim = std::make_unique<ReaderSim>(options);
    std::string error;
    if (!sim->start(&error)) {
        ADD_FAILURE() << "reader " << name << ": " << error;
        return nullptr;
    }
    return sim;
}
