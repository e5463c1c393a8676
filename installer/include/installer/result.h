#pragma once
// Result<T, E>: either a value or an error, for completions that report one
// outcome.
//
//   Result<std::string, MyError> r = Result<std::string, MyError>::success("a");
//   if (r.isSuccess()) use(r.value()); else handle(r.error());
#include <cassert>
#include <utility>
#include <variant>

namespace quillo {

template <typename T, typename E>
class Result {
 public:
  [[nodiscard]] static Result success(T value) { return Result(std::in_place_index<0>, std::move(value)); }
  [[nodiscard]] static Result failure(E error) { return Result(std::in_place_index<1>, std::move(error)); }

  [[nodiscard]] bool isSuccess() const { return state_.index() == 0; }
  // Requires: isSuccess().
  [[nodiscard]] const T& value() const {
    assert(isSuccess());
    return std::get<0>(state_);
  }
  // Requires: !isSuccess().
  [[nodiscard]] const E& error() const {
    assert(!isSuccess());
    return std::get<1>(state_);
  }

 private:
  template <size_t I, typename V>
  Result(std::in_place_index_t<I> index, V&& v) : state_(index, std::forward<V>(v)) {}
  std::variant<T, E> state_;
};

}  // namespace quillo
