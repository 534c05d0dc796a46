#pragma once
// An unbounded first-in-first-out queue with one sending and one receiving end.
// Sending never blocks and fails only when the receiving end is gone. A receive reports the
// queue closed once the sending end is gone and every queued message has been taken.
// When the receiving end goes, the messages still queued are destroyed with it.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace quorle::audio {

namespace detail {

template <class T>
struct QueueState {
    std::mutex mutex;
    std::condition_variable arrived;  // a message was queued or the sender went
    std::deque<T> messages;           // guarded by mutex
    bool sender_alive = true;         // guarded by mutex
    bool receiver_alive = true;       // guarded by mutex
};

}  // namespace detail

// Sending end. Movable, not copyable; send may be called from any thread.
template <class T>
class QueueSender {
  public:
    explicit QueueSender(std::shared_ptr<detail::QueueState<T>> state) : state_(std::move(state)) {}
    QueueSender(QueueSender&&) noexcept = default;
    QueueSender& operator=(QueueSender&&) = delete;
    QueueSender(const QueueSender&) = delete;
    QueueSender& operator=(const QueueSender&) = delete;
    ~QueueSender() {
        if (!state_)
            return;
        const std::lock_guard<std::mutex> lock(state_->mutex);
        state_->sender_alive = false;
        state_->arrived.notify_all();
    }

    // Queues `message`. When the receiving end is gone the message is destroyed and the
    // result is false.
    [[nodiscard]] bool send(T message) const {
        {
            const std::lock_guard<std::mutex> lock(state_->mutex);
            if (state_->receiver_alive) {
                state_->messages.push_back(std::move(message));
                state_->arrived.notify_one();
                return true;
            }
        }
        return false;  // `message` is destroyed here, outside the lock
    }

  private:
    std::shared_ptr<detail::QueueState<T>> state_;
};

enum class ReceiveStatus {
    Message,   // a message was taken
    TimedOut,  // nothing arrived within the wait
    Closed,    // the sender is gone and the queue is empty
};

template <class T>
struct Received {
    ReceiveStatus status = ReceiveStatus::TimedOut;
    std::optional<T> message;  // set for ReceiveStatus::Message
};

// Receiving end. Movable, not copyable; used by one thread.
template <class T>
class QueueReceiver {
  public:
    explicit QueueReceiver(std::shared_ptr<detail::QueueState<T>> state)
        : state_(std::move(state)) {}
    QueueReceiver(QueueReceiver&&) noexcept = default;
    QueueReceiver& operator=(QueueReceiver&&) = delete;
    QueueReceiver(const QueueReceiver&) = delete;
    QueueReceiver& operator=(const QueueReceiver&) = delete;
    ~QueueReceiver() { close(); }

    // Gives up the receiving end before it is destroyed: later sends fail and the messages
    // still queued are destroyed.
    void close() {
        if (!state_)
            return;
        std::deque<T> undelivered;
        {
            const std::lock_guard<std::mutex> lock(state_->mutex);
            state_->receiver_alive = false;
            undelivered.swap(state_->messages);
        }
        // `undelivered` is destroyed here, outside the lock: destroying a message may
        // release other resources (a job closes its reply channel).
    }

    // Waits up to `timeout` for the next message. Not to be called after close().
    [[nodiscard]] Received<T> receive_for(std::chrono::nanoseconds timeout) {
        std::unique_lock<std::mutex> lock(state_->mutex);
        state_->arrived.wait_for(
            lock, timeout, [this] { return !state_->messages.empty() || !state_->sender_alive; });
        if (!state_->messages.empty()) {
            Received<T> received{ReceiveStatus::Message, std::move(state_->messages.front())};
            state_->messages.pop_front();
            return received;
        }
        return Received<T>{state_->sender_alive ? ReceiveStatus::TimedOut : ReceiveStatus::Closed,
                           std::nullopt};
    }

  private:
    std::shared_ptr<detail::QueueState<T>> state_;
};

template <class T>
struct CommandQueue {
    QueueSender<T> sender;
    QueueReceiver<T> receiver;
};

// Creates an empty queue and its two ends.
template <class T>
[[nodiscard]] CommandQueue<T> make_command_queue() {
    auto state = std::make_shared<detail::QueueState<T>>();
    return CommandQueue<T>{QueueSender<T>(state), QueueReceiver<T>(state)};
}

}  // namespace quorle::audio
