#pragma once
// Errors are values: every fallible operation returns its value or exactly one
// failure message (UTF-8, no line break). Messages travel upward unchanged.
#include <expected>
#include <string>
#include <utility>

namespace quorle {

template <class T>
using Result = std::expected<T, std::string>;

// Success without a value, or one message.
using Status = Result<void>;

// Builds the failure alternative of any Result.
[[nodiscard]] inline std::unexpected<std::string> fail(std::string message) {
    return std::unexpected<std::string>(std::move(message));
}

}  // namespace quorle

// Returns the failure of `expr` (a Result) from the enclosing function.
#define QUORLE_RETURN_IF_ERROR(expr)                                  \
    do {                                                              \
        if (auto quorle_status_ = (expr); !quorle_status_) {          \
            return ::quorle::fail(std::move(quorle_status_).error()); \
        }                                                             \
    } while (false)

#define QUORLE_CONCAT_INNER_(a, b) a##b
#define QUORLE_CONCAT_(a, b) QUORLE_CONCAT_INNER_(a, b)

// Declares `lhs` from the value of `expr`, or returns its failure.
#define QUORLE_ASSIGN_OR_RETURN(lhs, expr) \
    QUORLE_ASSIGN_OR_RETURN_IMPL_(QUORLE_CONCAT_(quorle_result_, __LINE__), lhs, expr)
#define QUORLE_ASSIGN_OR_RETURN_IMPL_(tmp, lhs, expr)  \
    auto tmp = (expr);                                 \
    if (!tmp) {                                        \
        return ::quorle::fail(std::move(tmp).error()); \
    }                                                  \
    lhs = std::move(tmp).value()
