#include "xap/xap_message.h"

#include <algorithm>
#include <bit>
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
// Up to this many sections, or items in a section, the parse and the
// look-ups compare a name with each (cheaper than hashing it) and leave them
// out of the table.
constexpr size_t kScanAtMost = 8;
// Zero bytes after the parse's copy of the text, which XapLineReader reads.
constexpr size_t kPadding = 64;

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// EqualsIgnoreCase of core, inline here: the parser compares names at every
// header line and every hit of a look-up.
[[gnu::always_inline]] inline bool Same(std::string_view a, std::string_view b) {
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

// True when `name`, as long as `lower`, equals it ignoring letter case;
// `lower` is lower-case letters only, so setting bit 5 of every byte of
// `name` is the whole fold.
template <size_t N>
bool IsName(std::string_view name, const char (&lower)[N]) {
  static_assert(N >= 2 && N <= 9);
  uint64_t word = 0, want = 0;
  std::memcpy(&word, name.data(), N - 1);
  std::memcpy(&want, lower, N - 1);
  return (word | (0x2020202020202020ull >> (8 * (9 - N)))) == want;
}

std::string_view Trim(std::string_view s) {
  if (s.empty() || (s.front() != ' ' && s.back() != ' ')) return s;  // the usual name
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

#if defined(__SSE2__)
// Bit i set when byte i of the chunk is `c`.
unsigned Hits(__m128i chunk, char c) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(c))));
}

// The number of bits set in a 16-bit mask (without relying on a popcount
// instruction, which the build does not assume).
size_t CountBits16(unsigned x) {
  x = x - ((x >> 1) & 0x5555u);
  x = (x & 0x3333u) + ((x >> 2) & 0x3333u);
  x = (x + (x >> 4)) & 0x0F0Fu;
  return (x + (x >> 8)) & 0x1Fu;
}
#endif

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
    n.lines += CountBits16(Hits(chunk, '\n') >> shift);
    n.braces += CountBits16(Hits(chunk, '}') >> shift);
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
  const void* colon = std::memchr(s.data(), ':', s.size());
  return colon ? s.substr(0, static_cast<size_t>(static_cast<const char*>(colon) - s.data())) : s;
}

}  // namespace

// Walks the lines of a text that has kPadding zero bytes after its end. Line
// feeds and "=" signs are found 64 bytes at a time as bit masks, so a line
// costs a few bit operations, and finding a line's end does not wait for
// the search that found the previous one.
class XapLineReader {
 public:
  struct Line {
    size_t pos, len;
    size_t eq;  // where the first "=" is, from pos; len when there is none
  };

  XapLineReader(const char* text, size_t size) : text_(text), size_(size) { Load(); }

  // The next line; false past the end. A text that ends with a line feed
  // has one empty line after it.
  [[gnu::always_inline]] bool Next(Line& out) {
    if (lf_ == 0) [[unlikely]] return NextBlock(out);
    return Take(out, kNone);
  }

 private:
  static constexpr size_t kNone = ~size_t{0};

  static size_t Lowest(uint64_t bits) { return static_cast<size_t>(__builtin_ctzll(bits)); }

  // The line that ends at this block's first line feed not yet taken; `eq`
  // is where its "=" is when an earlier block had one.
  [[gnu::always_inline]] bool Take(Line& out, size_t eq) {
    const size_t at = Lowest(lf_);
    lf_ &= lf_ - 1;
    const uint64_t upto = (uint64_t{2} << at) - 1;  // bits 0..at (all of them for 63)
    const uint64_t mine = eq_ & upto;
    eq_ &= ~upto;
    const size_t end = base_ + at;
    if (eq == kNone) eq = mine != 0 ? base_ + Lowest(mine) : end;
    out = Line{pos_, end - pos_, eq - pos_};
    pos_ = end + 1;
    return true;
  }

  // A line that goes on past this block, or the end of the text.
  bool NextBlock(Line& out) {
    if (pos_ > size_) return false;
    size_t eq = eq_ != 0 ? base_ + Lowest(eq_) : kNone;
    for (;;) {
      base_ += 64;
      if (base_ >= size_) {
        // The line that ends with the text.
        out = Line{pos_, size_ - pos_, (eq == kNone ? size_ : eq) - pos_};
        pos_ = size_ + 1;
        return true;
      }
      Load();
      if (lf_ != 0) return Take(out, eq);
      if (eq == kNone && eq_ != 0) eq = base_ + Lowest(eq_);
    }
  }

  // The masks of the 64 bytes from base_ (the padding has neither sign).
  void Load() {
    const char* p = text_ + base_;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i eq = _mm_set1_epi8('=');
    uint64_t lfs = 0, eqs = 0;
    for (int i = 0; i < 4; ++i) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
      lfs |= static_cast<uint64_t>(static_cast<uint16_t>(
                 _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, lf))))
             << (16 * i);
      eqs |= static_cast<uint64_t>(static_cast<uint16_t>(
                 _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, eq))))
             << (16 * i);
    }
    lf_ = lfs;
    eq_ = eqs;
#else
    lf_ = eq_ = 0;
    for (int i = 0; i < 64; ++i) {
      lf_ |= static_cast<uint64_t>(p[i] == '\n') << i;
      eq_ |= static_cast<uint64_t>(p[i] == '=') << i;
    }
#endif
  }

  const char* text_;
  size_t size_;
  size_t pos_ = 0;   // where the next line starts
  size_t base_ = 0;  // the block the masks describe
  uint64_t lf_ = 0;  // its line feeds not yet taken
  uint64_t eq_ = 0;  // its "=" signs after the last line feed taken
};

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
  out_.Add(uid_.text);
  out_.Add("\nclass=");
  out_.Add(class_.text);
  out_.Add("\nsource=");
  out_.Add(source_.text);
  out_.Add('\n');
  if (!target_.text.empty()) {
    out_.Add("target=");
    out_.Add(target_.text);
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

[[gnu::always_inline]] inline int XapMessage::FindSection(std::string_view name) const {
  // Readers take several items of one section in a row.
  if (last_section_ >= 0 && Same(View(sections_[static_cast<size_t>(last_section_)].name), name)) {
    return last_section_;
  }
  int found = -1;
  if (sections_.size() <= kScanAtMost) {
    for (size_t i = 0; i < sections_.size(); ++i) {
      if (Same(View(sections_[i].name), name)) {
        found = static_cast<int>(i);
        break;
      }
    }
  } else {
    const uint32_t slot = slots_[SectionSlot(name, HashIgnoreCase(name, kSectionSeed))];
    found = static_cast<int>(slot & ~kSectionSlot) - 1;
  }
  if (found >= 0) last_section_ = found;
  return found;
}

[[gnu::always_inline]] inline int64_t XapMessage::FindItem(uint32_t section_no,
                                                           std::string_view key) const {
  const Section& s = sections_[section_no];
  if (s.end - s.begin <= kScanAtMost) {
    for (uint32_t i = s.begin; i < s.end; ++i) {
      if (Same(View(items_[i].key), key)) return i;
    }
    return -1;
  }
  const uint32_t slot =
      slots_[ItemSlot(section_no, key, HashIgnoreCase(key, ItemSeed(section_no)))];
  return static_cast<int64_t>(slot) - 1;
}

void XapMessage::UseTable() {
  if (table_ready_) return;
  std::memset(slots_.data, 0, slots_.size() * sizeof(uint32_t));
  table_ready_ = true;
}

// The sections registered so far into the table, when they become more
// than a look-up compares one by one.
void XapMessage::IndexSections() {
  UseTable();
  for (size_t i = 0; i < sections_.size(); ++i) {
    Section& s = sections_[i];
    s.hash = HashIgnoreCase(View(s.name), kSectionSeed);
    slots_[SectionSlot(View(s.name), s.hash)] = static_cast<uint32_t>(i + 1) | kSectionSlot;
  }
}

// Likewise the items of a section (their count stored in the section).
void XapMessage::IndexItems(uint32_t section_no) {
  UseTable();
  const Section& s = sections_[section_no];
  for (uint32_t i = s.begin; i < s.end; ++i) {
    Item& item = items_[i];
    item.hash = HashIgnoreCase(View(item.key), ItemSeed(section_no));
    slots_[ItemSlot(section_no, View(item.key), item.hash)] = i + 1;
  }
}

bool XapMessage::RegisterSection(Span name) {
  const auto n = static_cast<uint32_t>(items_.size());
  if (sections_.size() < kScanAtMost) {
    for (size_t i = 0; i < sections_.size(); ++i) {
      if (Same(View(sections_[i].name), View(name))) return false;
    }
    sections_.push_back(Section{name, 0, n, n});
    return true;
  }
  if (sections_.size() == kScanAtMost) IndexSections();
  const uint32_t hash = HashIgnoreCase(View(name), kSectionSeed);
  const size_t at = SectionSlot(View(name), hash);
  if (slots_[at] != 0) return false;
  sections_.push_back(Section{name, hash, n, n});
  slots_[at] = static_cast<uint32_t>(sections_.size()) | kSectionSlot;
  return true;
}

void XapMessage::HeaderField(std::string_view name, std::string_view value) {
  // Most header lines are none of these four ("v", "hop").
  Field* field = nullptr;
  if (name.size() == 3) {
    if (IsName(name, "uid")) field = &uid_;
  } else if (name.size() == 5) {
    if (IsName(name, "class")) field = &class_;
  } else if (name.size() == 6) {
    if (IsName(name, "source")) {
      field = &source_;
    } else if (IsName(name, "target")) {
      field = &target_;
    }
  }
  if (field) {
    field->text = value;
    field->parsed = true;
  }
}

void XapMessage::StartParse(std::string_view text) {
  // The fields the new text does not set keep their values.
  class_.KeepParsed();
  source_.KeepParsed();
  target_.KeepParsed();
  uid_.KeepParsed();
  last_section_ = -1;
  // Every item and every section name takes a line, and every section
  // follows a "}", so these bound what the parse can register.
  const LineCount count = CountLines(text);
  const size_t table = std::max<size_t>(16, std::bit_ceil(2 * (count.lines + 1)));
  const size_t bytes = count.lines * sizeof(Item) + count.braces * sizeof(Section) +
                       table * sizeof(uint32_t) + text.size() + kPadding;
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
  // The table is cleared when a section or the section list grows past
  // kScanAtMost; smaller messages never use it.
  slots_ = {reinterpret_cast<uint32_t*>(block), table};
  table_ready_ = false;
  block += table * sizeof(uint32_t);
  // The copy of the text, with the zero bytes LineReader reads past its end.
  auto* copy = reinterpret_cast<char*>(block);
  std::memcpy(copy, text.data(), text.size());
  std::memset(copy + text.size(), 0, kPadding);
  raw_ = std::string_view(copy, text.size());
}

// After a "}" alone: a section's name line, its items up to the next "}"
// alone, and so on.
[[gnu::always_inline]] inline void XapMessage::ReadSections(XapLineReader& lines) {
  XapLineReader::Line line;
  do {
    if (!lines.Next(line)) return Fault(kNoNameLine);
    if (!RegisterSection(Span{static_cast<uint32_t>(line.pos), static_cast<uint32_t>(line.len)})) {
      return Fault(kDuplicateKey);
    }
  } while (ReadItems(lines));
}

// The items of the section registered last, up to a "}" alone (true), the
// end of the text or a repeated name (false). This runs for every item, so
// the counts live in locals and are stored when the loop is left, and the
// reader stays in registers (both are inline in FromXap). The first
// kScanAtMost items are compared with those before them; the table takes
// the section's items from the next one on.
[[gnu::always_inline]] inline bool XapMessage::ReadItems(XapLineReader& lines) {
  const char* const base = raw_.data();
  Item* const items = items_.data;
  const uint32_t begin = sections_.back().begin;
  uint32_t count = begin;
  auto store_count = [&] {
    items_.count = count;
    sections_.back().end = count;
  };
  auto add = [&](std::string_view name, const XapLineReader::Line& line, uint32_t hash) {
    Item& item = items[count++];
    item.key.pos = static_cast<uint32_t>(name.data() - base);
    item.key.len = static_cast<uint32_t>(name.size());
    item.line.pos = static_cast<uint32_t>(line.pos);
    item.line.len = static_cast<uint32_t>(line.len);
    item.hash = hash;
  };
  // Whether the line ends the section ("}" alone, true) or is to be skipped.
  auto is_brace = [&](const XapLineReader::Line& line) {
    return line.len == 1 && base[line.pos] == '}';
  };
  XapLineReader::Line line;
  while (count - begin < kScanAtMost) {
    if (!lines.Next(line)) {
      store_count();
      return false;
    }
    if (line.eq == line.len) {
      if (!is_brace(line)) continue;
      store_count();
      return true;
    }
    const std::string_view name = Trim(std::string_view(base + line.pos, line.eq));
    for (uint32_t i = begin; i < count; ++i) {
      if (Same(View(items[i].key), name)) {
        store_count();
        Fault(kDuplicateKey);
        return false;
      }
    }
    add(name, line, 0);
  }

  const auto section_no = static_cast<uint32_t>(sections_.size() - 1);
  const uint64_t seed = ItemSeed(section_no);
  uint32_t* const slots = slots_.data;
  const size_t mask = slots_.size() - 1;
  bool indexed = false;
  while (lines.Next(line)) {
    if (line.eq == line.len) {
      if (!is_brace(line)) continue;
      store_count();
      return true;
    }
    if (!indexed) [[unlikely]] {
      store_count();
      IndexItems(section_no);
      indexed = true;
    }
    const std::string_view name = Trim(std::string_view(base + line.pos, line.eq));
    const uint32_t hash = HashIgnoreCase(name, seed);
    // Usually the first slot looked at is free: no probe needed.
    size_t at = hash & mask;
    if (slots[at] != 0) [[unlikely]] {
      store_count();
      at = ItemSlot(section_no, name, hash);
      if (slots[at] != 0) {
        Fault(kDuplicateKey);
        return false;
      }
    }
    slots[at] = count + 1;
    add(name, line, hash);
  }
  store_count();
  return false;
}

int XapMessage::FromXap(std::string_view sRawMessage) {
  if (sRawMessage.empty() || sRawMessage.size() >= UINT32_MAX / 2) return 0;
  StartParse(sRawMessage);

  const char* const base = raw_.data();
  XapLineReader lines(base, raw_.size());
  XapLineReader::Line line;
  lines.Next(line);
  const std::string_view first(base, line.len);
  if (!first.starts_with("xap-header") &&
      FindIgnoreCase(first, "xap-header") == std::string_view::npos) {
    return 0;
  }
  if (!lines.Next(line)) return 0;  // the line after the first is skipped

  // The header's fields, up to the first "}" alone.
  while (lines.Next(line)) {
    const char* text = base + line.pos;
    if (line.eq == line.len) {
      if (line.len == 1 && text[0] == '}') {
        ReadSections(lines);
        return 0;
      }
      continue;
    }
    HeaderField(Trim(std::string_view(text, line.eq)),
                Trim(std::string_view(text + line.eq + 1, line.len - line.eq - 1)));
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
  return Same(sClass, class_.text);
}

}  // namespace corvane
