#pragma once

// Result<T>: what an internal step hands back, its value or the code it failed
// with. It must be looked at: dropping one does not compile.

#include <cassert>
#include <optional>
#include <utility>

#include "orva_result_codes.h"

namespace orva::api {

template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    // A failure; kSuccess carries no value and is no failure.
    Result(ApiErrorCode failure) noexcept : code_(failure) { assert(failure != kSuccess); }

    explicit operator bool() const noexcept { return value_.has_value(); }
    // kSuccess with a value, else the failure's code.
    ApiErrorCode code() const noexcept { return code_; }

    T& operator*() & noexcept { return *value_; }
    const T& operator*() const& noexcept { return *value_; }
    T&& operator*() && noexcept { return std::move(*value_); }
    T* operator->() noexcept { return &*value_; }
    const T* operator->() const noexcept { return &*value_; }

  private:
    std::optional<T> value_;
    ApiErrorCode code_ = kSuccess;
};

}  // namespace orva::api
