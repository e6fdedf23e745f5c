// An ordered dictionary keyed by text whose key comparison ignores letter
// case: items keep the order they were added in, and a key is found in
// constant time whatever its letter case. Every collection of the device
// table (and a device record's kept items) is one of these.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/text.h"

namespace corvane {

template <typename V>
class Dictionary {
 public:
  using Item = std::pair<std::string, V>;

  // Adds the item unless its key is already held; returns whether it did.
  bool Add(std::string key, V value) {
    std::string folded = ToLower(key);
    if (index_.count(folded)) return false;
    index_.emplace(std::move(folded), items_.size());
    items_.emplace_back(std::move(key), std::move(value));
    return true;
  }
  // Sets the value of a key, adding the item when it is missing.
  void Set(std::string key, V value) {
    if (V* v = Find(key)) {
      *v = std::move(value);
    } else {
      Add(std::move(key), std::move(value));
    }
  }
  V* Find(std::string_view key) {
    auto it = index_.find(ToLower(key));
    return it == index_.end() ? nullptr : &items_[it->second].second;
  }
  const V* Find(std::string_view key) const {
    auto it = index_.find(ToLower(key));
    return it == index_.end() ? nullptr : &items_[it->second].second;
  }
  bool Exists(std::string_view key) const { return index_.count(ToLower(key)) != 0; }
  bool Remove(std::string_view key) {
    auto it = index_.find(ToLower(key));
    if (it == index_.end()) return false;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(it->second));
    Reindex();
    return true;
  }
  void Clear() {
    items_.clear();
    index_.clear();
  }
  size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }

  // Items in the order they were added.
  const Item& At(size_t i) const { return items_.at(i); }
  Item& At(size_t i) { return items_.at(i); }
  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  void Reindex() {
    index_.clear();
    for (size_t i = 0; i < items_.size(); ++i) index_.emplace(ToLower(items_[i].first), i);
  }

  std::vector<Item> items_;
  std::unordered_map<std::string, size_t> index_;  // lower-cased key -> position
};

}  // namespace corvane
