#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace strata {

// A lock-free byte ring for exactly one producer thread and one consumer thread, used to carry
// MIDI between the JACK process callback and ordinary threads. Writes are all-or-nothing, so a
// record (header plus payload) is never seen half-written, and the consumer can look at a record
// before deciding to take it. No call allocates, locks or blocks; the memory is allocated once by
// the constructor.
//
// Ordering: the producer copies the bytes first and then publishes the new write position with a
// release store; the consumer reads that position with an acquire load before touching the bytes,
// and hands the space back with a release store of its read position, which the producer reads
// with an acquire load before reusing the space.
class SpscByteRing {
public:
    // The capacity is rounded up to a power of two.
    explicit SpscByteRing(std::size_t capacity) {
        std::size_t size = 1;
        while (size < capacity)
            size <<= 1;
        buffer_ = std::make_unique<std::uint8_t[]>(size);
        mask_ = size - 1;
    }
    SpscByteRing(const SpscByteRing&) = delete;
    SpscByteRing& operator=(const SpscByteRing&) = delete;

    std::size_t capacity() const { return mask_ + 1; }

    // Producer side. Free space right now (it only grows until the producer writes again).
    std::size_t writable() const {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t head = head_.load(std::memory_order_acquire);
        return capacity() - (tail - head);
    }

    // Producer side. Writes `a` followed by `b` as one unit, or nothing when they do not fit.
    bool write(const void* a, std::size_t aLength, const void* b = nullptr,
               std::size_t bLength = 0) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t head = head_.load(std::memory_order_acquire);
        if (aLength + bLength > capacity() - (tail - head))
            return false;
        copyIn(tail, a, aLength);
        copyIn(tail + aLength, b, bLength);
        tail_.store(tail + aLength + bLength, std::memory_order_release);
        return true;
    }

    // Consumer side. Bytes ready to be read.
    std::size_t readable() const {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t tail = tail_.load(std::memory_order_acquire);
        return tail - head;
    }

    // Consumer side. Copies `length` bytes starting `offset` bytes into the readable data,
    // without consuming them. False (and nothing copied) when not that many bytes are readable.
    bool peek(void* destination, std::size_t length, std::size_t offset = 0) const {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t tail = tail_.load(std::memory_order_acquire);
        if (offset + length > tail - head)
            return false;
        copyOut(head + offset, destination, length);
        return true;
    }

    // Consumer side. Gives `length` readable bytes back to the producer.
    void skip(std::size_t length) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t tail = tail_.load(std::memory_order_acquire);
        if (length > tail - head)
            length = tail - head;
        head_.store(head + length, std::memory_order_release);
    }

    // Consumer side. peek() then skip().
    bool read(void* destination, std::size_t length) {
        if (!peek(destination, length))
            return false;
        skip(length);
        return true;
    }

    // Either side (or a third thread): true when everything written has been consumed.
    bool empty() const {
        return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
    }

    // Consumer side. Drops everything readable.
    void clear() { skip(readable()); }

private:
    void copyIn(std::size_t position, const void* source, std::size_t length) {
        if (length == 0)
            return;
        const std::size_t start = position & mask_;
        const std::size_t first = length < capacity() - start ? length : capacity() - start;
        std::memcpy(buffer_.get() + start, source, first);
        std::memcpy(buffer_.get(), static_cast<const std::uint8_t*>(source) + first,
                    length - first);
    }
    void copyOut(std::size_t position, void* destination, std::size_t length) const {
        if (length == 0)
            return;
        const std::size_t start = position & mask_;
        const std::size_t first = length < capacity() - start ? length : capacity() - start;
        std::memcpy(destination, buffer_.get() + start, first);
        std::memcpy(static_cast<std::uint8_t*>(destination) + first, buffer_.get(), length - first);
    }

    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t mask_ = 0;
    // Positions only ever grow; their difference is the fill level. Kept on separate cache lines
    // so that the two threads do not fight over one line.
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

} // namespace strata
