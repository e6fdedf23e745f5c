#include "xap/xap_message.h"

#include <algorithm>
#include <cstring>

#include "core/event_log.h"
#include "core/text.h"

namespace corvane {

namespace {

// Sections or items beyond this many get a hash index; below it a linear
// scan over precomputed hashes is faster.
constexpr uint32_t kIndexThreshold = 16;

constexpr std::string_view kDuplicateKey =
    "This key is already associated with an element of this collection";
constexpr std::string_view kNoNameLine = "Subscript out of range";

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// FNV-1a over the lower-cased bytes.
uint32_t HashIgnoreCase(std::string_view s) {
  uint32_t h = 2166136261u;
  for (char c : s) {
    h ^= static_cast<unsigned char>(Lower(c));
    h *= 16777619u;
  }
  return h;
}

// The next dot-separated part of `s` from `pos`; `last` tells whether it is
// the final one.
std::string_view NextPart(std::string_view s, size_t& pos, bool& last) {
  size_t dot = s.find('.', pos);
  std::string_view part = s.substr(pos, dot == std::string_view::npos ? s.npos : dot - pos);
  last = dot == std::string_view::npos;
  pos = last ? s.size() : dot + 1;
  return part;
}

std::string_view BeforeColon(std::string_view s) {
  return s.substr(0, s.find(':'));
}

}  // namespace

bool CompareXapAddress(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return false;
  a = BeforeColon(a);
  b = BeforeColon(b);
  size_t pa = 0, pb = 0;
  while (true) {
    bool last_a = false, last_b = false;
    std::string_view x = NextPart(a, pa, last_a);
    std::string_view y = NextPart(b, pb, last_b);
    if (x == ">" || y == ">") return true;
    if (x != "*" && y != "*" && !EqualsIgnoreCase(x, y)) return false;
    if (last_a || last_b) return last_a && last_b;
  }
}

// --- XapItemCollection --------------------------------------------------------

std::string XapItemCollection::Key(size_t i) const {
  return ToLower(msg_->View(msg_->items_.at(begin_ + i).key));
}

std::string_view XapItemCollection::Line(size_t i) const {
  return msg_->View(msg_->items_.at(begin_ + i).line);
}

std::optional<std::string_view> XapItemCollection::Find(std::string_view key) const {
  const auto& s = msg_->sections_[section_];
  int64_t at = msg_->FindItem(s, section_, key, HashIgnoreCase(key));
  if (at < 0) return std::nullopt;
  return msg_->View(msg_->items_[static_cast<size_t>(at)].line);
}

// --- XapMessage: writing ------------------------------------------------------

XapMessage::~XapMessage() = default;

int XapMessage::Init(std::string_view) {
  out_.Reset();
  return 0;
}

int XapMessage::AddHeader() {
  out_.Add("xap-header\n{\nv=13\nhop=1\nuid=");
  out_.Add(uid_);
  out_.Add("\nclass=");
  out_.Add(class_);
  out_.Add("\nsource=");
  out_.Add(source_);
  out_.Add('\n');
  if (!target_.empty()) {
    out_.Add("target=");
    out_.Add(target_);
    out_.Add('\n');
  }
  out_.Add("}\n");
  section_open_ = false;
  return 0;
}

int XapMessage::AddSection(std::string_view sSection) {
  if (section_open_) out_.Add("}\n");
  out_.Add(sSection);
  out_.Add("\n{\n");
  section_open_ = true;
  return 0;
}

int XapMessage::AddItem(std::string_view, std::string_view sItem, std::string_view sValue) {
  out_.Add(sItem);
  out_.Add('=');
  out_.Add(sValue);
  out_.Add('\n');
  return 0;
}

std::string XapMessage::ToXap() const {
  std::string text;
  text.reserve(out_.size() + 2);
  text.append(out_.Value());
  text.append("}\n");
  return text;
}

// --- XapMessage: parsing ------------------------------------------------------

void XapMessage::Fault(std::string_view description) const {
  if (log_) log_->WriteErrorLog("From XAP", "", description);
}

int XapMessage::FindSection(std::string_view name, uint32_t hash) const {
  if (section_index_) {
    auto range = section_index_->equal_range(hash);
    for (auto it = range.first; it != range.second; ++it) {
      if (EqualsIgnoreCase(View(sections_[it->second].name), name)) {
        return static_cast<int>(it->second);
      }
    }
    return -1;
  }
  for (size_t i = 0; i < sections_.size(); ++i) {
    if (sections_[i].hash == hash && EqualsIgnoreCase(View(sections_[i].name), name)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int64_t XapMessage::FindItem(const Section& s, uint32_t section_no, std::string_view key,
                             uint32_t hash) const {
  auto idx = item_index_.find(section_no);
  if (idx != item_index_.end()) {
    auto range = idx->second.equal_range(hash);
    for (auto it = range.first; it != range.second; ++it) {
      if (EqualsIgnoreCase(View(items_[it->second].key), key)) return it->second;
    }
    return -1;
  }
  for (uint32_t i = s.begin; i < s.end; ++i) {
    if (items_[i].hash == hash && EqualsIgnoreCase(View(items_[i].key), key)) return i;
  }
  return -1;
}

bool XapMessage::RegisterSection(Span name) {
  const uint32_t hash = HashIgnoreCase(View(name));
  if (FindSection(View(name), hash) >= 0) return false;
  const auto n = static_cast<uint32_t>(items_.size());
  sections_.push_back(Section{name, hash, n, n});
  const auto no = static_cast<uint32_t>(sections_.size() - 1);
  if (section_index_) {
    section_index_->emplace(hash, no);
  } else if (sections_.size() > kIndexThreshold) {
    section_index_ = std::make_unique<HashIndex>();
    for (uint32_t i = 0; i < sections_.size(); ++i) section_index_->emplace(sections_[i].hash, i);
  }
  return true;
}

bool XapMessage::AddParsedItem(Span key, Span line) {
  const auto section_no = static_cast<uint32_t>(sections_.size() - 1);
  Section& s = sections_.back();
  const uint32_t hash = HashIgnoreCase(View(key));
  if (FindItem(s, section_no, View(key), hash) >= 0) return false;
  items_.push_back(Item{key, line, hash});
  const auto at = s.end++;
  auto idx = item_index_.find(section_no);
  if (idx != item_index_.end()) {
    idx->second.emplace(hash, at);
  } else if (s.end - s.begin > kIndexThreshold) {
    HashIndex& built = item_index_[section_no];
    for (uint32_t i = s.begin; i < s.end; ++i) built.emplace(items_[i].hash, i);
  }
  return true;
}

int XapMessage::FromXap(std::string_view sRawMessage) {
  if (sRawMessage.empty() || sRawMessage.size() >= UINT32_MAX) return 0;
  raw_.assign(sRawMessage);
  sections_.clear();
  items_.clear();
  section_index_.reset();
  item_index_.clear();

  const auto line_count = static_cast<size_t>(std::count(raw_.begin(), raw_.end(), '\n')) + 1;
  items_.reserve(line_count);
  sections_.reserve(4);

  size_t pos = 0;
  const size_t size = raw_.size();
  auto next_line = [&](Span& out) {
    if (pos > size) return false;
    const void* lf = std::memchr(raw_.data() + pos, '\n', size - pos);
    size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - raw_.data()) : size;
    out = Span{static_cast<uint32_t>(pos), static_cast<uint32_t>(end - pos)};
    pos = end + 1;
    return true;
  };

  Span line;
  next_line(line);
  if (FindIgnoreCase(View(line), "xap-header") == std::string_view::npos) return 0;
  if (!next_line(line)) return 0;  // the line after the first is skipped

  while (next_line(line)) {
    std::string_view text = View(line);
    if (text == "}") {
      Span name;
      if (!next_line(name)) {
        Fault(kNoNameLine);
        return 0;
      }
      if (!RegisterSection(name)) {
        Fault(kDuplicateKey);
        return 0;
      }
      continue;
    }
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view name = TrimSpaces(text.substr(0, eq));
    if (sections_.empty()) {
      std::string_view value = TrimSpaces(text.substr(eq + 1));
      if (EqualsIgnoreCase(name, "uid")) {
        uid_.assign(value);
      } else if (EqualsIgnoreCase(name, "class")) {
        class_.assign(value);
      } else if (EqualsIgnoreCase(name, "source")) {
        source_.assign(value);
      } else if (EqualsIgnoreCase(name, "target")) {
        target_.assign(value);
      }
      continue;
    }
    Span key{static_cast<uint32_t>(name.data() - raw_.data()), static_cast<uint32_t>(name.size())};
    if (!AddParsedItem(key, line)) {
      Fault(kDuplicateKey);
      return 0;
    }
  }
  return 0;
}

std::string XapMessage::GetItem(std::string_view sSection, std::string_view sItem) const {
  int s = FindSection(sSection, HashIgnoreCase(sSection));
  if (s < 0) return "Unknown";
  int64_t at = FindItem(sections_[static_cast<size_t>(s)], static_cast<uint32_t>(s), sItem,
                        HashIgnoreCase(sItem));
  if (at < 0) return "Unknown";
  std::string_view stored = View(items_[static_cast<size_t>(at)].line);
  return std::string(stored.substr(stored.find('=') + 1));
}

std::vector<std::string> XapMessage::MsgSection() const {
  if (sections_.empty()) return {std::string()};
  if (sections_.size() == 1) {
    throw XapMessageError("MsgSection: the message has no section before its last line");
  }
  std::vector<std::string> names;
  names.reserve(sections_.size() - 1);
  for (size_t i = 0; i + 1 < sections_.size(); ++i)
    names.push_back(ToLower(View(sections_[i].name)));
  return names;
}

std::optional<XapItemCollection> XapMessage::msgCollection(int16_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= sections_.size()) return std::nullopt;
  const Section& s = sections_[static_cast<size_t>(index)];
  return XapItemCollection(*this, static_cast<uint32_t>(index), s.begin, s.end);
}

bool XapMessage::CompareClass(std::string_view sClass) const {
  return EqualsIgnoreCase(sClass, class_);
}

}  // namespace corvane
