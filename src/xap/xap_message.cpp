#include "xap/xap_message.h"

#include <algorithm>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/event_log.h"
#include "core/text.h"

namespace corvane {

namespace {

constexpr uint32_t kSectionSlot = 0x80000000u;

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// EqualsIgnoreCase of core, inline here: the parser compares names at every
// header line and every hit of a look-up.
bool Same(std::string_view a, std::string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  // Names usually match exactly: whole words first (the last one overlaps).
  auto word = [](const char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
  };
  auto half = [](const char* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
  };
  if (n >= 8) {
    size_t i = 0;
    while (i + 8 <= n && word(a.data() + i) == word(b.data() + i)) i += 8;
    if (i + 8 > n && word(a.data() + n - 8) == word(b.data() + n - 8)) return true;
  } else if (n >= 4) {
    if (half(a.data()) == half(b.data()) && half(a.data() + n - 4) == half(b.data() + n - 4)) {
      return true;
    }
  }
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i] && Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// The first line feed in [p, end), or end. Lines are short, so sixteen bytes
// at a time inline beat a library call per line.
const char* NextLineFeed(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  for (; end - p >= 16; p += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, lf));
    if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
  }
#endif
  const void* hit = std::memchr(p, '\n', static_cast<size_t>(end - p));
  return hit ? static_cast<const char*>(hit) : end;
}
constexpr std::string_view kDuplicateKey =
    "This key is already associated with an element of this collection";
constexpr std::string_view kNoNameLine = "Subscript out of range";

// A hash of a name that two names equal ignoring letter case share: eight
// bytes at a time with bit 5 set in every byte (which maps A-Z onto a-z and
// leaves other pairs to the exact compare that follows every hit). `seed`
// keeps items of different sections and section names apart.
[[gnu::always_inline]] inline uint32_t HashIgnoreCase(std::string_view s, uint64_t seed) {
  constexpr uint64_t kFold = 0x2020202020202020ull;
  constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
  uint64_t h = (seed + s.size()) * kMul;
  const char* p = s.data();
  size_t n = s.size();
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ (w | kFold)) * kMul;
    h ^= h >> 29;
  }
  if (n >= 4) {
    // Two loads that overlap cover 4 to 7 bytes.
    uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    h = (h ^ ((a | (static_cast<uint64_t>(b) << 32)) | kFold)) * kMul;
  } else if (n > 0) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    const uint64_t w =
        u[0] | (static_cast<uint64_t>(u[n / 2]) << 8) | (static_cast<uint64_t>(u[n - 1]) << 16);
    h = (h ^ (w | kFold)) * kMul;
  }
  // Every input bit reaches the low bits, which pick the slot.
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  return static_cast<uint32_t>(h);
}

constexpr uint64_t kSectionSeed = 0x51ED27;

uint64_t ItemSeed(uint32_t section_no) {
  return static_cast<uint64_t>(section_no) + 1;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

#if defined(__SSE2__)
// Bit i set when byte i of the chunk is `c`.
unsigned Hits(__m128i chunk, char c) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(c))));
}

unsigned LowestBit(unsigned bits) {
  return static_cast<unsigned>(__builtin_ctz(bits));
}
#endif

// The length of the line that starts at `p` (up to its line feed or `end`)
// and, in `eq`, where its first "=" is (the length when it has none). The
// 16 bytes before `end` must be readable (the parse's block keeps its table
// before the text), so that a line of fewer than 16 bytes, the usual kind,
// takes one look wherever it lies.
size_t ScanLine(const char* p, const char* end, size_t& eq) {
#if defined(__SSE2__)
  const auto rest = static_cast<size_t>(end - p);
  // The 16 bytes from p, or the last 16 shifted so that bit 0 stands for p.
  const unsigned shift = rest >= 16 ? 0 : static_cast<unsigned>(16 - rest);
  const __m128i chunk =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(rest >= 16 ? p : end - 16));
  const unsigned lfs = Hits(chunk, '\n') >> shift;
  unsigned eqs = Hits(chunk, '=') >> shift;
  if (lfs != 0 || rest < 16) {
    const size_t len = lfs != 0 ? LowestBit(lfs) : rest;
    eqs &= (1u << len) - 1;  // len < 16
    eq = eqs != 0 ? LowestBit(eqs) : len;
    return len;
  }
  // A longer line: its "=" is usually among its first 16 bytes.
  const auto len = static_cast<size_t>(NextLineFeed(p + 16, end) - p);
  if (eqs != 0) {
    eq = LowestBit(eqs);
    return len;
  }
  eq = 16;
#else
  const auto len = static_cast<size_t>(NextLineFeed(p, end) - p);
  eq = 0;
#endif
  while (eq < len && p[eq] != '=') ++eq;
  return len;
}

struct LineCount {
  size_t lines = 1;  // line feeds + 1
  size_t braces = 0;
};

// Line feeds and "}" characters, sixteen bytes at a time.
LineCount CountLines(std::string_view text) {
  LineCount n;
  const char* p = text.data();
  const char* const end = p + text.size();
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i brace = _mm_set1_epi8('}');
  const __m128i zero = _mm_setzero_si128();
  while (end - p >= 16) {
    // Byte counters, summed before any of them can pass 255.
    __m128i lfs = zero, braces = zero;
    for (int k = 0; k < 255 && end - p >= 16; ++k, p += 16) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      lfs = _mm_sub_epi8(lfs, _mm_cmpeq_epi8(chunk, lf));
      braces = _mm_sub_epi8(braces, _mm_cmpeq_epi8(chunk, brace));
    }
    auto sum = [&](__m128i counts) {
      const __m128i s = _mm_sad_epu8(counts, zero);
      return static_cast<size_t>(_mm_cvtsi128_si64(s)) +
             static_cast<size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(s, s)));
    };
    n.lines += sum(lfs);
    n.braces += sum(braces);
  }
  if (p < end && text.size() >= 16) {
    // The last 16 bytes, less those already counted.
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
    const auto shift = static_cast<unsigned>(16 - (end - p));
    n.lines += static_cast<size_t>(__builtin_popcount(Hits(chunk, '\n') >> shift));
    n.braces += static_cast<size_t>(__builtin_popcount(Hits(chunk, '}') >> shift));
    return n;
  }
#endif
  for (; p < end; ++p) {
    n.lines += *p == '\n';
    n.braces += *p == '}';
  }
  return n;
}

// The next dot-separated part of `s` from `pos`; `last` tells whether it is
// the final one.
std::string_view NextPart(std::string_view s, size_t& pos, bool& last) {
  size_t dot = pos;
  while (dot < s.size() && s[dot] != '.') ++dot;
  const std::string_view part = s.substr(pos, dot - pos);
  last = dot == s.size();
  pos = last ? s.size() : dot + 1;
  return part;
}

std::string_view BeforeColon(std::string_view s) {
  size_t colon = 0;
  while (colon < s.size() && s[colon] != ':') ++colon;
  return s.substr(0, colon);
}

}  // namespace

bool CompareXapAddress(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return false;
  a = BeforeColon(a);
  b = BeforeColon(b);
  if (Same(a, b)) return true;  // the usual case: an address compared with itself
  size_t pa = 0, pb = 0;
  while (true) {
    bool last_a = false, last_b = false;
    std::string_view x = NextPart(a, pa, last_a);
    std::string_view y = NextPart(b, pb, last_b);
    if (x == ">" || y == ">") return true;
    if (x != "*" && y != "*" && !Same(x, y)) return false;
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
  const int64_t at = msg_->FindItem(section_, key);
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

// The slot of the section or item asked for, or the free slot where it
// would go. Plain loops: these run for every item parsed.
size_t XapMessage::SectionSlot(std::string_view name, uint32_t hash) const {
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const uint32_t slot = slots_[i];
    if (slot == 0) return i;
    if (!(slot & kSectionSlot)) continue;
    const Section& s = sections_[(slot & ~kSectionSlot) - 1];
    if (s.hash == hash && Same(View(s.name), name)) return i;
  }
}

size_t XapMessage::ItemSlot(uint32_t section_no, std::string_view key, uint32_t hash) const {
  const Section& s = sections_[section_no];
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const uint32_t slot = slots_[i];
    if (slot == 0) return i;
    const uint32_t at = slot - 1;
    if (!(slot & kSectionSlot) && items_[at].hash == hash && at >= s.begin && at < s.end &&
        Same(View(items_[at].key), key)) {
      return i;
    }
  }
}

int XapMessage::FindSection(std::string_view name) const {
  if (slots_.empty()) return -1;
  // Readers take several items of one section in a row.
  if (last_section_ >= 0 && Same(View(sections_[static_cast<size_t>(last_section_)].name), name)) {
    return last_section_;
  }
  const uint32_t slot = slots_[SectionSlot(name, HashIgnoreCase(name, kSectionSeed))];
  if (slot == 0) return -1;
  last_section_ = static_cast<int>((slot & ~kSectionSlot) - 1);
  return last_section_;
}

int64_t XapMessage::FindItem(uint32_t section_no, std::string_view key) const {
  if (slots_.empty()) return -1;
  const uint32_t slot =
      slots_[ItemSlot(section_no, key, HashIgnoreCase(key, ItemSeed(section_no)))];
  return slot == 0 ? -1 : static_cast<int64_t>(slot) - 1;
}

bool XapMessage::RegisterSection(Span name) {
  const uint32_t hash = HashIgnoreCase(View(name), kSectionSeed);
  const size_t at = SectionSlot(View(name), hash);
  if (slots_[at] != 0) return false;
  const auto n = static_cast<uint32_t>(items_.size());
  sections_.push_back(Section{name, hash, n, n});
  slots_[at] = static_cast<uint32_t>(sections_.size()) | kSectionSlot;
  return true;
}

bool XapMessage::AddParsedItem(Span key, Span line) {
  const auto section_no = static_cast<uint32_t>(sections_.size() - 1);
  const uint32_t hash = HashIgnoreCase(View(key), ItemSeed(section_no));
  // Usually the first slot looked at is free: no probe needed.
  size_t at = hash & (slots_.size() - 1);
  if (slots_[at] != 0) {
    at = ItemSlot(section_no, View(key), hash);
    if (slots_[at] != 0) return false;
  }
  items_.push_back(Item{key, line, hash});
  sections_.back().end++;
  slots_[at] = static_cast<uint32_t>(items_.size());
  return true;
}

void XapMessage::HeaderField(std::string_view name, std::string_view value) {
  // Most header lines are none of these four ("v", "hop").
  const char first = Lower(name.empty() ? '\0' : name[0]);
  if (first != 'u' && first != 'c' && first != 's' && first != 't') return;
  switch (name.size()) {
    case 3:
      if (Same(name, "uid")) uid_.assign(value);
      break;
    case 5:
      if (Same(name, "class")) class_.assign(value);
      break;
    case 6:
      if (Same(name, "source")) {
        source_.assign(value);
      } else if (Same(name, "target")) {
        target_.assign(value);
      }
      break;
    default:
      break;
  }
}

void XapMessage::StartParse(std::string_view text) {
  last_section_ = -1;
  // Every item and every section name takes a line, and every section
  // follows a "}", so these bound what the parse can register.
  const LineCount count = CountLines(text);
  size_t table = 16;
  while (table < 2 * (count.lines + 1)) table *= 2;
  const size_t bytes = count.lines * sizeof(Item) + count.braces * sizeof(Section) +
                       table * sizeof(uint32_t) + text.size();
  std::byte* block = inline_;
  if (bytes > sizeof inline_) {
    if (heap_size_ < bytes) {
      heap_ = std::make_unique_for_overwrite<std::byte[]>(bytes);
      heap_size_ = bytes;
    }
    block = heap_.get();
  }
  items_ = {reinterpret_cast<Item*>(block), 0};
  block += count.lines * sizeof(Item);
  sections_ = {reinterpret_cast<Section*>(block), 0};
  block += count.braces * sizeof(Section);
  slots_ = {reinterpret_cast<uint32_t*>(block), table};
  std::memset(slots_.data, 0, table * sizeof(uint32_t));
  // The text comes last: the table's 64 bytes or more before it are what
  // ScanLine may look at before the text's last 16 bytes.
  block += table * sizeof(uint32_t);
  auto* copy = reinterpret_cast<char*>(block);
  std::memcpy(copy, text.data(), text.size());
  raw_ = std::string_view(copy, text.size());
}

int XapMessage::FromXap(std::string_view sRawMessage) {
  if (sRawMessage.empty() || sRawMessage.size() >= UINT32_MAX / 2) return 0;
  StartParse(sRawMessage);

  size_t pos = 0;
  const size_t size = raw_.size();
  const char* const base = raw_.data();
  size_t eq_at = 0;  // of the line read last: where its first "=" is (its length: none)
  auto next_line = [&](Span& out) {
    if (pos > size) return false;
    const size_t len = ScanLine(base + pos, base + size, eq_at);
    out = Span{static_cast<uint32_t>(pos), static_cast<uint32_t>(len)};
    pos += len + 1;
    return true;
  };

  Span line;
  next_line(line);
  if (!View(line).starts_with("xap-header") &&
      FindIgnoreCase(View(line), "xap-header") == std::string_view::npos) {
    return 0;
  }
  if (!next_line(line)) return 0;  // the line after the first is skipped

  while (next_line(line)) {
    const char* text = base + line.pos;
    if (line.len == 1 && text[0] == '}') {
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
    if (eq_at == line.len) continue;
    const std::string_view name = Trim(std::string_view(text, eq_at));
    if (sections_.empty()) {
      HeaderField(name, Trim(std::string_view(text + eq_at + 1, line.len - eq_at - 1)));
      continue;
    }
    const Span key{static_cast<uint32_t>(name.data() - base), static_cast<uint32_t>(name.size())};
    if (!AddParsedItem(key, line)) {
      Fault(kDuplicateKey);
      return 0;
    }
  }
  return 0;
}

std::string XapMessage::GetItem(std::string_view sSection, std::string_view sItem) const {
  const int s = FindSection(sSection);
  if (s < 0) return "Unknown";
  const int64_t at = FindItem(static_cast<uint32_t>(s), sItem);
  if (at < 0) return "Unknown";
  const Item& item = items_[static_cast<size_t>(at)];
  // Only spaces lie between the name and its "=".
  size_t eq = item.key.pos + item.key.len;
  while (raw_[eq] != '=') ++eq;
  return std::string(raw_.data() + eq + 1, item.line.pos + item.line.len - eq - 1);
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
  return Same(sClass, class_);
}

}  // namespace corvane
