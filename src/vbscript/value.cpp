// The Variant and its rules: reference counting of texts and arrays, texts as
// UTF-8 with the character functions VBScript needs, number parsing and
// formatting, the conversions (CStr, CLng, ...), the arithmetic, logical and
// comparison operators with VBScript's type promotion (Rank: Byte < Integer <
// Long < Single < Double < Currency < Date), and Dictionary key equality.
// The VM's fast paths handle the common Integer and Long cases inline and
// call these for the rest.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "core/datetime.h"
#include "core/text.h"
#include "vbscript/error.h"
#include "vbscript/locale.h"
#include "vbscript/ops.h"

namespace corvane::vbs {

// ---------------------------------------------------------------- Value

bool StrObj::ScanAscii() {
  // Eight bytes at a time: any byte with its top bit set is no ASCII.
  const char* p = text.data();
  const size_t n = text.size();
  uint64_t high = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    high |= w;
  }
  for (; i < n; ++i) high |= static_cast<unsigned char>(p[i]);
  ascii = (high & 0x8080808080808080ull) == 0 ? 1 : 0;
  return ascii == 1;
}

namespace {
// Free StrObj blocks of this thread, chained through their first bytes; at
// most kMaxFree are kept, the rest go back to the heap, as do all of them
// when the thread ends.
struct StrPool {
  static constexpr size_t kMaxFree = 4096;
  void* head = nullptr;
  size_t count = 0;
  StrPool() = default;
  StrPool(const StrPool&) = delete;
  StrPool& operator=(const StrPool&) = delete;
  ~StrPool() {
    while (head != nullptr) {
      void* next = *static_cast<void**>(head);
      ::operator delete(head);
      head = next;
    }
    count = kMaxFree;  // texts freed after this (statics) go to the heap
  }
};
thread_local StrPool str_pool;
}  // namespace

void* StrObj::operator new(size_t size) {
  StrPool& pool = str_pool;
  if (size == sizeof(StrObj) && pool.head != nullptr) {
    void* p = pool.head;
    pool.head = *static_cast<void**>(p);
    --pool.count;
    return p;
  }
  return ::operator new(size);
}

void StrObj::operator delete(void* p) noexcept {
  StrPool& pool = str_pool;
  if (pool.count < StrPool::kMaxFree) {
    *static_cast<void**>(p) = pool.head;
    pool.head = p;
    ++pool.count;
    return;
  }
  ::operator delete(p);
}

Value Value::Str(std::string s) {
  Value v = Make(Tag::kString);
  v.u_.s = new StrObj(std::move(s));
  return v;
}

Value Value::RefElem(ArrayObj* a, uint32_t index) {
  ++a->refs;
  ++a->locks;
  Value v = Make(Tag::kRefElem);
  v.u_.a = a;
  v.aux_ = index;
  return v;
}

void Value::AssignSlow(const Value& o) {
  if (this != &o) {
    Value tmp(o);
    Swap(tmp);
  }
}

// The old value goes last: releasing it may release what `o` was in.
void Value::MoveAssignSlow(Value&& o) noexcept {
  if (this != &o) {
    Value tmp(std::move(o));
    Swap(tmp);
  }
}

void Value::AddRefSlow() const {
  switch (tag_) {
    case Tag::kString:
      ++u_.s->refs;
      break;
    case Tag::kObject:
      u_.o->AddRef();
      break;
    case Tag::kArray:
      ++u_.a->refs;
      break;
    case Tag::kRefElem:
      ++u_.a->refs;
      ++u_.a->locks;
      break;
    default:
      break;
  }
}

void Value::ReleaseSlow() {
  switch (tag_) {
    case Tag::kString:
      if (--u_.s->refs == 0) delete u_.s;
      break;
    case Tag::kObject:
      u_.o->Release();
      break;
    case Tag::kRefElem:
      --u_.a->locks;
      [[fallthrough]];
    case Tag::kArray:
      if (--u_.a->refs == 0) FreeArrayObj(u_.a);
      break;
    default:
      break;
  }
  tag_ = Tag::kEmpty;
  u_.i = 0;
}

namespace {
// Freed arrays of this thread, kept with their element storage: a script
// that splits a line in a loop gets its next array without an allocation.
// Only small arrays are kept, and at most kMaxFree of them.
struct ArrayPool {
  static constexpr size_t kMaxFree = 32;
  static constexpr size_t kMaxElements = 256;
  std::vector<ArrayObj*> free;
  bool closed = false;  // the thread is ending: arrays go back to the heap
  ArrayPool() { free.reserve(kMaxFree); }
  ArrayPool(const ArrayPool&) = delete;
  ArrayPool& operator=(const ArrayPool&) = delete;
  ~ArrayPool() {
    closed = true;
    for (ArrayObj* a : free) delete a;
  }
};
thread_local ArrayPool array_pool;

// A new array object (one reference, no dimensions, no elements).
ArrayObj* NewArrayObj() {
  ArrayPool& pool = array_pool;
  if (pool.closed || pool.free.empty()) return new ArrayObj;
  ArrayObj* a = pool.free.back();
  pool.free.pop_back();
  return a;
}
}  // namespace

void FreeArrayObj(ArrayObj* a) {
  ArrayPool& pool = array_pool;
  if (pool.closed || pool.free.size() >= ArrayPool::kMaxFree ||
      a->data.capacity() > ArrayPool::kMaxElements) {
    delete a;
    return;
  }
  // The elements go first (their release may free further arrays); the
  // block joins the pool only once it is empty.
  a->data.clear();
  a->dims.clear();
  a->refs = 1;
  a->locks = 0;
  a->fixed = false;
  if (pool.free.size() < ArrayPool::kMaxFree) {
    pool.free.push_back(a);
  } else {
    delete a;
  }
}

Value NewList(size_t reserve) {
  ArrayObj* a = NewArrayObj();
  a->data.reserve(reserve);
  Value v = Value::Arr(a);
  --a->refs;
  return v;
}

void SealList(ArrayObj* a) {
  a->dims.assign(1, ArrayDim{0, static_cast<int32_t>(a->data.size())});
}

Value NewArray(std::vector<ArrayDim> dims) {
  // No dimensions (Dim a()) holds no element.
  size_t total = dims.empty() ? 0 : 1;
  for (const auto& d : dims) {
    if (d.count < 0) Throw(kErrSubscript);
    total *= static_cast<size_t>(d.count);
    if (total > CurrentLimits().max_array_elements) Throw(kErrOutOfMemory);
  }
  ArrayObj* a = NewArrayObj();
  a->dims = std::move(dims);
  a->data.resize(total);
  Value v = Value::Arr(a);
  --a->refs;
  return v;
}

Value ArrayFromValues(std::vector<Value> items) {
  ArrayObj* a = NewArrayObj();
  a->dims.assign(1, ArrayDim{0, static_cast<int32_t>(items.size())});
  a->data = std::move(items);
  Value v = Value::Arr(a);
  --a->refs;
  return v;
}

size_t ArrayObj::Offset(const Value* subs, int n) const {
  if (n != static_cast<int>(dims.size())) Throw(kErrSubscript);
  size_t offset = 0;
  size_t stride = 1;
  for (int i = 0; i < n; ++i) {
    int32_t s = ToLong(subs[i]);
    int64_t rel = static_cast<int64_t>(s) - dims[i].lower;
    if (rel < 0 || rel >= dims[i].count) Throw(kErrSubscript);
    offset += static_cast<size_t>(rel) * stride;
    stride *= static_cast<size_t>(dims[i].count);
  }
  return offset;
}

Value& ArrayElement(ArrayObj* a, const Value* subs, int n) {
  return a->data[a->Offset(subs, n)];
}

ArrayObj* UniqueArray(Value& v) {
  ArrayObj* a = v.arr();
  if (a->Shared()) {
    ArrayObj* copy = NewArrayObj();
    copy->dims = a->dims;
    copy->data = a->data;
    Value nv = Value::Arr(copy);
    --copy->refs;
    v = std::move(nv);
    return copy;
  }
  return a;
}

Limits& CurrentLimits() {
  thread_local Limits limits;
  return limits;
}

void CheckStringSize(size_t bytes) {
  if (bytes > CurrentLimits().max_string_bytes) Throw(kErrOutOfMemory);
}

// ---------------------------------------------------------------- texts

uint32_t DecodeChar(std::string_view s, size_t pos, size_t* len) {
  auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char c = b(pos);
  *len = 1;
  if (c < 0x80) return c;
  int n = 0;
  uint32_t cp = 0;
  if ((c & 0xE0) == 0xC0) {
    n = 1;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    n = 2;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    n = 3;
    cp = c & 0x07;
  } else {
    return c;
  }
  if (pos + static_cast<size_t>(n) >= s.size()) return c;
  for (int i = 1; i <= n; ++i) {
    unsigned char d = b(pos + i);
    if ((d & 0xC0) != 0x80) return c;
    cp = (cp << 6) | (d & 0x3F);
  }
  // Overlong forms and surrogates are not valid sequences.
  if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) ||
      (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return c;
  }
  *len = static_cast<size_t>(n) + 1;
  return cp;
}

void AppendCodePoint(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Utf16ToUtf8(std::string_view bytes, bool little_endian) {
  auto unit = [&](size_t i) -> uint32_t {
    uint32_t first = static_cast<unsigned char>(bytes[i]);
    uint32_t second = static_cast<unsigned char>(bytes[i + 1]);
    return little_endian ? first | (second << 8) : (first << 8) | second;
  };
  std::string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
      uint32_t lo = unit(i + 2);
      if (lo >= 0xDC00 && lo < 0xE000) {
        u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    AppendCodePoint(out, u);
  }
  return out;
}

size_t CharCount(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
    } else {
      size_t len = 1;
      DecodeChar(s, i, &len);
      i += len;
    }
    ++n;
  }
  return n;
}

size_t CharCount(StrObj* s) {
  return s->IsAscii() ? s->text.size() : CharCount(s->text);
}

size_t ByteOffsetOfChar(std::string_view s, size_t index) {
  size_t i = 0;
  while (index > 0 && i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
    } else {
      size_t len = 1;
      DecodeChar(s, i, &len);
      i += len;
    }
    --index;
  }
  return i;
}

namespace {
const uint16_t kCp1252[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                              0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                              0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                              0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
}  // namespace

uint32_t AnsiToUnicode(uint8_t c) {
  if (c >= 0x80 && c < 0xA0) return kCp1252[c - 0x80];
  return c;
}

int UnicodeToAnsi(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252[i] == cp) return 0x80 + i;
  }
  return '?';
}

std::string LowerText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
      ++i;
      continue;
    }
    size_t len = 1;
    uint32_t cp = DecodeChar(s, i, &len);
    if (len == 1) {
      out.push_back(static_cast<char>(c));
    } else {
      if ((cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) || (cp >= 0x391 && cp <= 0x3AB) ||
          (cp >= 0x410 && cp <= 0x42F)) {
        cp += 32;
      } else if (cp >= 0x400 && cp <= 0x40F) {
        cp += 80;
      } else if (cp >= 0x100 && cp <= 0x17F && cp % 2 == 0 && cp != 0x130) {
        cp += 1;
      }
      AppendCodePoint(out, cp);
    }
    i += len;
  }
  return out;
}

std::string UpperText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c));
      ++i;
      continue;
    }
    size_t len = 1;
    uint32_t cp = DecodeChar(s, i, &len);
    if (len == 1) {
      out.push_back(static_cast<char>(c));
    } else {
      if ((cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) || (cp >= 0x3B1 && cp <= 0x3CB && cp != 0x3C2) ||
          (cp >= 0x430 && cp <= 0x44F)) {
        cp -= 32;
      } else if (cp >= 0x450 && cp <= 0x45F) {
        cp -= 80;
      } else if (cp >= 0x101 && cp <= 0x17F && cp % 2 == 1 && cp != 0x131) {
        cp -= 1;
      }
      AppendCodePoint(out, cp);
    }
    i += len;
  }
  return out;
}

int CompareText(std::string_view a, std::string_view b, bool ignore_case) {
  if (!ignore_case) {
    int r = a.compare(b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
  }
  bool ascii = true;
  for (char c : a) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  for (char c : b) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return CompareIgnoreCase(a, b);
  return CompareText(LowerText(a), LowerText(b), false);
}

namespace {

bool AsciiOnly(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A search that folds at most ASCII letters: an ASCII needle can only meet
// ASCII bytes, so folding byte by byte is enough for it.
size_t FindFolded(std::string_view hay, std::string_view needle, size_t from, bool ignore_case) {
  if (from > hay.size()) return std::string_view::npos;
  if (ignore_case) return FindIgnoreCase(hay, needle, from);
  if (needle.size() == 1) {
    if (from == hay.size()) return std::string_view::npos;
    // A separator or a single letter: one memchr, without the compare of the
    // rest that the general search makes at each hit.
    const void* hit = std::memchr(hay.data() + from, needle[0], hay.size() - from);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - hay.data())
               : std::string_view::npos;
  }
  return hay.find(needle, from);
}

}  // namespace

// Letters beyond ASCII fold as LCase folds them; each keeps its byte length,
// so a position in the folded texts holds in the originals.
size_t FindText(std::string_view hay, std::string_view needle, size_t from, bool ignore_case) {
  if (ignore_case && !AsciiOnly(needle)) {
    return from > hay.size() ? std::string_view::npos : LowerText(hay).find(LowerText(needle), from);
  }
  return FindFolded(hay, needle, from, ignore_case);
}

void TextSearch::FoldBeyondAscii() {
  if (AsciiOnly(needle_)) return;
  folded_hay_ = LowerText(hay_);
  folded_needle_ = LowerText(needle_);
  hay_ = folded_hay_;
  needle_ = folded_needle_;
  ignore_case_ = false;
}

size_t TextSearch::Find(size_t from) const {
  return FindFolded(hay_, needle_, from, ignore_case_);
}

// ---------------------------------------------------------------- numbers

std::optional<double> ParseNumber(std::string_view s) {
  size_t i = 0, n = s.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (i < n && blank(s[i])) ++i;
  while (n > i && blank(s[n - 1])) --n;
  s = s.substr(i, n - i);
  if (s.empty()) return std::nullopt;
  if (s.size() >= 3 && s[0] == '&' && (s[1] == 'h' || s[1] == 'H' || s[1] == 'o' || s[1] == 'O')) {
    bool hex = s[1] == 'h' || s[1] == 'H';
    uint64_t v = 0;
    size_t digits = 0;
    for (size_t k = 2; k < s.size(); ++k) {
      char c = s[k];
      int d = (c >= '0' && c <= '9')   ? c - '0'
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                       : 99;
      if (d >= (hex ? 16 : 8)) return std::nullopt;
      v = v * (hex ? 16 : 8) + static_cast<uint64_t>(d);
      if (v > 0xFFFFFFFFull) return std::nullopt;
      ++digits;
    }
    if (v <= 0xFFFF && digits <= (hex ? 4u : 6u))
      return static_cast<double>(static_cast<int16_t>(v));
    return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(v)));
  }
  // The script locale's decimal sign and thousands separator ("1.234,5" in
  // Germany).
  const ScriptLocale& locale = CurrentLocale();
  const std::string_view group = locale.group;
  std::string num;
  size_t k = 0;
  if (s[k] == '+' || s[k] == '-') num.push_back(s[k++]);
  size_t digits = 0;
  bool point = false;
  for (; k < s.size(); ++k) {
    char c = s[k];
    if (c >= '0' && c <= '9') {
      num.push_back(c);
      ++digits;
    } else if (c == locale.decimal && !point) {
      point = true;
      num.push_back('.');
    } else if (!point && digits > 0 && s.substr(k, group.size()) == group) {
      k += group.size() - 1;  // thousands separator
    } else {
      break;
    }
  }
  if (digits == 0) return std::nullopt;
  if (k < s.size() && (s[k] == 'e' || s[k] == 'E' || s[k] == 'd' || s[k] == 'D')) {
    num.push_back('e');
    ++k;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) num.push_back(s[k++]);
    size_t ed = 0;
    while (k < s.size() && s[k] >= '0' && s[k] <= '9') {
      num.push_back(s[k++]);
      ++ed;
    }
    if (ed == 0) return std::nullopt;
  }
  if (k != s.size()) return std::nullopt;
  double v = std::strtod(num.c_str(), nullptr);
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

std::string FormatDouble(double d) {
  if (d == 0) return "0";
  return NumberText(d);
}

std::string FormatSingle(float f) {
  if (f == 0) return "0";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.7G", static_cast<double>(f));
  return TrimExponent(buf);
}

std::string FormatCurrency(int64_t scaled) {
  bool neg = scaled < 0;
  uint64_t u = neg ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string s = std::to_string(u / 10000);
  uint64_t frac = u % 10000;
  if (frac) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04u", static_cast<unsigned>(frac));
    std::string f = buf;
    while (!f.empty() && f.back() == '0') f.pop_back();
    s += "." + f;
  }
  return neg ? "-" + s : s;
}

std::string FormatDateValue(double d) {
  const DateStyle& style = CurrentLocale().dates;
  if (d == 0) return FormatLongTime(0, style);
  return FormatGeneralDate(d, style);
}

// A number's text with the script locale's decimal sign.
std::string LocalDecimal(std::string text) {
  const char decimal = CurrentLocale().decimal;
  if (decimal != '.') {
    for (char& c : text) {
      if (c == '.') c = decimal;
    }
  }
  return text;
}

// ---------------------------------------------------------------- conversions

Value ToPrimitive(const Value& v) {
  const Value& d = v.Deref();
  if (d.tag() == Tag::kObject) {
    Value none;
    CallArgs args(&none, 0);
    Value r = d.obj()->Invoke(kDefaultMember, InvokeKind::kGet, args);
    const Value& rd = r.Deref();
    if (rd.tag() == Tag::kObject) return ToPrimitive(rd);
    if (rd.tag() == Tag::kNothing) Throw(kErrObjectNotSet);
    return rd;
  }
  if (d.tag() == Tag::kNothing) Throw(kErrObjectNotSet);
  return d;
}

namespace {

// Numbers only: no objects, no refs (callers go through ToPrimitive first).
double NumOf(const Value& v) {
  switch (v.tag()) {
    case Tag::kEmpty:
      return 0;
    case Tag::kBoolean:
    case Tag::kByte:
    case Tag::kInteger:
    case Tag::kLong:
    case Tag::kError:
      return static_cast<double>(v.raw_int());
    case Tag::kSingle:
    case Tag::kDouble:
    case Tag::kDate:
      return v.raw_double();
    case Tag::kCurrency:
      return static_cast<double>(v.raw_int()) / 10000.0;
    case Tag::kString: {
      auto n = ParseNumber(v.text());
      if (!n) Throw(kErrTypeMismatch);
      return *n;
    }
    case Tag::kNull:
      Throw(kErrInvalidNull);
    default:
      Throw(kErrTypeMismatch);
  }
}

const Value* Prim(const Value& v, Value& holder) {
  const Value& d = v.Deref();
  if (d.tag() == Tag::kObject || d.tag() == Tag::kNothing) {
    holder = ToPrimitive(d);
    return &holder;
  }
  return &d;
}

bool FitsInt16(int64_t n) {
  return n >= -32768 && n <= 32767;
}
bool FitsInt32(int64_t n) {
  return n >= INT32_MIN && n <= INT32_MAX;
}

}  // namespace

double ToDouble(const Value& v) {
  Value h;
  return NumOf(*Prim(v, h));
}

int32_t ToLong(const Value& v) {
  Value h;
  const Value& p = *Prim(v, h);
  switch (p.tag()) {
    case Tag::kEmpty:
      return 0;
    case Tag::kBoolean:
    case Tag::kByte:
    case Tag::kInteger:
    case Tag::kLong:
      return static_cast<int32_t>(p.raw_int());
    default:
      break;
  }
  auto r = ToInt32(NumOf(p));
  if (!r) Throw(kErrOverflow);
  return *r;
}

int16_t ToInteger(const Value& v) {
  Value h;
  const Value& p = *Prim(v, h);
  auto r = ToInt16(NumOf(p));
  if (!r) Throw(kErrOverflow);
  return *r;
}

uint8_t ToByte(const Value& v) {
  // True converts bit for bit: all eight bits set.
  Value h;
  const Value& p = *Prim(v, h);
  if (p.tag() == Tag::kBoolean) return p.raw_bool() ? 255 : 0;
  double d = RoundHalfEven(ToDouble(p));
  if (!(d >= 0 && d <= 255)) Throw(kErrOverflow);
  return static_cast<uint8_t>(d);
}

int64_t ToCurrency(const Value& v) {
  Value h;
  const Value& p = *Prim(v, h);
  if (p.tag() == Tag::kCurrency) return p.raw_int();
  double d = NumOf(p) * 10000.0;
  d = RoundHalfEven(d);
  if (!(d > -9.2233720368547758e18 && d < 9.2233720368547758e18)) Throw(kErrOverflow);
  return static_cast<int64_t>(d);
}

bool ToBool(const Value& v) {
  Value h;
  const Value& p = *Prim(v, h);
  switch (p.tag()) {
    case Tag::kEmpty:
      return false;
    case Tag::kNull:
      Throw(kErrInvalidNull);
    case Tag::kString: {
      std::string_view t = TrimWhite(p.text());
      // "#TRUE#" and "#FALSE#" are the forms files written by Write # hold.
      if (EqualsIgnoreCase(t, "true") || EqualsIgnoreCase(t, "#true#")) return true;
      if (EqualsIgnoreCase(t, "false") || EqualsIgnoreCase(t, "#false#")) return false;
      auto n = ParseNumber(t);
      if (!n) Throw(kErrTypeMismatch);
      return *n != 0;
    }
    default:
      return NumOf(p) != 0;
  }
}

double ToDate(const Value& v) {
  Value h;
  const Value& p = *Prim(v, h);
  double d;
  if (p.tag() == Tag::kString) {
    auto parsed = ParseDateTime(p.text(), CurrentLocale().dates);
    if (parsed) return *parsed;
    auto n = ParseNumber(p.text());
    if (!n) Throw(kErrTypeMismatch);
    d = *n;
  } else if (p.tag() == Tag::kNull) {
    Throw(kErrInvalidNull);
  } else {
    d = NumOf(p);
  }
  if (!IsValidDateValue(d)) Throw(kErrOverflow);
  return d;
}

void AppendText(std::string& out, const Value& v) {
  const Value& d = v.Deref();
  switch (d.tag()) {
    case Tag::kString:
      out.append(d.text());
      return;
    case Tag::kEmpty:
    case Tag::kNull:
      return;
    case Tag::kBoolean:
      out.append(d.raw_bool() ? "True" : "False");
      return;
    case Tag::kByte:
    case Tag::kInteger:
    case Tag::kLong: {
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf, d.raw_int());
      out.append(buf, static_cast<size_t>(r.ptr - buf));
      return;
    }
    case Tag::kDouble:
      out.append(LocalDecimal(FormatDouble(d.raw_double())));
      return;
    case Tag::kSingle:
      out.append(LocalDecimal(FormatSingle(static_cast<float>(d.raw_double()))));
      return;
    case Tag::kCurrency:
      out.append(LocalDecimal(FormatCurrency(d.raw_int())));
      return;
    case Tag::kDate:
      out.append(FormatDateValue(d.raw_double()));
      return;
    case Tag::kError:
      out.append("Error " + std::to_string(d.raw_int() & 0xFFFF));
      return;
    case Tag::kArray:
      Throw(kErrTypeMismatch);
    default:
      AppendText(out, ToPrimitive(d));
      return;
  }
}

std::string ToText(const Value& v) {
  const Value& d = v.Deref();
  if (d.tag() == Tag::kString) return d.text();
  if (d.tag() == Tag::kNull) Throw(kErrInvalidNull);
  std::string s;
  AppendText(s, d);
  return s;
}

bool IsNumericValue(const Value& v) {
  const Value& d = v.Deref();
  switch (d.tag()) {
    case Tag::kEmpty:
    case Tag::kBoolean:
    case Tag::kByte:
    case Tag::kInteger:
    case Tag::kLong:
    case Tag::kSingle:
    case Tag::kDouble:
    case Tag::kCurrency:
      return true;
    case Tag::kString:
      return ParseNumber(d.text()).has_value();
    case Tag::kObject: {
      try {
        return IsNumericValue(ToPrimitive(d));
      } catch (const ScriptError&) {
        return false;
      }
    }
    default:
      return false;
  }
}

Value ToNumber(const Value& v) {
  Value h;
  const Value& p = *Prim(v, h);
  switch (p.tag()) {
    case Tag::kEmpty:
      return Value::Integer(0);
    case Tag::kBoolean:
      return Value::Integer(p.raw_bool() ? -1 : 0);
    case Tag::kString:
      return Value::Double(NumOf(p));
    case Tag::kNull:
      return p;
    case Tag::kByte:
    case Tag::kInteger:
    case Tag::kLong:
    case Tag::kSingle:
    case Tag::kDouble:
    case Tag::kCurrency:
    case Tag::kDate:
      return p;
    default:
      Throw(kErrTypeMismatch);
  }
}

Object* ToObject(const Value& v) {
  const Value& d = v.Deref();
  if (d.tag() == Tag::kObject) return d.obj();
  if (d.tag() == Tag::kNothing) Throw(kErrObjectNotSet);
  Throw(kErrObjectRequired);
}

int VarType(const Value& v) {
  const Value& d = v.Deref();
  switch (d.tag()) {
    case Tag::kEmpty:
      return kVtEmpty;
    case Tag::kNull:
      return kVtNull;
    case Tag::kBoolean:
      return kVtBoolean;
    case Tag::kByte:
      return kVtByte;
    case Tag::kInteger:
      return kVtInteger;
    case Tag::kLong:
      return kVtLong;
    case Tag::kSingle:
      return kVtSingle;
    case Tag::kDouble:
      return kVtDouble;
    case Tag::kCurrency:
      return kVtCurrency;
    case Tag::kDate:
      return kVtDate;
    case Tag::kError:
      return kVtError;
    case Tag::kString:
      return kVtString;
    case Tag::kArray:
      return kVtArray + kVtVariant;
    default:
      return kVtObject;
  }
}

std::string TypeNameOf(const Value& v) {
  const Value& d = v.Deref();
  switch (d.tag()) {
    case Tag::kEmpty:
      return "Empty";
    case Tag::kNull:
      return "Null";
    case Tag::kBoolean:
      return "Boolean";
    case Tag::kByte:
      return "Byte";
    case Tag::kInteger:
      return "Integer";
    case Tag::kLong:
      return "Long";
    case Tag::kSingle:
      return "Single";
    case Tag::kDouble:
      return "Double";
    case Tag::kCurrency:
      return "Currency";
    case Tag::kDate:
      return "Date";
    case Tag::kError:
      return "Error";
    case Tag::kString:
      return "String";
    case Tag::kArray:
      return "Variant()";
    case Tag::kNothing:
      return "Nothing";
    case Tag::kObject:
      return d.obj()->TypeName();
    default:
      return "Unknown";
  }
}

// ---------------------------------------------------------------- arithmetic

namespace {

// Operand ranks for the result type of + - *.
enum Rank { kRByte, kRInteger, kRLong, kRSingle, kRDouble, kRCurrency, kRDate };

Rank RankOf(const Value& v) {
  switch (v.tag()) {
    case Tag::kByte:
      return kRByte;
    case Tag::kEmpty:
    case Tag::kBoolean:
    case Tag::kInteger:
      return kRInteger;
    case Tag::kLong:
      return kRLong;
    case Tag::kSingle:
      return kRSingle;
    case Tag::kCurrency:
      return kRCurrency;
    case Tag::kDate:
      return kRDate;
    default:
      return kRDouble;  // Double and texts read as numbers
  }
}

Value IntResult(int64_t r, Rank rank) {
  if (rank == kRByte && r >= 0 && r <= 255) return Value::Byte(static_cast<uint8_t>(r));
  if (rank <= kRInteger && FitsInt16(r)) return Value::Integer(static_cast<int16_t>(r));
  if (FitsInt32(r)) return Value::Long(static_cast<int32_t>(r));
  return Value::Double(static_cast<double>(r));
}

enum class Arith { kAdd, kSub, kMul };

Value Arithmetic(const Value& a0, const Value& b0, Arith op) {
  Value ha, hb;
  const Value& a = *Prim(a0, ha);
  const Value& b = *Prim(b0, hb);
  if (a.tag() == Tag::kNull || b.tag() == Tag::kNull) return Value::Null();
  if (a.tag() == Tag::kArray || b.tag() == Tag::kArray) Throw(kErrTypeMismatch);
  Rank ra = RankOf(a), rb = RankOf(b);
  Rank rank = std::max(ra, rb);
  if (rank <= kRLong) {
    int64_t x = a.raw_int(), y = b.raw_int();
    int64_t r = op == Arith::kAdd ? x + y : op == Arith::kSub ? x - y : x * y;
    return IntResult(r, rank);
  }
  if (rank == kRCurrency && ra != kRDate && rb != kRDate) {
    if (op == Arith::kMul) {
      long double r = static_cast<long double>(ToCurrency(a)) * ToCurrency(b) / 10000.0L;
      if (std::fabs(r) >= 9.2233720368547758e18L) Throw(kErrOverflow);
      return Value::Currency(static_cast<int64_t>(std::nearbyint(static_cast<double>(r))));
    }
    int64_t x = ToCurrency(a), y = ToCurrency(b), r;
    bool overflow =
        op == Arith::kAdd ? __builtin_add_overflow(x, y, &r) : __builtin_sub_overflow(x, y, &r);
    if (overflow) Throw(kErrOverflow);
    return Value::Currency(r);
  }
  double x = NumOf(a), y = NumOf(b);
  double r = op == Arith::kAdd ? x + y : op == Arith::kSub ? x - y : x * y;
  if (rank == kRDate && op != Arith::kMul) {
    if (op == Arith::kSub && ra == kRDate && rb == kRDate) return Value::Double(r);
    if (!IsValidDateValue(r)) Throw(kErrOverflow);
    return Value::Date(r);
  }
  if (rank == kRSingle && ra != kRLong && rb != kRLong) {
    if (std::fabs(r) <= std::numeric_limits<float>::max())
      return Value::Single(static_cast<float>(r));
  }
  if (!std::isfinite(r)) Throw(kErrOverflow);
  return Value::Double(r);
}

}  // namespace

Value OpAdd(const Value& a0, const Value& b0) {
  const Value& a = a0.Deref();
  const Value& b = b0.Deref();
  if (a.tag() == Tag::kInteger && b.tag() == Tag::kInteger) {
    int64_t r = a.raw_int() + b.raw_int();
    return FitsInt16(r) ? Value::Integer(static_cast<int16_t>(r))
                        : Value::Long(static_cast<int32_t>(r));
  }
  if (a.tag() == Tag::kString || b.tag() == Tag::kString) {
    if (a.tag() == Tag::kString && b.tag() == Tag::kString) return OpConcat(a, b);
    if (a.tag() == Tag::kEmpty) return b;
    if (b.tag() == Tag::kEmpty) return a;
  }
  return Arithmetic(a, b, Arith::kAdd);
}

Value OpSub(const Value& a, const Value& b) {
  return Arithmetic(a, b, Arith::kSub);
}
Value OpMul(const Value& a, const Value& b) {
  return Arithmetic(a, b, Arith::kMul);
}

Value OpDiv(const Value& a0, const Value& b0) {
  Value ha, hb;
  const Value& a = *Prim(a0, ha);
  const Value& b = *Prim(b0, hb);
  if (a.tag() == Tag::kNull || b.tag() == Tag::kNull) return Value::Null();
  double x = NumOf(a), y = NumOf(b);
  if (y == 0) Throw(x == 0 ? kErrOverflow : kErrDivByZero);
  double r = x / y;
  if (!std::isfinite(r)) Throw(kErrOverflow);
  if (a.tag() == Tag::kSingle && b.tag() == Tag::kSingle)
    return Value::Single(static_cast<float>(r));
  return Value::Double(r);
}

namespace {

// Operands of \ and Mod: rounded to whole numbers, Integer-sized when both
// are Byte, Integer or Boolean, Long otherwise.
void IntOperands(const Value& a, const Value& b, int64_t& x, int64_t& y, Rank& rank) {
  auto one = [](const Value& v, Rank& r) -> int64_t {
    switch (v.tag()) {
      case Tag::kEmpty:
      case Tag::kBoolean:
      case Tag::kInteger:
        r = std::max(r, kRInteger);
        return v.raw_int();
      case Tag::kByte:
        return v.raw_int();
      case Tag::kLong:
        r = std::max(r, kRLong);
        return v.raw_int();
      default: {
        r = std::max(r, kRLong);
        auto n = ToInt32(NumOf(v));
        if (!n) Throw(kErrOverflow);
        return *n;
      }
    }
  };
  rank = kRByte;
  x = one(a, rank);
  y = one(b, rank);
}

}  // namespace

Value OpIntDiv(const Value& a0, const Value& b0) {
  Value ha, hb;
  const Value& a = *Prim(a0, ha);
  const Value& b = *Prim(b0, hb);
  if (a.tag() == Tag::kNull || b.tag() == Tag::kNull) return Value::Null();
  int64_t x, y;
  Rank rank;
  IntOperands(a, b, x, y, rank);
  if (y == 0) Throw(kErrDivByZero);
  // Integer division gives a whole-number subtype; only Long's smallest
  // value divided by -1 has none.
  if (!FitsInt32(x / y)) Throw(kErrOverflow);
  return IntResult(x / y, rank);
}

Value OpMod(const Value& a0, const Value& b0) {
  Value ha, hb;
  const Value& a = *Prim(a0, ha);
  const Value& b = *Prim(b0, hb);
  if (a.tag() == Tag::kNull || b.tag() == Tag::kNull) return Value::Null();
  int64_t x, y;
  Rank rank;
  IntOperands(a, b, x, y, rank);
  if (y == 0) Throw(kErrDivByZero);
  return IntResult(x % y, rank);
}

Value OpPow(const Value& a0, const Value& b0) {
  Value ha, hb;
  const Value& a = *Prim(a0, ha);
  const Value& b = *Prim(b0, hb);
  if (a.tag() == Tag::kNull || b.tag() == Tag::kNull) return Value::Null();
  double x = NumOf(a), y = NumOf(b);
  if (x < 0 && y != std::trunc(y)) Throw(kErrInvalidCall);
  if (x == 0 && y < 0) Throw(kErrInvalidCall);
  double r = std::pow(x, y);
  if (!std::isfinite(r)) Throw(kErrOverflow);
  return Value::Double(r);
}

Value OpNeg(const Value& a0) {
  Value ha;
  const Value& a = *Prim(a0, ha);
  switch (a.tag()) {
    case Tag::kNull:
      return a;
    case Tag::kEmpty:
      return Value::Integer(0);
    case Tag::kBoolean:
    case Tag::kByte:
    case Tag::kInteger:
      return IntResult(-a.raw_int(), kRInteger);
    case Tag::kLong:
      return IntResult(-a.raw_int(), kRLong);
    case Tag::kSingle:
      return Value::Single(static_cast<float>(-a.raw_double()));
    case Tag::kDouble:
      return Value::Double(-a.raw_double());
    case Tag::kCurrency:
      if (a.raw_int() == INT64_MIN) Throw(kErrOverflow);
      return Value::Currency(-a.raw_int());
    case Tag::kDate:
      return Value::Date(-a.raw_double());
    default:
      return Value::Double(-NumOf(a));
  }
}

namespace {

// Operands of the logical operators: Boolean when both are, else integers.
bool LogicOperand(const Value& v, int64_t& n, Rank& rank, bool& all_bool) {
  switch (v.tag()) {
    case Tag::kNull:
      return false;
    case Tag::kBoolean:
      n = v.raw_int();
      break;
    case Tag::kEmpty:  // a Long 0 to the logical operators: Empty And Empty is a Long
      all_bool = false;
      rank = std::max(rank, kRLong);
      n = 0;
      break;
    case Tag::kInteger:
      all_bool = false;
      rank = std::max(rank, kRInteger);
      n = v.raw_int();
      break;
    case Tag::kByte:
      all_bool = false;
      n = v.raw_int();
      break;
    case Tag::kLong:
      all_bool = false;
      rank = std::max(rank, kRLong);
      n = v.raw_int();
      break;
    case Tag::kString: {
      all_bool = false;
      rank = std::max(rank, kRLong);
      std::string_view t = TrimWhite(v.text());
      if (EqualsIgnoreCase(t, "true") || EqualsIgnoreCase(t, "#true#")) {
        n = -1;
      } else if (EqualsIgnoreCase(t, "false") || EqualsIgnoreCase(t, "#false#")) {
        n = 0;
      } else {
        auto r = ToInt32(NumOf(v));
        if (!r) Throw(kErrOverflow);
        n = *r;
      }
      break;
    }
    default: {
      all_bool = false;
      rank = std::max(rank, kRLong);
      auto r = ToInt32(NumOf(v));
      if (!r) Throw(kErrOverflow);
      n = *r;
    }
  }
  return true;
}

Value LogicResult(int64_t r, Rank rank, bool all_bool) {
  if (all_bool) return Value::Bool(r != 0);
  if (rank == kRByte) return Value::Byte(static_cast<uint8_t>(r & 0xFF));
  if (rank == kRInteger) return Value::Integer(static_cast<int16_t>(r));
  return Value::Long(static_cast<int32_t>(r));
}

enum class Logic { kAnd, kOr, kXor, kEqv, kImp };

Value Logical(const Value& a0, const Value& b0, Logic op) {
  Value ha, hb;
  const Value& a = *Prim(a0, ha);
  const Value& b = *Prim(b0, hb);
  int64_t x = 0, y = 0;
  Rank rank = kRByte;
  bool all_bool = true;
  bool xa = LogicOperand(a, x, rank, all_bool);
  bool xb = LogicOperand(b, y, rank, all_bool);
  if (!xa || !xb) {
    // Null rules: a known operand may still decide the result.
    if (!xa && !xb) return Value::Null();
    int64_t known = xa ? x : y;
    bool null_first = !xa;
    switch (op) {
      case Logic::kAnd:
        if (known == 0) return LogicResult(0, rank, all_bool);
        return Value::Null();
      case Logic::kOr:
        if (known == -1) return LogicResult(-1, rank, all_bool);
        return Value::Null();
      case Logic::kImp:
        if (null_first) return known == -1 ? LogicResult(-1, rank, all_bool) : Value::Null();
        // A Byte keeps its width: CByte(170) Imp Null is 85.
        if (a.tag() == Tag::kByte) return Value::Byte(static_cast<uint8_t>(~known & 0xFF));
        return known == 0 ? LogicResult(-1, rank, all_bool) : Value::Null();
      default:
        return Value::Null();
    }
  }
  int64_t r = 0;
  switch (op) {
    case Logic::kAnd:
      r = x & y;
      break;
    case Logic::kOr:
      r = x | y;
      break;
    case Logic::kXor:
      r = x ^ y;
      break;
    case Logic::kEqv:
      r = ~(x ^ y);
      break;
    case Logic::kImp:
      r = (~x) | y;
      break;
  }
  return LogicResult(r, rank, all_bool);
}

}  // namespace

Value OpAnd(const Value& a, const Value& b) {
  return Logical(a, b, Logic::kAnd);
}
Value OpOr(const Value& a, const Value& b) {
  return Logical(a, b, Logic::kOr);
}
Value OpXor(const Value& a, const Value& b) {
  return Logical(a, b, Logic::kXor);
}
Value OpEqv(const Value& a, const Value& b) {
  return Logical(a, b, Logic::kEqv);
}
Value OpImp(const Value& a, const Value& b) {
  return Logical(a, b, Logic::kImp);
}

Value OpNot(const Value& a0) {
  Value ha;
  const Value& a = *Prim(a0, ha);
  int64_t x = 0;
  Rank rank = kRByte;
  bool all_bool = true;
  if (!LogicOperand(a, x, rank, all_bool)) return Value::Null();
  return LogicResult(~x, rank, all_bool);
}

namespace {

// A piece of `&` that needs no conversion call: a text, or a whole number
// written in decimal straight into the result.
struct ConcatPiece {
  std::string_view text;
  int32_t number = 0;  // Byte, Integer and Long all fit
  bool is_number = false;
  size_t size = 0;

  [[gnu::always_inline]] bool Read(const Value& v) {
    if (v.tag() == Tag::kString) {
      text = v.text();
      size = text.size();
      return true;
    }
    if (v.tag() < Tag::kByte || v.tag() > Tag::kLong) return false;
    is_number = true;
    number = static_cast<int32_t>(v.raw_int());
    uint32_t m = number < 0 ? 0U - static_cast<uint32_t>(number) : static_cast<uint32_t>(number);
    size = number < 0 ? 2 : 1;
    for (uint64_t power = 10; m >= power; power *= 10) ++size;
    return true;
  }
  [[gnu::always_inline]] char* Write(char* p) const {
    if (is_number) return std::to_chars(p, p + size, number).ptr;
    std::memcpy(p, text.data(), size);
    return p + size;
  }
};

}  // namespace

Value OpConcat(const Value& a0, const Value& b0) {
  const Value& a = a0.Deref();
  const Value& b = b0.Deref();
  if (a.tag() == Tag::kNull && b.tag() == Tag::kNull) return Value::Null();
  // Texts and whole numbers, as in `"key" & i`: the pieces are written once,
  // into the new text itself.
  ConcatPiece x, y;
  if (x.Read(a) && y.Read(b)) {
    CheckStringSize(x.size + y.size);
    Value r = Value::Str(std::string_view());
    std::string& t = r.str_obj()->text;
    t.resize(x.size + y.size);
    y.Write(x.Write(t.data()));
    return r;
  }
  std::string s;
  AppendText(s, a);
  AppendText(s, b);
  CheckStringSize(s.size());
  return Value::Str(std::move(s));
}

bool OpIs(const Value& a0, const Value& b0) {
  const Value& a = a0.Deref();
  const Value& b = b0.Deref();
  if (!a.IsObjectOrNothing() || !b.IsObjectOrNothing()) Throw(kErrObjectRequired);
  Object* x = a.IsObject() ? a.obj() : nullptr;
  Object* y = b.IsObject() ? b.obj() : nullptr;
  return x == y;
}

// ---------------------------------------------------------------- comparison

namespace {

int Sign(double d) {
  return d < 0 ? -1 : (d > 0 ? 1 : 0);
}

int CompareNumbers(const Value& a, const Value& b) {
  if (a.tag() <= Tag::kLong && b.tag() <= Tag::kLong) {
    int64_t x = a.raw_int(), y = b.raw_int();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (a.tag() == Tag::kCurrency && b.tag() == Tag::kCurrency) {
    return a.raw_int() < b.raw_int() ? -1 : (a.raw_int() > b.raw_int() ? 1 : 0);
  }
  // A Single against a Double compares at the Single's precision, so that
  // CSng(0.1) = 0.1 holds as it does on Windows.
  if ((a.tag() == Tag::kSingle && b.tag() == Tag::kDouble) ||
      (a.tag() == Tag::kDouble && b.tag() == Tag::kSingle)) {
    float x = static_cast<float>(a.raw_double()), y = static_cast<float>(b.raw_double());
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  return Sign(NumOf(a) - NumOf(b));
}

}  // namespace

int CompareValues(const Value& a0, const Value& b0, bool ignore_case, Literal lit) {
  Value ha, hb;
  const Value& a = *Prim(a0, ha);
  const Value& b = *Prim(b0, hb);
  if (a.tag() == Tag::kNull || b.tag() == Tag::kNull) return kCompareNull;
  if (a.tag() == Tag::kArray || b.tag() == Tag::kArray) Throw(kErrTypeMismatch);
  bool sa = a.tag() == Tag::kString, sb = b.tag() == Tag::kString;
  if (sa && sb) return CompareText(a.text(), b.text(), ignore_case);
  if (!sa && !sb) return CompareNumbers(a, b);
  // One text, one non-text.
  const Value& text = sa ? a : b;
  const Value& other = sa ? b : a;
  auto texts = [&](const std::string& t) {
    return sa ? CompareText(a.text(), t, ignore_case) : CompareText(t, b.text(), ignore_case);
  };
  if (other.tag() == Tag::kEmpty) return texts("");
  // Booleans, Bytes and Currency meet text as their own text ("True" = True).
  if (other.tag() == Tag::kBoolean || other.tag() == Tag::kByte || other.tag() == Tag::kCurrency) {
    return texts(ToText(other));
  }
  const auto bit = [&](bool left) {
    return (static_cast<uint8_t>(lit) &
            static_cast<uint8_t>(left ? Literal::kLeft : Literal::kRight)) != 0;
  };
  const bool text_is_literal = bit(sa);
  const bool number_is_literal = bit(!sa);
  if (number_is_literal) {
    // A number written in place reads the text as a number: "abc" = 5 is
    // a type mismatch, "10" > 9 compares numbers.
    auto n = ParseNumber(text.text());
    if (!n) Throw(kErrTypeMismatch);
    double x = sa ? *n : NumOf(a);
    double y = sa ? NumOf(b) : *n;
    return Sign(x - y);
  }
  if (text_is_literal) return texts(ToText(other));
  // Two computed values of different kinds: a number is less than any text.
  return sa ? 1 : -1;
}

bool SameKey(const Value& a0, const Value& b0, bool ignore_case) {
  const Value& a = a0.Deref();
  const Value& b = b0.Deref();
  bool sa = a.tag() == Tag::kString, sb = b.tag() == Tag::kString;
  if (sa || sb) return sa && sb && CompareText(a.text(), b.text(), ignore_case) == 0;
  if (a.IsObjectOrNothing() || b.IsObjectOrNothing()) {
    return a.IsObjectOrNothing() && b.IsObjectOrNothing() &&
           (a.IsObject() ? a.obj() : nullptr) == (b.IsObject() ? b.obj() : nullptr);
  }
  if (a.tag() == Tag::kNull || b.tag() == Tag::kNull) return a.tag() == b.tag();
  if (a.tag() == Tag::kArray || b.tag() == Tag::kArray) return false;
  return NumOf(a) == NumOf(b);
}

}  // namespace corvane::vbs
