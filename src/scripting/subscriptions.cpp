#include "scripting/subscriptions.h"

#include <exception>

#include "core/event_log.h"
#include "core/guard.h"
#include "core/text.h"

namespace corvane {

namespace {

// Drops are logged at the first and then at every this many per subscription.
constexpr uint64_t kDropReportEvery = 1000;

// An empty field matches everything; otherwise xAP address matching
// ("*" one part, ">" the rest, letter case ignored).
bool FieldMatches(std::string_view pattern, std::string_view value) {
  return pattern.empty() || CompareXapAddress(pattern, value);
}

// The names of a message's blocks after the header: every line that is
// followed by a "{" line.
std::vector<std::string> SectionNames(std::string_view text) {
  std::vector<std::string> out;
  const auto lines = Split(text, '\n');
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    if (TrimWhite(lines[i + 1]) != "{") continue;
    const std::string name(TrimWhite(lines[i]));
    if (!EqualsIgnoreCase(name, "xap-header") && !EqualsIgnoreCase(name, "xap-hbeat")) {
      out.push_back(name);
    }
  }
  return out;
}

}  // namespace

void ScriptVBS::RemoveMessageHandle(std::string_view handle) {
  for (auto it = handles_.begin(); it != handles_.end(); ++it) {
    if (EqualsIgnoreCase(*it, handle)) {
      handles_.erase(it);
      return;
    }
  }
}

std::string ScriptVBS::MessageHandle() {
  if (handles_.empty()) return "";
  std::string h = std::move(handles_.front());
  handles_.pop_front();
  return h;
}

size_t Subscriptions::Select(std::string_view target, std::string_view cls,
                             std::string_view section, std::string_view source,
                             std::string_view script_path) {
  auto s = std::make_unique<ScriptVBS>();
  s->Target = ToLower(target);
  s->Schema = ToLower(cls);
  s->Section = ToLower(section);
  s->Source = ToLower(source);
  s->Script = ToLower(script_path);
  for (size_t i = 0; i < list_.size(); ++i) {
    const ScriptVBS& e = *list_[i];
    if (e.Target == s->Target && e.Source == s->Source && e.Schema == s->Schema &&
        e.Section == s->Section && e.Script == s->Script) {
      return i + 1;
    }
  }
  list_.push_back(std::move(s));
  return list_.size();
}

bool Subscriptions::DeSelect(std::string_view target, std::string_view cls,
                             std::string_view section, std::string_view script_path) {
  for (auto it = list_.begin(); it != list_.end(); ++it) {
    ScriptVBS& e = **it;
    if (EqualsIgnoreCase(e.Target, target) && EqualsIgnoreCase(e.Schema, cls) &&
        EqualsIgnoreCase(e.Section, section) && EqualsIgnoreCase(e.Script, script_path)) {
      for (const auto& h : e.handles_) Release(h);
      list_.erase(it);
      return true;
    }
  }
  return false;
}

const ScriptVBS* Subscriptions::At(size_t position) const {
  if (position < 1 || position > list_.size()) return nullptr;
  return list_[position - 1].get();
}

std::shared_ptr<const XapMessage> Subscriptions::Next(size_t position) {
  if (position < 1 || position > list_.size()) return nullptr;
  ScriptVBS& s = *list_[position - 1];
  if (s.MessageCount() < 1) return nullptr;
  const std::string handle = s.MessageHandle();
  auto it = store_.find(handle);
  if (it == store_.end()) return nullptr;
  auto message = it->second.message;
  Release(handle);
  return message;
}

void Subscriptions::Release(const std::string& handle) {
  auto it = store_.find(handle);
  if (it != store_.end() && --it->second.refs == 0) store_.erase(it);
}

bool Subscriptions::Matches(const ScriptVBS& s, const XapMessage& m,
                            const std::vector<std::string>& sections) {
  if (!FieldMatches(s.Schema, m.MsgClass()) || !FieldMatches(s.Target, m.MsgTarget()) ||
      !FieldMatches(s.Source, m.MsgSource())) {
    return false;
  }
  if (s.Section.empty()) return true;
  for (const auto& name : sections) {
    if (CompareXapAddress(s.Section, name)) return true;
  }
  return false;
}

void Subscriptions::Offer(const std::string& text) {
  auto message = std::make_shared<XapMessage>();
  message->FromXap(text);
  const std::vector<std::string> sections = SectionNames(text);
  std::string handle;
  for (auto& s : list_) {
    if (!Matches(*s, *message, sections)) continue;
    if (handle.empty()) {
      handle = std::to_string(++next_handle_);
      store_.emplace(handle, Stored{message, 0});
    }
    if (s->handles_.size() >= kMaxHandles) {
      Release(s->handles_.front());
      s->handles_.pop_front();
      if (s->dropped++ % kDropReportEvery == 0) {
        log_.LogEvent("Corvane", "Subscription " + s->Schema + " " + s->Section + ": " +
                                     std::to_string(s->dropped) +
                                     " messages dropped, the oldest first");
      }
    }
    s->AddMessageHandle(handle);
    ++store_[handle].refs;
  }
}

void Subscriptions::Readmessage(const std::string& text) {
  if (!list_.empty()) {
    Guard(log_, "ReceiveXapMessage", [&] { Offer(text); });
  }
  if (next_) next_->Readmessage(text);
}

}  // namespace corvane
