// The device end of a socket device, whose file name carries the reader's USB ids so a host that
// lists the directory finds it like a HID device. Every datagram is one 65-byte report. Plugging
// creates the device under a temporary name and renames it into place once it listens;
// unplugging removes the file, then closes everything.
//
// On POSIX the device is a SOCK_SEQPACKET Unix socket. On Windows it is a duplex, message-mode
// named pipe announced by a marker file, whose whole content is the pipe's name.
//
// Nothing blocks but wait(). Single-threaded (owned by one sim-link thread), except wake().
#pragma once

#include <cstdint>
#include <memory>
#include <string>

constexpr uint32_t kReportSize = 65;  // report id 0, then one 64-byte packet

class SocketDevice {
public:
    enum class Io : uint8_t { ok, again, closed };
    static constexpr uint64_t kForever = ~uint64_t{0};

    SocketDevice();
    SocketDevice(const SocketDevice&) = delete;
    SocketDevice& operator=(const SocketDevice&) = delete;
    ~SocketDevice();

    // False when what wake() needs could not be created; then nothing else works.
    bool ready() const;

    // Returns "<dir>/<name>-vid_1a61&pid_3650.sock" (".pipe" on Windows).
    static std::string PathFor(const std::string& dir, const std::string& name);

    // Creates the device at PathFor(dir, name), replacing a stale file there. Returns false
    // with a message when the path is too long, another live device listens there or the
    // system refuses.
    bool plug(const std::string& dir, const std::string& name, std::string* error) {
        return plugAt(dir, PathFor(dir, name), error);
    }
    // The same at any path in dir (the temporary name is made in dir).
    bool plugAt(const std::string& dir, const std::string& path, std::string* error);
    // Removes the file and closes the connection and the device.
    void unplug();
    // What a killed device leaves behind: everything closed, the file still there.
    void die();

    bool plugged() const;
    bool connected() const;
    const std::string& path() const;

    // Takes a waiting connection; false when there is none (or one is already open).
    bool accept();
    // Closes the host's connection; the device listens for the next one.
    void closeConnection();

    // Receives one datagram into buffer (capacity bytes); *size is its real length, which may
    // exceed capacity and which the caller checks. closed: the host hung up.
    Io receive(uint8_t* buffer, uint32_t capacity, uint32_t* size);
    // Sends one datagram of size bytes (at most 4096); again when the device's buffer is full.
    Io send(const uint8_t* data, uint32_t size = kReportSize);

    // Blocks until the host may have connected or sent something, room to send appeared (when
    // wantWrite), wake() was called, or timeoutUs passed (kForever: no limit).
    void wait(uint64_t timeoutUs, bool wantWrite);
    // Ends the current or next wait() at once. Any thread.
    void wake();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
