#pragma once
// The capture ring: a fixed number of CaptureChunk slots, allocated once, carrying chunks
// from the capture side (one producer thread) to the worker (one consumer thread) without
// locks. Head (next slot to read) and tail (next slot to write) run over 0 .. 2*capacity-1,
// so that a full ring (distance capacity) and an empty one (distance 0) differ without a
// spare slot. Each end keeps its own index and a cached copy of the other's, and re-reads
// the other's (acquire) only when the cache says full or empty; it publishes its own index
// with release after the slot is complete, so a slot's contents are visible before its index.
#include <atomic>
#include <cstdint>
#include <memory>

#include "audio/capture/capture_chunk.h"

#ifndef NDEBUG
#include <thread>
#endif

namespace quorle::capture {

// The state both ends share. Head and tail each sit on a 128-byte line of their own (two
// 64-byte lines, the unit that adjacent-line prefetch pulls in together), so that the two
// threads never write the same line.
struct RingStorage {
    explicit RingStorage(std::uint64_t slot_count);

    // Next position to read; written by the reader only.
    alignas(128) std::atomic<std::uint64_t> head{0};
    // Next position to write; written by the writer only.
    alignas(128) std::atomic<std::uint64_t> tail{0};
    // Number of slots (immutable).
    alignas(128) const std::uint64_t capacity;
    // capacity slots, allocated here and never again.
    std::unique_ptr<CaptureChunk[]> slots;

    // The slot a position names: p for p < capacity, else p - capacity.
    [[nodiscard]] std::uint64_t slot_of(std::uint64_t position) const {
        return position < capacity ? position : position - capacity;
    }
    // The position after p: p + 1, except that 2*capacity - 1 wraps to 0.
    [[nodiscard]] std::uint64_t advance(std::uint64_t position) const {
        return position + 1 == 2 * capacity ? 0 : position + 1;
    }
    // Filled slots between a head and a tail position.
    [[nodiscard]] std::uint64_t distance(std::uint64_t from_head, std::uint64_t to_tail) const {
        return to_tail >= from_head ? to_tail - from_head : to_tail + 2 * capacity - from_head;
    }
};

#ifndef NDEBUG
// Debug builds check that each end is used from one thread only (the first that uses it).
class SingleThreadCheck {
  public:
    void check();

  private:
    std::thread::id owner_{};
};
#endif

// The writing end. Producer thread only.
class RingWriter {
  public:
    RingWriter() = default;
    explicit RingWriter(std::shared_ptr<RingStorage> storage);

    // The slot to fill next, or nullptr when the ring is full (after re-reading head).
    // Never blocks.
    [[nodiscard]] CaptureChunk* claim();
    // Hands the slot returned by the last claim() to the reader.
    void publish();
    // Free slots, re-reading head first.
    [[nodiscard]] std::uint64_t free_slots();
    // True when claim() would give a slot; re-reads head only when the ring looks full.
    [[nodiscard]] bool has_room();
    [[nodiscard]] bool attached() const { return storage_ != nullptr; }

  private:
    std::shared_ptr<RingStorage> storage_;
    std::uint64_t tail_ = 0;         // own index, equal to the published tail
    std::uint64_t cached_head_ = 0;  // last head read from the ring
#ifndef NDEBUG
    SingleThreadCheck thread_check_;
#endif
};

// The reading end. Consumer thread only.
class RingReader {
  public:
    RingReader() = default;
    explicit RingReader(std::shared_ptr<RingStorage> storage);

    // Copies the oldest chunk into `out` and frees its slot; false when the ring is empty
    // (after re-reading tail). Never blocks.
    [[nodiscard]] bool try_pop(CaptureChunk& out);
    // The oldest chunk, left in its slot, or nullptr when the ring is empty (after re-reading
    // tail). The slot stays the reader's until release(); copy what is needed out first.
    [[nodiscard]] const CaptureChunk* peek();
    // Frees the slot returned by the last peek().
    void release();
    [[nodiscard]] bool attached() const { return storage_ != nullptr; }

  private:
    std::shared_ptr<RingStorage> storage_;
    std::uint64_t head_ = 0;         // own index, equal to the published head
    std::uint64_t cached_tail_ = 0;  // last tail read from the ring
#ifndef NDEBUG
    SingleThreadCheck thread_check_;
#endif
};

struct RingEnds {
    RingWriter writer;
    RingReader reader;
};

// A ring of `capacity` slots (1 <= capacity <= kMaxRingCapacity) and its two ends. The
// storage is freed when both ends are gone.
inline constexpr std::uint64_t kMaxRingCapacity = 1u << 16;
[[nodiscard]] RingEnds make_capture_ring(std::uint64_t capacity);

}  // namespace quorle::capture
