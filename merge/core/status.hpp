// Why a merge stopped, as one value: the status a C caller branches on and the message a person
// reads. Every stage gives back a failure as a value; only the command line prints it and only the
// C interface hands it to a caller.
#pragma once

#include <Korvane_LiDAR.h>

#include <optional>
#include <string>
#include <utility>

#include "core/message.hpp"

namespace quillet {

struct Failure {
    korvane_status status = KORVANE_INVALID_REQUEST;
    std::string text;  // the whole message, line ends included, as the command line prints it
    bool operator==(const Failure&) const = default;
};

// A failure of each kind, with its message.
inline Failure invalid_request(Message m) {
    return {KORVANE_INVALID_REQUEST, std::move(m.text)};
}
inline Failure bad_input(Message m) {
    return {KORVANE_BAD_INPUT, std::move(m.text)};
}
inline Failure refused(Message m) {
    return {KORVANE_REFUSED, std::move(m.text)};
}
inline Failure io_error(Message m) {
    return {KORVANE_IO_ERROR, std::move(m.text)};
}
inline Failure cancelled(Message m) {
    return {KORVANE_CANCELLED, std::move(m.text)};
}
inline Failure out_of_memory(Message m) {
    return {KORVANE_OUT_OF_MEMORY, std::move(m.text)};
}

// What a stage that gives back no value returns: nothing when it went well.
using Problem = std::optional<Failure>;

// A value, or the failure that says why there is none.
template <typename T>
class Result {
  public:
    Result(T value) : value_(std::move(value)) {}              // NOLINT: a value converts
    Result(Failure problem) : problem_(std::move(problem)) {}  // NOLINT: so does a failure

    explicit operator bool() const { return value_.has_value(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const Failure& problem() const { return problem_; }

  private:
    std::optional<T> value_;
    Failure problem_;
};

}  // namespace quillet
