// A fixed-capacity byte FIFO with its own lock. Bytes that do not fit are dropped; the writer
// learns how many were stored from the result.
//
// Thread-safe: every operation, the count included, runs under the ring's lock, so one thread
// may write while another reads. Create and destroy must not race with other operations.
#pragma once

#include <cstdint>

#include "platform/os.h"

struct RingBuffer {
    uint8_t* storage;
    uint32_t writePos;
    uint32_t readPos;
    uint32_t count;
    uint32_t capacity;
    OsLockRef lock;
};

// Allocates the storage, creates the lock and empties the ring. When the storage cannot be
// allocated the ring has capacity 0: writes store nothing and return 0.
void RingBufferCreate(RingBuffer* ring, uint32_t capacity);

// Appends as many of the count bytes as fit, in order; returns the number stored.
uint32_t RingBufferWrite(RingBuffer* ring, const uint8_t* bytes, uint32_t count);

// Moves up to count of the oldest bytes into buffer; returns the number taken. A ring left
// empty starts again at the front of its storage.
uint32_t RingBufferRead(RingBuffer* ring, uint8_t* buffer, uint32_t count);

uint32_t RingBufferCount(RingBuffer* ring);

// Empties the ring: positions back to the start, count 0.
void RingBufferReset(RingBuffer* ring);

// Empties the ring, frees its storage and deletes its lock.
void RingBufferDestroy(RingBuffer* ring);
