#include "web/request_queue.h"

#include <algorithm>

namespace corvane {

void RequestQueue::Add(int index, std::string data) {
  bytes_of_[Slot(index)] += data.size();
  ++items_of_[Slot(index)];
  items_.push_back(Item{index, std::move(data)});
}

RequestQueue::Item RequestQueue::TakeFirst() {
  Item item = std::move(items_.front());
  items_.pop_front();
  bytes_of_[Slot(item.index)] -= item.data.size();
  --items_of_[Slot(item.index)];
  return item;
}

void RequestQueue::RemoveSocket(int index) {
  items_.erase(std::remove_if(items_.begin(), items_.end(),
                              [index](const Item& item) { return item.index == index; }),
               items_.end());
  bytes_of_[Slot(index)] = 0;
  items_of_[Slot(index)] = 0;
}

size_t RequestQueue::BytesOf(int index) const {
  return bytes_of_[Slot(index)];
}

size_t RequestQueue::FrontBytesOf(int index) const {
  size_t n = 0;
  for (const auto& item : items_) {
    if (item.index != index) break;
    n += item.data.size();
  }
  return n;
}

void RequestQueue::Clear() {
  items_.clear();
  bytes_of_.fill(0);
  items_of_.fill(0);
}

}  // namespace corvane
