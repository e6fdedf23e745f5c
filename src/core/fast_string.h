// The text builder every page, HTTP answer and xAP message is assembled in:
// many small appends, one read of the whole text at the end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "core/text.h"

namespace corvane {

class FastString {
 public:
  FastString() { Reset(); }

  void Add(std::string_view piece) {
    Count();
    text_.append(piece);
  }
  void Add(const std::string& piece) { Add(std::string_view(piece)); }
  void Add(const char* piece) { Add(std::string_view(piece ? piece : "")); }
  void Add(char c) {
    Count();
    text_.push_back(c);
  }
  template <typename T>
  requires std::is_integral_v<T> &&
      (!std::is_same_v<T, char>)&&(!std::is_same_v<T, bool>)void Add(T n) {
    Count();
    text_.append(std::to_string(n));
  }
  void Add(double v) {
    Count();
    text_.append(NumberText(v));
  }
  void Add(bool b) {
    Count();
    text_.append(b ? "True" : "False");
  }

  // The whole text; reading it does not change the builder.
  const std::string& Value() const { return text_; }
  // Moves the text out and resets the builder.
  std::string Take() {
    std::string out = std::move(text_);
    Reset();
    return out;
  }
  void Reset() {
    text_.clear();
    next_index_ = 1;
    capacity_ = kGrowth;
  }

  // Piece bookkeeping: the index the next piece takes, and the piece capacity
  // (grown in steps of 100).
  int64_t NextIndex() const { return next_index_; }
  int64_t Capacity() const { return capacity_; }
  size_t size() const { return text_.size(); }
  void Reserve(size_t bytes) { text_.reserve(bytes); }

 private:
  static constexpr int64_t kGrowth = 100;
  void Count() {
    if (next_index_ > capacity_) capacity_ += kGrowth;
    ++next_index_;
  }

  std::string text_;
  int64_t next_index_ = 1;
  int64_t capacity_ = kGrowth;
};

}  // namespace corvane
