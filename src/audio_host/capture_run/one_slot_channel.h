#pragma once
// A channel that carries exactly one message from one thread to another. Either end may be
// dropped first; the shared state lives until both are gone. A message that finds the
// receiving end gone is destroyed by the sender (on the sending thread); a message still in
// the slot when the receiving end goes is destroyed by the receiver.
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "audio_host/capture_run/timed_wait.h"

namespace quorle::host {

namespace detail {
template <class T>
struct OneSlotState {
    std::mutex mutex;
    std::condition_variable changed;  // notified on a send and when the sender goes
    std::optional<T> slot;            // guarded by mutex
    bool sent = false;                // a message was accepted once; guarded by mutex
    bool sender_alive = true;         // guarded by mutex
    bool receiver_alive = true;       // guarded by mutex
};
}  // namespace detail

template <class T>
class SlotSender {
  public:
    SlotSender() = default;
    explicit SlotSender(std::shared_ptr<detail::OneSlotState<T>> state)
        : state_(std::move(state)) {}
    SlotSender(SlotSender&&) noexcept = default;
    SlotSender& operator=(SlotSender&& other) noexcept {
        if (this != &other) {
            close();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    SlotSender(const SlotSender&) = delete;
    SlotSender& operator=(const SlotSender&) = delete;
    ~SlotSender() { close(); }

    // Puts the message in the slot. Never waits. Returns false, and destroys the message
    // before returning, when the receiver is gone or a message was already sent.
    bool send(T message) {
        if (!state_) return false;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->receiver_alive && !state_->sent) {
                state_->slot.emplace(std::move(message));
                state_->sent = true;
                state_->changed.notify_all();
                return true;
            }
        }
        return false;  // `message` is destroyed here, outside the lock
    }

  private:
    void close() {
        if (!state_) return;
        {
            std::lock_guard lock(state_->mutex);
            state_->sender_alive = false;
            state_->changed.notify_all();
        }
        state_.reset();
    }

    std::shared_ptr<detail::OneSlotState<T>> state_;
};

template <class T>
class SlotReceiver {
  public:
    SlotReceiver() = default;
    explicit SlotReceiver(std::shared_ptr<detail::OneSlotState<T>> state)
        : state_(std::move(state)) {}
    SlotReceiver(SlotReceiver&&) noexcept = default;
    SlotReceiver& operator=(SlotReceiver&& other) noexcept {
        if (this != &other) {
            close();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    SlotReceiver(const SlotReceiver&) = delete;
    SlotReceiver& operator=(const SlotReceiver&) = delete;
    ~SlotReceiver() { close(); }

    // Waits until a message is there (returns it), the sender has gone without one, or
    // `deadline` has passed (both: nothing).
    std::optional<T> receive_until(TimedWait& time, TimedWait::time_point deadline) {
        if (!state_) return std::nullopt;
        std::unique_lock lock(state_->mutex);
        for (;;) {
            if (state_->slot) {
                std::optional<T> message = std::move(state_->slot);
                state_->slot.reset();
                return message;
            }
            if (!state_->sender_alive) return std::nullopt;
            if (time.now() >= deadline) return std::nullopt;
            time.wait_until(state_->changed, lock, deadline);
        }
    }

  private:
    void close() {
        if (!state_) return;
        std::optional<T> unread;
        {
            std::lock_guard lock(state_->mutex);
            state_->receiver_alive = false;
            unread = std::move(state_->slot);
            state_->slot.reset();
        }
        unread.reset();  // released outside the lock
        state_.reset();
    }

    std::shared_ptr<detail::OneSlotState<T>> state_;
};

template <class T>
[[nodiscard]] std::pair<SlotSender<T>, SlotReceiver<T>> make_one_slot_channel() {
    auto state = std::make_shared<detail::OneSlotState<T>>();
    return {SlotSender<T>(state), SlotReceiver<T>(state)};
}

}  // namespace quorle::host
