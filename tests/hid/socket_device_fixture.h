// The simulator's socket device (a named pipe and its marker file on Windows) at <dir>/<name>,
// for tests and benchmarks: one host connection at a time, each wait bounded.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tools/reader-sim/socket_device.h"

class SocketDeviceFixture {
public:
    // Creates the device file <dir>/<name>; false when any step fails.
    bool listen(const std::string& dir, const std::string& name) {
        std::string ignored;
        return device_.plugAt(dir, dir + "/" + name, &ignored);
    }

    const std::string& path() const { return device_.path(); }

    // Waits up to timeoutMs for the host's connect and accepts it.
    bool accept(int timeoutMs = 5000) {
        device_.closeConnection();
        return retry(timeoutMs, false, [&] { return device_.accept() ? Io::ok : Io::again; });
    }

    // Sends one datagram of any size (up to 4096 bytes).
    bool send(const void* data, size_t size) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        return retry(30000, true, [&] { return device_.send(bytes, uint32_t(size)); });
    }

    // Sends report id 0 and the 64-byte packet.
    bool sendReport(const uint8_t (&packet)[kReportSize - 1]) {
        uint8_t report[kReportSize] = {0};
        std::memcpy(report + 1, packet, sizeof packet);
        return send(report, sizeof report);
    }

    // Receives one datagram within timeoutMs: its bytes, whole; empty on time-out or failure.
    std::vector<uint8_t> receive(int timeoutMs = 5000) {
        std::vector<uint8_t> buffer(4096);
        uint32_t size = 0;
        const bool got = retry(timeoutMs, false, [&] {
            return device_.receive(buffer.data(), uint32_t(buffer.size()), &size);
        });
        buffer.resize(got ? std::min<size_t>(size, buffer.size()) : 0);
        return buffer;
    }

    void die() { device_.die(); }
    void unplug() { device_.unplug(); }

private:
    using Io = SocketDevice::Io;

    // Repeats attempt while it says again, waiting on the device in between.
    template <class Attempt>
    bool retry(int timeoutMs, bool wantWrite, Attempt attempt) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const Io io = attempt();
            if (io != Io::again) {
                return io == Io::ok;
            }
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero()) {
                return false;
            }
            device_.wait(
                uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(left).count()),
                wantWrite);
        }
    }

    SocketDevice device_;
};
