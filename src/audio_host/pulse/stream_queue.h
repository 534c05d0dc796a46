#pragma once
// The bounded queue of one captured stream: interleaved stereo float frames as the server
// delivers them, taken out one mixing tick at a time.
//
// A stream first collects `start_frames` before it contributes; from then on it gives one
// tick's worth per tick (the mixer waits a little for a playing stream whose data is late,
// see waiting_for). A stream that runs dry contributes what it has, then silence, and
// collects again. A partly collected stream whose delivery paused for two
// ticks, or that has ended, plays out what it holds, so its tail is never stuck.
// When the queue is full the oldest frames make room for the new ones.
#include <cstddef>
#include <vector>

namespace quorle::pulse {

class StreamQueue {
  public:
    StreamQueue(std::size_t capacity_frames, std::size_t start_frames);

    // Appends server bytes (interleaved float32 stereo, native order). A trailing partial
    // frame is kept until the rest of it arrives. Returns the frames dropped for room.
    std::size_t push_bytes(const void* data, std::size_t bytes);

    // Appends `frames` frames of silence (a hole in the server's data). Returns the frames
    // dropped for room.
    std::size_t push_silence(std::size_t frames);

    // Adds this tick's contribution into `out` (frames × 2 floats). Returns the frames that
    // carried captured data (0 while collecting or dry).
    std::size_t mix_into(float* out, std::size_t frames);

    // True while the stream plays but holds fewer than `frames` frames: its data is late.
    [[nodiscard]] bool waiting_for(std::size_t frames) const {
        return playing_ && !finished_ && size_ < frames;
    }

    // The next mix_into of `frames` takes `frames` frames of data: the stream plays, or
    // starts to, and holds that many.
    [[nodiscard]] bool holds(std::size_t frames) const {
        return size_ >= frames && (playing_ || size_ >= start_frames_);
    }

    // Contributing (collected enough, not run dry since).
    [[nodiscard]] bool playing() const { return playing_; }

    // No more data will come: whatever is queued is played out.
    void finish() { finished_ = true; }
    [[nodiscard]] bool finished() const { return finished_; }

    // Drops everything queued and starts collecting again.
    void clear();

    [[nodiscard]] std::size_t queued_frames() const { return size_; }
    [[nodiscard]] std::size_t capacity_frames() const { return capacity_; }

  private:
    // Makes room for `frames` (at most capacity_) new frames; returns the frames dropped.
    std::size_t make_room(std::size_t frames);
    // Appends `frames` (room made) frames; null `samples` appends silence.
    void append_floats(const float* samples, std::size_t frames);

    std::size_t capacity_;      // frames the queue holds at most
    std::size_t start_frames_;  // frames collected before the stream contributes
    std::vector<float> ring_;   // capacity_ × 2 floats
    std::size_t head_ = 0;      // first queued frame
    std::size_t size_ = 0;      // queued frames
    unsigned char partial_[sizeof(float) * 2] = {};  // bytes of an incomplete frame
    std::size_t partial_bytes_ = 0;
    bool playing_ = false;     // contributing (collected enough)
    unsigned idle_ticks_ = 0;  // ticks since the last delivery, counted up to the limit
    static constexpr unsigned kIdleTicksBeforePlayOut = 2;
    bool finished_ = false;
};

}  // namespace quorle::pulse
