// Everything that arrived from browser connections, in arrival order: one
// item per receive event, holding the receiving socket's index and exactly
// the data that event delivered.
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <string>

namespace corvane {

class RequestQueue {
 public:
  static constexpr int kSockets = 26;  // socket indices 0..25

  struct Item {
    int index = 0;
    std::string data;
  };

  void Add(int index, std::string data);
  bool Empty() const { return items_.empty(); }
  size_t Count() const { return items_.size(); }
  // True when the first item belongs to socket `index`.
  bool FrontIs(int index) const { return !items_.empty() && items_.front().index == index; }
  Item TakeFirst();
  // Removes every item of a socket (its connection is gone).
  void RemoveSocket(int index);
  // Bytes queued for one socket, and whether it has any item.
  size_t BytesOf(int index) const;
  bool Holds(int index) const { return items_of_[Slot(index)] > 0; }
  // Bytes of the items of `index` that stand at the front of the queue.
  size_t FrontBytesOf(int index) const;
  void Clear();

 private:
  static size_t Slot(int index) {
    return index >= 0 && index < kSockets ? static_cast<size_t>(index) : 0;
  }

  std::deque<Item> items_;
  std::array<size_t, kSockets> bytes_of_{};
  std::array<size_t, kSockets> items_of_{};
};

}  // namespace corvane
