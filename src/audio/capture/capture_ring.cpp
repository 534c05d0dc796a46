#include "audio/capture/capture_ring.h"

#include <cassert>
#include <utility>

namespace quorle::capture {

RingStorage::RingStorage(std::uint64_t slot_count)
    : capacity(slot_count), slots(std::make_unique<CaptureChunk[]>(slot_count)) {}

#ifndef NDEBUG
void SingleThreadCheck::check() {
    const std::thread::id self = std::this_thread::get_id();
    if (owner_ == std::thread::id{})
        owner_ = self;
    assert(owner_ == self && "ring end used from a second thread");
}
#endif

RingWriter::RingWriter(std::shared_ptr<RingStorage> storage) : storage_(std::move(storage)) {}

CaptureChunk* RingWriter::claim() {
#ifndef NDEBUG
    thread_check_.check();
#endif
    RingStorage& ring = *storage_;
    if (ring.distance(cached_head_, tail_) == ring.capacity) {
        cached_head_ = ring.head.load(std::memory_order_acquire);
        if (ring.distance(cached_head_, tail_) == ring.capacity)
            return nullptr;
    }
    return &ring.slots[ring.slot_of(tail_)];
}

void RingWriter::publish() {
#ifndef NDEBUG
    thread_check_.check();
#endif
    RingStorage& ring = *storage_;
    assert(ring.distance(cached_head_, tail_) < ring.capacity);
    tail_ = ring.advance(tail_);
    ring.tail.store(tail_, std::memory_order_release);
}

std::uint64_t RingWriter::free_slots() {
#ifndef NDEBUG
    thread_check_.check();
#endif
    RingStorage& ring = *storage_;
    cached_head_ = ring.head.load(std::memory_order_acquire);
    return ring.capacity - ring.distance(cached_head_, tail_);
}

bool RingWriter::has_room() {
#ifndef NDEBUG
    thread_check_.check();
#endif
    RingStorage& ring = *storage_;
    if (ring.distance(cached_head_, tail_) < ring.capacity)
        return true;
    cached_head_ = ring.head.load(std::memory_order_acquire);
    return ring.distance(cached_head_, tail_) < ring.capacity;
}

RingReader::RingReader(std::shared_ptr<RingStorage> storage) : storage_(std::move(storage)) {}

bool RingReader::try_pop(CaptureChunk& out) {
#ifndef NDEBUG
    thread_check_.check();
#endif
    RingStorage& ring = *storage_;
    if (head_ == cached_tail_) {
        cached_tail_ = ring.tail.load(std::memory_order_acquire);
        if (head_ == cached_tail_)
            return false;
    }
    out = ring.slots[ring.slot_of(head_)];
    head_ = ring.advance(head_);
    ring.head.store(head_, std::memory_order_release);
    return true;
}

const CaptureChunk* RingReader::peek() {
#ifndef NDEBUG
    thread_check_.check();
#endif
    RingStorage& ring = *storage_;
    if (head_ == cached_tail_) {
        cached_tail_ = ring.tail.load(std::memory_order_acquire);
        if (head_ == cached_tail_)
            return nullptr;
    }
    return &ring.slots[ring.slot_of(head_)];
}

void RingReader::release() {
#ifndef NDEBUG
    thread_check_.check();
#endif
    RingStorage& ring = *storage_;
    assert(head_ != cached_tail_);
    head_ = ring.advance(head_);
    ring.head.store(head_, std::memory_order_release);
}

RingEnds make_capture_ring(std::uint64_t capacity) {
    assert(capacity >= 1 && capacity <= kMaxRingCapacity);
    auto storage = std::make_shared<RingStorage>(capacity);
    return RingEnds{RingWriter(storage), RingReader(std::move(storage))};
}

}  // namespace quorle::capture
