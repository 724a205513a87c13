// The subset of std::expected that tarn uses, under the same member names.
//
// std::expected needs C++23 and clang 14 cannot compile libstdc++'s <expected>, while the fuzz
// targets need clang. Failures are built only through fail(), so moving to std::expected later
// means changing this header and nothing else.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace tarn {

template <class E>
struct Unexpected {
  E error;
};

/// Wraps an error so that it converts to any Result with that error type.
/// **Example**: `return fail(RunError{"Out of fuel (Gas limit exceeded)"});`
template <class E>
Unexpected<std::decay_t<E>> fail(E&& error) {
  return {std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : data_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(Unexpected<E> failure) : data_(std::in_place_index<1>, std::move(failure.error)) {}  // NOLINT

  bool has_value() const noexcept { return data_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  T& value() & { return std::get<0>(data_); }
  const T& value() const& { return std::get<0>(data_); }
  T&& value() && { return std::get<0>(std::move(data_)); }
  E& error() & { return std::get<1>(data_); }
  const E& error() const& { return std::get<1>(data_); }
  E&& error() && { return std::get<1>(std::move(data_)); }

  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

 private:
  std::variant<T, E> data_;
};

template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  Result(Unexpected<E> failure) : error_(std::move(failure.error)) {}  // NOLINT: implicit by design

  bool has_value() const noexcept { return !error_.has_value(); }
  explicit operator bool() const noexcept { return has_value(); }

  E& error() & { return *error_; }
  const E& error() const& { return *error_; }
  E&& error() && { return *std::move(error_); }

 private:
  std::optional<E> error_;
};

}  // namespace tarn
