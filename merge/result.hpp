// A value or the message that says why there is none: what the readers and checks return.
#pragma once

#include <optional>
#include <utility>

#include "message.hpp"

namespace quillet {

template <typename T>
class Result {
  public:
    Result(T value) : value_(std::move(value)) {}  // NOLINT: a value converts to its result
    Result(Message problem) : problem_(std::move(problem)) {}  // NOLINT: so does a message

    explicit operator bool() const { return value_.has_value(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const Message& problem() const { return problem_; }

  private:
    std::optional<T> value_;
    Message problem_;
};

}  // namespace quillet
