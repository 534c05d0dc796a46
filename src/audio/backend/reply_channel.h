#pragma once
// A one-slot channel that carries a single reply from one thread to another. The receiver
// waits without a time limit for the value, or learns that the sender went without sending.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace quorle::audio {

namespace detail {

template <class T>
struct ReplyState {
    std::mutex mutex;
    std::condition_variable changed;  // a value arrived or the sender went
    std::optional<T> value;           // guarded by mutex
    bool sent = false;                // guarded by mutex; the one value has been sent
    bool sender_alive = true;         // guarded by mutex
    bool receiver_alive = true;       // guarded by mutex
};

}  // namespace detail

// Sending end: sends at most one value. Movable, not copyable.
template <class T>
class ReplySender {
  public:
    explicit ReplySender(std::shared_ptr<detail::ReplyState<T>> state) : state_(std::move(state)) {}
    ReplySender(ReplySender&&) noexcept = default;
    ReplySender& operator=(ReplySender&&) = delete;
    ReplySender(const ReplySender&) = delete;
    ReplySender& operator=(const ReplySender&) = delete;
    ~ReplySender() {
        if (!state_)
            return;
        const std::lock_guard<std::mutex> lock(state_->mutex);
        state_->sender_alive = false;
        state_->changed.notify_all();
    }

    // Hands `value` to the receiver. False (and the value is dropped) when the receiver is
    // gone or a value was already sent.
    [[nodiscard]] bool send(T value) {
        {
            const std::lock_guard<std::mutex> lock(state_->mutex);
            if (state_->receiver_alive && !state_->sent) {
                state_->value.emplace(std::move(value));
                state_->sent = true;
                state_->changed.notify_all();
                return true;
            }
        }
        return false;  // `value` is destroyed here, outside the lock
    }

  private:
    std::shared_ptr<detail::ReplyState<T>> state_;
};

// Receiving end. Movable, not copyable.
template <class T>
class ReplyReceiver {
  public:
    explicit ReplyReceiver(std::shared_ptr<detail::ReplyState<T>> state)
        : state_(std::move(state)) {}
    ReplyReceiver(ReplyReceiver&&) noexcept = default;
    ReplyReceiver& operator=(ReplyReceiver&&) = delete;
    ReplyReceiver(const ReplyReceiver&) = delete;
    ReplyReceiver& operator=(const ReplyReceiver&) = delete;
    ~ReplyReceiver() {
        if (!state_)
            return;
        std::optional<T> unread;
        const std::lock_guard<std::mutex> lock(state_->mutex);
        state_->receiver_alive = false;
        take(unread);
        // The mutex is released before `unread` (declared first) is destroyed.
    }

    // Waits for the value; empty when the sender went without sending one (or the value
    // was already taken).
    [[nodiscard]] std::optional<T> receive() {
        std::unique_lock<std::mutex> lock(state_->mutex);
        state_->changed.wait(lock, [this] { return state_->sent || !state_->sender_alive; });
        std::optional<T> value;
        take(value);
        return value;
    }

  private:
    // Moves the slot's value (if any) into `out` and empties the slot. Mutex held.
    void take(std::optional<T>& out) {
        if (!state_->value)
            return;
        out.emplace(std::move(*state_->value));
        state_->value.reset();
    }

    std::shared_ptr<detail::ReplyState<T>> state_;
};

template <class T>
struct ReplyChannel {
    ReplySender<T> sender;
    ReplyReceiver<T> receiver;
};

template <class T>
[[nodiscard]] ReplyChannel<T> make_reply_channel() {
    auto state = std::make_shared<detail::ReplyState<T>>();
    return ReplyChannel<T>{ReplySender<T>(state), ReplyReceiver<T>(state)};
}

}  // namespace quorle::audio
