#include "platform/ring_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

void RingBufferCreate(RingBuffer* ring, uint32_t capacity) {
    ring->storage = capacity ? new (std::nothrow) uint8_t[capacity] : nullptr;
    ring->capacity = ring->storage ? capacity : 0;
    ring->writePos = 0;
    ring->readPos = 0;
    ring->count = 0;
    ring->lock = OsCreateLock();
}

uint32_t RingBufferWrite(RingBuffer* ring, const uint8_t* bytes, uint32_t count) {
    if (count == 0) {
        return 0;
    }
    OsLock(ring->lock);
    const uint32_t stored = std::min(count, ring->capacity - ring->count);
    // At most two copies: up to the end of the storage, then from its start.
    const uint32_t first = std::min(stored, ring->capacity - ring->writePos);
    if (first) {
        std::memcpy(ring->storage + ring->writePos, bytes, first);
    }
    if (stored > first) {
        std::memcpy(ring->storage, bytes + first, stored - first);
    }
    if (stored) {
        ring->writePos = (ring->writePos + stored) % ring->capacity;
        ring->count += stored;
    }
    OsUnlock(ring->lock);
    return stored;
}

uint32_t RingBufferRead(RingBuffer* ring, uint8_t* buffer, uint32_t count) {
    OsLock(ring->lock);
    const uint32_t taken = std::min(count, ring->count);
    const uint32_t first = std::min(taken, ring->capacity - ring->readPos);
    if (first) {
        std::memcpy(buffer, ring->storage + ring->readPos, first);
    }
    if (taken > first) {
        std::memcpy(buffer + first, ring->storage, taken - first);
    }
    if (taken) {
        ring->readPos = (ring->readPos + taken) % ring->capacity;
        ring->count -= taken;
    }
    // Emptied, it starts again at the front: while its reader keeps up, writes stay in a few
    // warm pages instead of touching the whole storage.
    if (ring->count == 0) {
        ring->readPos = ring->writePos = 0;
    }
    OsUnlock(ring->lock);
    return taken;
}

uint32_t RingBufferCount(RingBuffer* ring) {
    OsLock(ring->lock);
    const uint32_t count = ring->count;
    OsUnlock(ring->lock);
    return count;
}

void RingBufferReset(RingBuffer* ring) {
    OsLock(ring->lock);
    ring->writePos = 0;
    ring->readPos = 0;
    ring->count = 0;
    OsUnlock(ring->lock);
}

void RingBufferDestroy(RingBuffer* ring) {
    RingBufferReset(ring);
    delete[] ring->storage;
    ring->storage = nullptr;
    ring->capacity = 0;
    OsDeleteLock(ring->lock);
    ring->lock = nullptr;
}
