// Scripts' subscriptions to xAP messages (SelectXapMessage): each names a
// target, class, section and source (xAP wildcards allowed, empty matches
// anything) and keeps a first-in-first-out list of handles into a store of
// received messages. Every received datagram passes here before the
// program's own handler; a message that matches a subscription is stored
// once and its handle queued for each subscription it matches. A
// subscription keeps at most kMaxHandles; beyond that the oldest is dropped
// and the drops are counted in the log.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "xap/xap_handler.h"
#include "xap/xap_message.h"

namespace corvane {

class EventLog;

// One subscription (fields stored in lower case).
class ScriptVBS {
 public:
  std::string Schema, Target, Source, Section, Script;

  void AddMessageHandle(std::string handle) { handles_.push_back(std::move(handle)); }
  // Removes the first handle equal to `handle` ignoring case.
  void RemoveMessageHandle(std::string_view handle);
  size_t MessageCount() const { return handles_.size(); }
  // Removes and gives the oldest handle; "" when there is none.
  std::string MessageHandle();

  uint64_t dropped = 0;  // handles dropped because the list was full

 private:
  friend class Subscriptions;
  std::deque<std::string> handles_;
};

class Subscriptions final : public XapMessageHandler {
 public:
  static constexpr size_t kMaxHandles = 1000;

  // `next` handles every datagram after the subscriptions saw it.
  Subscriptions(EventLog& log, XapMessageHandler* next) : log_(log), next_(next) {}
  void SetNext(XapMessageHandler* next) { next_ = next; }

  // Adds a subscription unless an equal one (ignoring case) exists; gives
  // its position, counted from 1. `script_path` is already resolved.
  size_t Select(std::string_view target, std::string_view cls, std::string_view section,
                std::string_view source, std::string_view script_path);
  // Removes the first subscription with this target, class, section and
  // script (ignoring case; the source is not compared) and its messages.
  bool DeSelect(std::string_view target, std::string_view cls, std::string_view section,
                std::string_view script_path);
  // The oldest message waiting for the subscription at `position`
  // (from 1); none when there is no such subscription or nothing waits.
  std::shared_ptr<const XapMessage> Next(size_t position);

  size_t Count() const { return list_.size(); }
  const ScriptVBS* At(size_t position) const;
  size_t StoredMessages() const { return store_.size(); }

  void Readmessage(const std::string& text) override;
  // Stores a parsed message for the subscriptions it matches.
  void Offer(const std::string& text);

 private:
  struct Stored {
    std::shared_ptr<const XapMessage> message;
    size_t refs = 0;
  };
  static bool Matches(const ScriptVBS& s, const XapMessage& m,
                      const std::vector<std::string>& sections);
  void Release(const std::string& handle);

  EventLog& log_;
  XapMessageHandler* next_;
  std::vector<std::unique_ptr<ScriptVBS>> list_;
  std::unordered_map<std::string, Stored> store_;
  uint64_t next_handle_ = 0;
};

}  // namespace corvane
