// The VBScript function library, its named constants and the Err object.
// kBuiltins lists each function's name, argument count range and C++
// function; the compiler turns a name into its index once, so a call is an
// index into the table and an argument count check. kConstants does the same
// for vbCrLf, vbTextCompare and the rest, which compile to plain values.
#include <sys/time.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/datetime.h"
#include "core/text.h"
#include "vbscript/locale.h"
#include "vbscript/objects.h"
#include "vbscript/ops.h"
#include "vbscript/runtime.h"

namespace corvane::vbs {

namespace {

using A = CallArgs;

const Value& Arg(A& a, int i) {
  return a[i];
}
bool Has(A& a, int i) {
  return a.Has(i);
}
bool IsNullArg(A& a, int i) {
  return a[i].tag() == Tag::kNull;
}
std::string Text(A& a, int i) {
  return ToText(a[i]);
}
// The text of an argument, read in place when it already is a string, else
// converted once. A string passed as a value sits in the call's own argument
// slot, which nothing else can reach, so it stays alive for the call; one
// passed ByRef is held by a counted reference, so code a later argument's
// conversion runs cannot free it by assigning to the variable.
class TextArg {
 public:
  [[gnu::always_inline]] TextArg(A& a, int i) {
    const Value& v = a[i];
    if (v.tag() == Tag::kString && !a.IsRef(i)) {
      str_ = v.str_obj();
    } else {
      Keep(v);
    }
    view_ = str_->text;
  }
  explicit TextArg(std::string_view literal) : view_(literal) {}
  TextArg(const TextArg&) = delete;
  TextArg& operator=(const TextArg&) = delete;
  std::string_view view() const { return view_; }
  size_t size() const { return view_.size(); }
  bool empty() const { return view_.empty(); }
  // True when character positions are byte positions.
  bool ascii() const {
    if (str_ != nullptr) return str_->IsAscii();
    return CharCount(view_) == view_.size();
  }

 private:
  [[gnu::noinline]] void Keep(const Value& v) {
    keep_ = v.tag() == Tag::kString ? v : Value::Str(ToText(v));
    str_ = keep_.str_obj();
  }
  Value keep_;
  StrObj* str_ = nullptr;
  std::string_view view_;
};

// A new text cut from another; a piece of an ASCII text is ASCII, which
// saves the character functions a scan.
Value Piece(std::string_view piece, bool ascii) {
  Value v = Value::Str(piece);
  if (ascii) v.str_obj()->ascii = 1;
  return v;
}

int32_t Long(A& a, int i) {
  const Value& v = a[i];
  if (v.tag() == Tag::kLong || v.tag() == Tag::kInteger) return static_cast<int32_t>(v.raw_int());
  return ToLong(v);
}
double Num(A& a, int i) {
  return ToDouble(a[i]);
}
// A compare argument: 0 (binary) or 1 (text); any other number is error 5.
bool TextCompare(A& a, int i) {
  if (!Has(a, i)) return false;
  int32_t mode = ToLong(a[i]);
  if (mode < 0 || mode > 1) Throw(kErrInvalidCall);
  return mode == 1;
}

Value Int16OrLong(int64_t n) {
  if (n >= -32768 && n <= 32767) return Value::Integer(static_cast<int16_t>(n));
  return Value::Long(static_cast<int32_t>(n));
}

// --- Texts ---------------------------------------------------------------

std::string_view SubChars(const std::string& s, size_t start, size_t count, bool ascii) {
  if (ascii) {
    if (start >= s.size()) return {};
    return std::string_view(s).substr(start, count);
  }
  size_t b = ByteOffsetOfChar(s, start);
  std::string_view rest = std::string_view(s).substr(b);
  size_t e = count == std::string::npos ? rest.size() : ByteOffsetOfChar(rest, count);
  return rest.substr(0, e);
}

Value FnLen(Vm&, A& a) {
  const Value& v = Arg(a, 0);
  if (v.tag() == Tag::kNull) return Value::Null();
  if (v.tag() == Tag::kString) return Value::Long(static_cast<int32_t>(CharCount(v.str_obj())));
  return Value::Long(static_cast<int32_t>(CharCount(ToText(v))));
}

Value FnLeft(Vm&, A& a) {
  // The length is checked before a Null text gives Null.
  int32_t n = Long(a, 1);
  if (n < 0) Throw(kErrInvalidCall);
  if (IsNullArg(a, 0)) return Value::Null();
  std::string s = Text(a, 0);
  bool ascii = Arg(a, 0).tag() == Tag::kString && Arg(a, 0).str_obj()->IsAscii();
  return Value::Str(SubChars(s, 0, static_cast<size_t>(n), ascii));
}

Value FnRight(Vm&, A& a) {
  // The length is checked before a Null text gives Null.
  int32_t n = Long(a, 1);
  if (n < 0) Throw(kErrInvalidCall);
  if (IsNullArg(a, 0)) return Value::Null();
  std::string s = Text(a, 0);
  size_t len = CharCount(s);
  size_t take = std::min(len, static_cast<size_t>(n));
  return Value::Str(SubChars(s, len - take, take, false));
}

// Mid's checks and the piece of the text it cuts; false when the text is
// Null. `hold` keeps a text converted from another kind of value.
struct MidCut {
  std::string_view piece;
  bool ascii = false;
};
bool CutMid(A& a, std::string& hold, MidCut& out) {
  // The arguments are checked before a Null text gives Null, a Null
  // length first of all.
  if (IsNullArg(a, 2)) Throw(kErrInvalidNull);
  int32_t start = Long(a, 1);
  if (start < 1) Throw(kErrInvalidCall);
  size_t count = std::string::npos;
  if (Has(a, 2)) {
    int32_t n = Long(a, 2);
    if (n < 0) Throw(kErrInvalidCall);
    count = static_cast<size_t>(n);
  }
  if (IsNullArg(a, 0)) return false;
  const Value& v = Arg(a, 0);
  const size_t from = static_cast<size_t>(start - 1);
  if (v.tag() == Tag::kString) {
    out.ascii = v.str_obj()->IsAscii();
    out.piece = SubChars(v.text(), from, count, out.ascii);
    return true;
  }
  hold = ToText(v);
  out.piece = SubChars(hold, from, count, false);
  return true;
}

Value FnMid(Vm&, A& a) {
  std::string hold;
  MidCut cut;
  if (!CutMid(a, hold, cut)) return Value::Null();
  return Piece(cut.piece, cut.ascii);
}

// Len(Mid(...)), which the compiler fuses: the length of the piece Mid
// would cut, without making the text.
Value FnLenOfMid(Vm&, A& a) {
  std::string hold;
  MidCut cut;
  if (!CutMid(a, hold, cut)) return Value::Null();
  return Value::Long(static_cast<int32_t>(cut.ascii ? cut.piece.size() : CharCount(cut.piece)));
}

Value FnLCase(Vm&, A& a) {
  if (IsNullArg(a, 0)) return Value::Null();
  return Value::Str(LowerText(Text(a, 0)));
}
Value FnUCase(Vm&, A& a) {
  if (IsNullArg(a, 0)) return Value::Null();
  return Value::Str(UpperText(Text(a, 0)));
}

Value Trimmed(A& a, bool left, bool right) {
  if (IsNullArg(a, 0)) return Value::Null();
  std::string s = Text(a, 0);
  size_t b = 0, e = s.size();
  if (left)
    while (b < e && s[b] == ' ') ++b;
  if (right)
    while (e > b && s[e - 1] == ' ') --e;
  return Value::Str(s.substr(b, e - b));
}
Value FnTrim(Vm&, A& a) {
  return Trimmed(a, true, true);
}
Value FnLTrim(Vm&, A& a) {
  return Trimmed(a, true, false);
}
Value FnRTrim(Vm&, A& a) {
  return Trimmed(a, false, true);
}

Value FnSpace(Vm&, A& a) {
  int32_t n = Long(a, 0);
  if (n < 0) Throw(kErrInvalidCall);
  CheckStringSize(static_cast<size_t>(n));
  return Value::Str(std::string(static_cast<size_t>(n), ' '));
}

Value FnString(Vm&, A& a) {
  int32_t n = Long(a, 0);
  if (n < 0) Throw(kErrInvalidCall);
  // An object gives its default value, which may be a text.
  Value c = ToPrimitive(Arg(a, 1));
  if (c.tag() == Tag::kNull) return Value::Null();
  std::string ch;
  if (c.tag() == Tag::kString) {
    if (c.text().empty()) Throw(kErrInvalidCall);
    size_t len = 1;
    DecodeChar(c.text(), 0, &len);
    ch = c.text().substr(0, len);
  } else {
    int32_t code = ToLong(c) % 256;
    if (code < 0) code += 256;
    AppendCodePoint(ch, AnsiToUnicode(static_cast<uint8_t>(code)));
  }
  CheckStringSize(ch.size() * static_cast<size_t>(n));
  std::string out;
  out.reserve(ch.size() * static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) out += ch;
  return Value::Str(std::move(out));
}

Value FnStrReverse(Vm&, A& a) {
  if (IsNullArg(a, 0)) Throw(kErrInvalidNull);
  std::string s = Text(a, 0);
  std::vector<std::string_view> chars;
  for (size_t i = 0; i < s.size();) {
    size_t len = 1;
    DecodeChar(s, i, &len);
    chars.push_back(std::string_view(s).substr(i, len));
    i += len;
  }
  std::string out;
  out.reserve(s.size());
  for (auto it = chars.rbegin(); it != chars.rend(); ++it) out += *it;
  return Value::Str(std::move(out));
}

// Character index (0-based) of byte position `pos` in `s`.
size_t CharIndex(std::string_view s, size_t pos) {
  return CharCount(std::string_view(s).substr(0, pos));
}

Value FnInStr(Vm&, A& a) {
  int first = 0;
  int32_t start = 1;
  if (a.size() >= 3) {
    if (IsNullArg(a, 0)) Throw(kErrInvalidNull);
    start = Long(a, 0);
    if (start < 1) Throw(kErrInvalidCall);
    first = 1;
  }
  if (IsNullArg(a, first) || IsNullArg(a, first + 1)) return Value::Null();
  TextArg s(a, first), find(a, first + 1);
  bool tc = a.size() >= 4 && TextCompare(a, 3);
  const bool ascii = s.ascii();
  const size_t from = static_cast<size_t>(start - 1);
  size_t b = ascii ? std::min(from, s.size()) : ByteOffsetOfChar(s.view(), from);
  // A start past the text's end finds nothing, not even "" (so an empty
  // text gives 0).
  if (static_cast<size_t>(start) > (ascii ? s.size() : CharCount(s.view()))) return Value::Long(0);
  if (find.empty()) return Value::Long(start);
  size_t pos = FindText(s.view(), find.view(), b, tc);
  if (pos == std::string::npos) return Value::Long(0);
  return Value::Long(static_cast<int32_t>((ascii ? pos : CharIndex(s.view(), pos)) + 1));
}

Value FnInStrRev(Vm&, A& a) {
  // Unlike InStr, a Null text or search is an error, not a Null result.
  if (IsNullArg(a, 0) || IsNullArg(a, 1)) Throw(kErrInvalidNull);
  std::string s = Text(a, 0), find = Text(a, 1);
  int32_t start = Has(a, 2) ? Long(a, 2) : -1;
  if (start == 0 || start < -1) Throw(kErrInvalidCall);
  bool tc = TextCompare(a, 3);
  size_t len = CharCount(s);
  if (start == -1) start = static_cast<int32_t>(len);
  if (static_cast<size_t>(start) > len) return Value::Long(0);
  if (find.empty()) return Value::Long(start);
  // The match must end at or before character `start`.
  size_t limit = ByteOffsetOfChar(s, static_cast<size_t>(start));
  if (find.size() > limit) return Value::Long(0);
  std::string hay = tc ? LowerText(s.substr(0, limit)) : s.substr(0, limit);
  std::string needle = tc ? LowerText(find) : find;
  size_t pos = hay.rfind(needle);
  if (pos == std::string::npos) return Value::Long(0);
  return Value::Long(static_cast<int32_t>(CharIndex(hay, pos) + 1));
}

Value FnReplace(Vm&, A& a) {
  // Unlike most text functions, Replace has no Null result: Null is an error.
  TextArg s(a, 0), find(a, 1), with(a, 2);
  int32_t start = Has(a, 3) ? Long(a, 3) : 1;
  int32_t count = Has(a, 4) ? Long(a, 4) : -1;
  if (start < 1 || count < -1) Throw(kErrInvalidCall);
  bool tc = TextCompare(a, 5);
  // The result starts at `start`: what comes before it is dropped.
  const size_t from = static_cast<size_t>(start - 1);
  std::string_view src =
      s.view().substr(std::min(s.size(), s.ascii() ? from : ByteOffsetOfChar(s.view(), from)));
  if (find.empty() || count == 0) return Value::Str(src);
  std::string out;
  out.reserve(src.size() + with.size());
  size_t pos = 0;
  int32_t done = 0;
  const TextSearch search(src, find.view(), tc);
  while (count < 0 || done < count) {
    size_t hit = search.Find(pos);
    if (hit == std::string::npos) break;
    out.append(src.substr(pos, hit - pos));
    out.append(with.view());
    CheckStringSize(out.size());
    pos = hit + find.size();
    ++done;
  }
  out.append(src.substr(pos));
  return Value::Str(std::move(out));
}

Value FnStrComp(Vm&, A& a) {
  if (IsNullArg(a, 0) || IsNullArg(a, 1)) return Value::Null();
  return Value::Integer(
      static_cast<int16_t>(CompareText(Text(a, 0), Text(a, 1), TextCompare(a, 2))));
}

Value FnAsc(Vm&, A& a) {
  if (IsNullArg(a, 0)) Throw(kErrInvalidNull);
  std::string s = Text(a, 0);
  if (s.empty()) Throw(kErrInvalidCall);
  size_t len = 1;
  uint32_t cp = DecodeChar(s, 0, &len);
  if (len == 1 && cp >= 0x80) return Value::Integer(static_cast<int16_t>(cp));
  return Value::Integer(static_cast<int16_t>(UnicodeToAnsi(cp)));
}

Value FnAscW(Vm&, A& a) {
  if (IsNullArg(a, 0)) Throw(kErrInvalidNull);
  std::string s = Text(a, 0);
  if (s.empty()) Throw(kErrInvalidCall);
  size_t len = 1;
  uint32_t cp = DecodeChar(s, 0, &len);
  if (cp > 0xFFFF) return Value::Long(static_cast<int32_t>(cp));
  return Value::Integer(static_cast<int16_t>(static_cast<uint16_t>(cp)));
}

Value FnChr(Vm&, A& a) {
  int32_t n = Long(a, 0);
  if (n < 0 || n > 255) Throw(kErrInvalidCall);
  std::string s;
  AppendCodePoint(s, AnsiToUnicode(static_cast<uint8_t>(n)));
  return Value::Str(std::move(s));
}

Value FnChrW(Vm&, A& a) {
  int32_t n = Long(a, 0);
  if (n < -32768 || n > 65535) Throw(kErrInvalidCall);
  if (n < 0) n += 65536;
  std::string s;
  AppendCodePoint(s, static_cast<uint32_t>(n));
  return Value::Str(std::move(s));
}

Value FnLenB(Vm&, A& a) {
  if (IsNullArg(a, 0)) return Value::Null();
  return Value::Long(static_cast<int32_t>(2 * CharCount(Text(a, 0))));
}

Value FnSplit(Vm&, A& a) {
  if (IsNullArg(a, 0)) Throw(kErrInvalidNull);
  TextArg text(a, 0);
  std::optional<TextArg> given;
  if (Has(a, 1)) given.emplace(a, 1);
  const std::string_view s = text.view();
  const std::string_view delim = given ? given->view() : " ";
  int32_t limit = Has(a, 2) ? Long(a, 2) : -1;
  if (limit < -1) Throw(kErrInvalidCall);
  bool tc = TextCompare(a, 3);
  const bool ascii = text.ascii();
  if (s.empty()) return ArrayFromValues({});
  Value list = NewList(8);
  std::vector<Value>& parts = list.arr()->data;
  if (delim.empty() || limit == 1) {
    parts.push_back(Value::Str(s));
  } else {
    size_t pos = 0;
    const TextSearch search(s, delim, tc);
    while (true) {
      if (limit > 0 && static_cast<int32_t>(parts.size()) == limit - 1) {
        parts.push_back(Piece(s.substr(pos), ascii));
        break;
      }
      size_t hit = search.Find(pos);
      if (hit == std::string::npos) {
        parts.push_back(Piece(s.substr(pos), ascii));
        break;
      }
      parts.push_back(Piece(s.substr(pos, hit - pos), ascii));
      pos = hit + delim.size();
      if (parts.size() > CurrentLimits().max_array_elements) Throw(kErrOutOfMemory);
    }
  }
  SealList(list.arr());
  return list;
}

const ArrayObj* OneDimArray(const Value& v) {
  if (v.tag() != Tag::kArray) Throw(kErrTypeMismatch);
  const ArrayObj* arr = v.arr();
  if (arr->dims.size() != 1) Throw(kErrSubscript);
  return arr;
}

// Join takes a one-dimensional array of values that have a text (Null and
// arrays among the elements are type mismatches, as are other dimensions).
Value FnJoin(Vm&, A& a) {
  if (IsNullArg(a, 0)) Throw(kErrInvalidNull);
  Value list = Arg(a, 0).Deref();
  if (list.IsObject()) list = ToPrimitive(list);
  if (list.tag() != Tag::kArray || list.arr()->dims.size() != 1) Throw(kErrTypeMismatch);
  const ArrayObj* arr = list.arr();
  std::string delim = Has(a, 1) ? Text(a, 1) : " ";
  std::string out;
  for (size_t i = 0; i < arr->data.size(); ++i) {
    if (i) out += delim;
    const Value& item = arr->data[i];
    if (item.IsNull() || item.IsArray()) Throw(kErrTypeMismatch);
    out += ToText(item);
    CheckStringSize(out.size());
  }
  return Value::Str(std::move(out));
}

Value FnFilter(Vm&, A& a) {
  const ArrayObj* arr = OneDimArray(Arg(a, 0));
  if (IsNullArg(a, 1)) Throw(kErrInvalidNull);
  std::string match = Text(a, 1);
  bool include = Has(a, 2) ? ToBool(Arg(a, 2)) : true;
  bool tc = TextCompare(a, 3);
  std::vector<Value> out;
  for (const Value& v : arr->data) {
    std::string t = ToText(v);
    bool found = FindText(t, match, 0, tc) != std::string::npos;
    if (found == include) out.push_back(Value::Str(std::move(t)));
  }
  return ArrayFromValues(std::move(out));
}

Value FnEscape(Vm&, A& a) {
  if (IsNullArg(a, 0)) return Value::Null();
  std::string s = Text(a, 0), out;
  const char* keep = "@*_+-./";
  char buf[8];
  for (size_t i = 0; i < s.size();) {
    size_t len = 1;
    uint32_t cp = DecodeChar(s, i, &len);
    i += len;
    if (cp < 128 && (isalnum(static_cast<int>(cp)) || strchr(keep, static_cast<int>(cp)))) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 256) {
      std::snprintf(buf, sizeof buf, "%%%02X", cp);
      out += buf;
    } else {
      std::snprintf(buf, sizeof buf, "%%u%04X", cp & 0xFFFF);
      out += buf;
    }
  }
  return Value::Str(std::move(out));
}

Value FnUnescape(Vm&, A& a) {
  if (IsNullArg(a, 0)) return Value::Null();
  std::string s = Text(a, 0), out;
  auto hex = [&](size_t p, size_t n, uint32_t& v) {
    if (p + n > s.size()) return false;
    v = 0;
    for (size_t k = p; k < p + n; ++k) {
      char c = s[k];
      int d = isdigit(static_cast<unsigned char>(c)) ? c - '0'
              : (c >= 'a' && c <= 'f')               ? c - 'a' + 10
              : (c >= 'A' && c <= 'F')               ? c - 'A' + 10
                                                     : -1;
      if (d < 0) return false;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    return true;
  };
  for (size_t i = 0; i < s.size();) {
    uint32_t v;
    if (s[i] == '%' && i + 1 < s.size() && s[i + 1] == 'u' && hex(i + 2, 4, v)) {
      AppendCodePoint(out, v);
      i += 6;
    } else if (s[i] == '%' && hex(i + 1, 2, v)) {
      AppendCodePoint(out, v);
      i += 3;
    } else {
      out.push_back(s[i++]);
    }
  }
  return Value::Str(std::move(out));
}

// --- Numbers -------------------------------------------------------------

Value FnAbs(Vm&, A& a) {
  Value v = ToNumber(Arg(a, 0));
  switch (v.tag()) {
    case Tag::kNull:
      return v;
    case Tag::kInteger:
    case Tag::kLong:
    case Tag::kByte:
      return v.raw_int() < 0 ? OpNeg(v) : v;
    case Tag::kCurrency:
      return v.raw_int() < 0 ? OpNeg(v) : v;
    case Tag::kSingle:
      return Value::Single(std::fabs(static_cast<float>(v.raw_double())));
    case Tag::kDate:
      return Value::Date(std::fabs(v.raw_double()));
    default:
      return Value::Double(std::fabs(ToDouble(v)));
  }
}

Value FnSgn(Vm&, A& a) {
  Value v = ToNumber(Arg(a, 0));
  if (v.IsNull()) Throw(kErrInvalidNull);
  double d = ToDouble(v);
  return Value::Integer(d > 0 ? 1 : (d < 0 ? -1 : 0));
}

Value IntFix(A& a, bool floor) {
  Value v = ToNumber(Arg(a, 0));
  switch (v.tag()) {
    case Tag::kNull:
    case Tag::kInteger:
    case Tag::kLong:
    case Tag::kByte:
      return v;
    case Tag::kCurrency: {
      int64_t c = v.raw_int();
      int64_t w = c / 10000 * 10000;
      if (floor && c < 0 && w != c) w -= 10000;
      return Value::Currency(w);
    }
    case Tag::kSingle: {
      float f = static_cast<float>(v.raw_double());
      return Value::Single(floor ? std::floor(f) : std::trunc(f));
    }
    case Tag::kDate:
      return Value::Date(floor ? std::floor(v.raw_double()) : std::trunc(v.raw_double()));
    default: {
      double d = ToDouble(v);
      return Value::Double(floor ? std::floor(d) : std::trunc(d));
    }
  }
}
Value FnInt(Vm&, A& a) {
  return IntFix(a, true);
}
Value FnFix(Vm&, A& a) {
  return IntFix(a, false);
}

Value FnRound(Vm&, A& a) {
  Value v = ToNumber(Arg(a, 0));
  if (v.IsNull()) return v;
  int32_t digits = Has(a, 1) ? Long(a, 1) : 0;
  if (digits < 0) Throw(kErrInvalidCall);
  if (v.tag() == Tag::kInteger || v.tag() == Tag::kLong || v.tag() == Tag::kByte) {
    // A whole number comes back as it is; Windows keeps a Boolean Boolean.
    return Arg(a, 0).Deref().tag() == Tag::kBoolean ? Arg(a, 0).Deref() : v;
  }
  double d = ToDouble(v);
  double r;
  if (digits == 0) {
    r = RoundHalfEven(d);
  } else {
    double scale = std::pow(10.0, digits);
    double x = d * scale;
    // Values that print as an exact half are halves.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", x);
    double xr = std::strtod(buf, nullptr);
    r = RoundHalfEven(xr) / scale;
    if (!std::isfinite(r)) r = d;
  }
  if (v.tag() == Tag::kSingle) return Value::Single(static_cast<float>(r));
  if (v.tag() == Tag::kCurrency)
    return Value::Currency(static_cast<int64_t>(std::llround(r * 10000)));
  return Value::Double(r);
}

Value Math(A& a, double (*fn)(double)) {
  Value v = ToNumber(Arg(a, 0));
  if (v.IsNull()) Throw(kErrInvalidNull);
  double r = fn(ToDouble(v));
  if (!std::isfinite(r)) Throw(kErrOverflow);
  return Value::Double(r);
}
Value FnSin(Vm&, A& a) {
  return Math(a, std::sin);
}
Value FnCos(Vm&, A& a) {
  return Math(a, std::cos);
}
Value FnTan(Vm&, A& a) {
  return Math(a, std::tan);
}
Value FnAtn(Vm&, A& a) {
  return Math(a, std::atan);
}
Value FnExp(Vm&, A& a) {
  return Math(a, std::exp);
}
Value FnLog(Vm&, A& a) {
  if (Num(a, 0) <= 0) Throw(kErrInvalidCall);
  return Math(a, std::log);
}
Value FnSqr(Vm&, A& a) {
  if (Num(a, 0) < 0) Throw(kErrInvalidCall);
  return Math(a, std::sqrt);
}

Value Radix(A& a, bool hex) {
  Value v = ToNumber(Arg(a, 0));
  if (v.IsNull()) return v;
  bool small = v.tag() == Tag::kInteger || v.tag() == Tag::kByte;
  int32_t n = ToLong(v);
  char buf[24];
  if (small) {
    std::snprintf(buf, sizeof buf, hex ? "%X" : "%o",
                  static_cast<unsigned>(static_cast<uint16_t>(n)));
  } else {
    std::snprintf(buf, sizeof buf, hex ? "%X" : "%o", static_cast<unsigned>(n));
  }
  return Value::Str(buf);
}
Value FnHex(Vm&, A& a) {
  return Radix(a, true);
}
Value FnOct(Vm&, A& a) {
  return Radix(a, false);
}

Value FnRnd(Vm& vm, A& a) {
  return Value::Single(static_cast<float>(vm.Rnd(Has(a, 0) ? Num(a, 0) : 1.0)));
}
Value FnRandomize(Vm& vm, A& a) {
  vm.Randomize(Has(a, 0) ? std::optional<double>(Num(a, 0)) : std::nullopt);
  return Value();
}

// --- Conversions ---------------------------------------------------------

Value NullOr94(A& a) {
  const Value& v = Arg(a, 0);
  if (v.tag() == Tag::kNull) Throw(kErrInvalidNull);
  return Value();
}
Value FnCBool(Vm&, A& a) {
  NullOr94(a);
  return Value::Bool(ToBool(Arg(a, 0)));
}
Value FnCByte(Vm&, A& a) {
  NullOr94(a);
  return Value::Byte(ToByte(Arg(a, 0)));
}
Value FnCInt(Vm&, A& a) {
  NullOr94(a);
  return Value::Integer(ToInteger(Arg(a, 0)));
}
Value FnCLng(Vm&, A& a) {
  NullOr94(a);
  return Value::Long(ToLong(Arg(a, 0)));
}
Value FnCCur(Vm&, A& a) {
  NullOr94(a);
  return Value::Currency(ToCurrency(Arg(a, 0)));
}
Value FnCDbl(Vm&, A& a) {
  NullOr94(a);
  const Value& v = Arg(a, 0);
  if (v.tag() == Tag::kString) {
    auto n = ParseNumber(v.text());
    if (n) return Value::Double(*n);
    auto d = ParseDateTime(v.text(), CurrentLocale().dates);
    if (!d) Throw(kErrTypeMismatch);
    return Value::Double(*d);
  }
  return Value::Double(ToDouble(v));
}
Value FnCSng(Vm&, A& a) {
  NullOr94(a);
  double d = ToDouble(Arg(a, 0));
  if (std::fabs(d) > 3.402823466e38) Throw(kErrOverflow);
  return Value::Single(static_cast<float>(d));
}
Value FnCStr(Vm&, A& a) {
  return Value::Str(ToText(Arg(a, 0)));
}
Value FnCDate(Vm&, A& a) {
  NullOr94(a);
  return Value::Date(ToDate(Arg(a, 0)));
}

// --- Type tests ----------------------------------------------------------

Value FnIsArray(Vm&, A& a) {
  return Value::Bool(Arg(a, 0).tag() == Tag::kArray);
}
Value FnIsEmpty(Vm&, A& a) {
  return Value::Bool(Arg(a, 0).tag() == Tag::kEmpty);
}
Value FnIsNull(Vm&, A& a) {
  return Value::Bool(Arg(a, 0).tag() == Tag::kNull);
}
Value FnIsObject(Vm&, A& a) {
  return Value::Bool(Arg(a, 0).IsObjectOrNothing());
}
Value FnIsNumeric(Vm&, A& a) {
  const Value& v = Arg(a, 0);
  if (v.tag() == Tag::kDate) return Value::Bool(false);
  return Value::Bool(IsNumericValue(v));
}
Value FnIsDate(Vm&, A& a) {
  const Value& v = Arg(a, 0);
  if (v.tag() == Tag::kDate) return Value::Bool(true);
  if (v.tag() == Tag::kString)
    return Value::Bool(ParseDateTime(v.text(), CurrentLocale().dates).has_value());
  return Value::Bool(false);
}
// An object with a default property reports the type of that property's
// value; an object without one (or whose default needs arguments) is Object.
Value FnVarType(Vm&, A& a) {
  const Value& v = Arg(a, 0).Deref();
  if (v.tag() != Tag::kObject) return Int16OrLong(VarType(v));
  Value none;
  CallArgs args(&none, 0);
  try {
    Value r = v.obj()->Invoke(kDefaultMember, InvokeKind::kGet, args);
    return Int16OrLong(VarType(r));
  } catch (const ScriptError& e) {
    if (e.number != kErrNoMember && e.number != kErrWrongArgs && e.number != kErrArgNotOptional) {
      throw;
    }
  }
  return Int16OrLong(kVtObject);
}
Value FnTypeName(Vm&, A& a) {
  return Value::Str(TypeNameOf(Arg(a, 0)));
}

// --- Arrays --------------------------------------------------------------

Value FnArray(Vm&, A& a) {
  std::vector<Value> items;
  for (int i = 0; i < a.size(); ++i) items.push_back(a[i]);
  return ArrayFromValues(std::move(items));
}

Value Bound(A& a, bool upper) {
  const Value& v = Arg(a, 0);
  if (v.tag() != Tag::kArray) Throw(kErrTypeMismatch);
  const ArrayObj* arr = v.arr();
  int32_t dim = Has(a, 1) ? Long(a, 1) : 1;
  if (dim < 1 || static_cast<size_t>(dim) > arr->dims.size()) Throw(kErrSubscript);
  const ArrayDim& d = arr->dims[static_cast<size_t>(dim - 1)];
  return Value::Long(upper ? d.lower + d.count - 1 : d.lower);
}
Value FnLBound(Vm&, A& a) {
  return Bound(a, false);
}
Value FnUBound(Vm&, A& a) {
  return Bound(a, true);
}

// --- Dates ---------------------------------------------------------------

double NowValue(Vm& vm) {
  if (vm.options().clock) return vm.options().clock();
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  time_t t = tv.tv_sec;
  struct tm lt;
  localtime_r(&t, &lt);
  return ToDateValue(CivilDateTime{lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour,
                                   lt.tm_min, lt.tm_sec});
}

double DatePart(double d) {
  return d < 0 ? std::ceil(d) : std::floor(d);
}
double TimePart(double d) {
  return std::fabs(d - std::trunc(d));
}

Value FnNow(Vm& vm, A&) {
  return Value::Date(NowValue(vm));
}
Value FnDate(Vm& vm, A&) {
  return Value::Date(std::floor(NowValue(vm)));
}
Value FnTime(Vm& vm, A&) {
  return Value::Date(TimePart(NowValue(vm)));
}
Value FnTimer(Vm& vm, A&) {
  if (vm.options().clock)
    return Value::Single(static_cast<float>(TimePart(vm.options().clock()) * 86400.0));
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  time_t t = tv.tv_sec;
  struct tm lt;
  localtime_r(&t, &lt);
  double secs = lt.tm_hour * 3600.0 + lt.tm_min * 60.0 + lt.tm_sec + tv.tv_usec / 1e6;
  return Value::Single(static_cast<float>(secs));
}

CivilDateTime CivilArg(A& a, int i) {
  return FromDateValue(ToDate(Arg(a, i)));
}

// Year, Month, Day, Hour, Minute and Second read one field of the date.
Value DateField(A& a, int CivilDateTime::*field) {
  if (IsNullArg(a, 0)) return Value::Null();
  const CivilDateTime t = CivilArg(a, 0);
  return Value::Integer(static_cast<int16_t>(t.*field));
}
Value FnYear(Vm&, A& a) {
  return DateField(a, &CivilDateTime::year);
}
Value FnMonth(Vm&, A& a) {
  return DateField(a, &CivilDateTime::month);
}
Value FnDay(Vm&, A& a) {
  return DateField(a, &CivilDateTime::day);
}
Value FnHour(Vm&, A& a) {
  return DateField(a, &CivilDateTime::hour);
}
Value FnMinute(Vm&, A& a) {
  return DateField(a, &CivilDateTime::minute);
}
Value FnSecond(Vm&, A& a) {
  return DateField(a, &CivilDateTime::second);
}

int FirstDay(A& a, int i) {
  int fd = Has(a, i) ? Long(a, i) : 1;
  if (fd == 0) fd = 1;
  if (fd < 1 || fd > 7) Throw(kErrInvalidCall);
  return fd;
}

Value FnWeekday(Vm&, A& a) {
  // The first day is checked even when a Null date gives Null.
  int fd = FirstDay(a, 1);
  if (IsNullArg(a, 0)) return Value::Null();
  int w = Weekday(ToDate(Arg(a, 0)));
  return Value::Integer(static_cast<int16_t>((w - fd + 7) % 7 + 1));
}

int32_t YearArg(int32_t y) {
  if (y >= 0 && y < 30) return y + 2000;
  if (y >= 30 && y < 100) return y + 1900;
  return y;
}

Value FnDateSerial(Vm&, A& a) {
  int32_t y = YearArg(ToInteger(Arg(a, 0))), m = ToInteger(Arg(a, 1)), d = ToInteger(Arg(a, 2));
  double v = static_cast<double>(DaysFromCivil(y, m, d));
  if (!IsValidDateValue(v)) Throw(kErrInvalidCall);
  return Value::Date(v);
}

Value FnTimeSerial(Vm&, A& a) {
  double secs = ToInteger(Arg(a, 0)) * 3600.0 + ToInteger(Arg(a, 1)) * 60.0 + ToInteger(Arg(a, 2));
  double v = secs / 86400.0;
  if (v < 0) {
    // Negative times count back from midnight of day 0.
    double days = std::floor(v);
    double frac = v - days;
    v = days - frac;
  }
  return Value::Date(v);
}

Value FnDateValue(Vm&, A& a) {
  if (IsNullArg(a, 0)) return Value::Null();
  return Value::Date(DatePart(ToDate(Arg(a, 0))));
}
Value FnTimeValue(Vm&, A& a) {
  if (IsNullArg(a, 0)) return Value::Null();
  return Value::Date(TimePart(ToDate(Arg(a, 0))));
}

// Seconds since day 0 (times before day 0 still count forward in the day).
double SerialSeconds(double d) {
  CivilDateTime t = FromDateValue(d);
  return static_cast<double>(DaysFromCivil(t.year, t.month, t.day)) * 86400.0 + t.hour * 3600.0 +
         t.minute * 60.0 + t.second;
}

double FromSeconds(double s) {
  double days = std::floor(s / 86400.0);
  double rem = s - days * 86400.0;
  CivilDateTime t;
  long long dd = static_cast<long long>(days);
  // Rebuild through the civil calendar so negative days keep their time.
  double base = static_cast<double>(dd);
  t = FromDateValue(base);
  t.hour = static_cast<int>(rem / 3600);
  t.minute = static_cast<int>(std::fmod(rem, 3600) / 60);
  t.second = static_cast<int>(std::fmod(rem, 60));
  return ToDateValue(t);
}

std::string Interval(A& a, int i) {
  return ToLower(Text(a, i));
}

Value FnDateAdd(Vm&, A& a) {
  std::string iv = Interval(a, 0);
  double n = std::trunc(Num(a, 1));
  if (IsNullArg(a, 2)) return Value::Null();
  // Beyond this every interval leaves the date range.
  if (!(std::fabs(n) < 4e11)) Throw(kErrInvalidCall);
  double d = ToDate(Arg(a, 2));
  CivilDateTime t = FromDateValue(d);
  double r;
  if (iv == "yyyy" || iv == "q" || iv == "m") {
    long long months = static_cast<long long>(n) * (iv == "yyyy" ? 12 : iv == "q" ? 3 : 1);
    long long total = t.year * 12LL + (t.month - 1) + months;
    // Out of the date range before the month is looked at (a negative total
    // would index before the table).
    if (total < 100 * 12 || total > 9999 * 12 + 11) Throw(kErrInvalidCall);
    long long y = total / 12;
    int m = static_cast<int>(total % 12) + 1;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int dim = kDays[m - 1];
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) dim = 29;
    CivilDateTime nt = t;
    nt.year = static_cast<int>(y);
    nt.month = m;
    nt.day = std::min(t.day, dim);
    r = ToDateValue(nt);
  } else {
    double secs = 0;
    if (iv == "y" || iv == "d" || iv == "w")
      secs = n * 86400.0;
    else if (iv == "ww")
      secs = n * 7 * 86400.0;
    else if (iv == "h")
      secs = n * 3600.0;
    else if (iv == "n")
      secs = n * 60.0;
    else if (iv == "s")
      secs = n;
    else
      Throw(kErrInvalidCall);
    r = FromSeconds(SerialSeconds(d) + secs);
  }
  if (!IsValidDateValue(r)) Throw(kErrInvalidCall);
  return Value::Date(r);
}

Value FnDateDiff(Vm&, A& a) {
  std::string iv = Interval(a, 0);
  if (IsNullArg(a, 1) || IsNullArg(a, 2)) return Value::Null();
  double d1 = ToDate(Arg(a, 1)), d2 = ToDate(Arg(a, 2));
  CivilDateTime t1 = FromDateValue(d1), t2 = FromDateValue(d2);
  double s1 = SerialSeconds(d1), s2 = SerialSeconds(d2);
  auto day_of = [](double s) { return std::floor(s / 86400.0); };
  long long r = 0;
  if (iv == "yyyy") {
    r = t2.year - t1.year;
  } else if (iv == "q") {
    r = (t2.year * 4LL + (t2.month - 1) / 3) - (t1.year * 4LL + (t1.month - 1) / 3);
  } else if (iv == "m") {
    r = (t2.year * 12LL + t2.month) - (t1.year * 12LL + t1.month);
  } else if (iv == "y" || iv == "d") {
    r = static_cast<long long>(day_of(s2) - day_of(s1));
  } else if (iv == "w") {
    r = static_cast<long long>(day_of(s2) - day_of(s1)) / 7;
  } else if (iv == "ww") {
    int fd = FirstDay(a, 3);
    auto week_start = [&](double s) {
      double day = day_of(s);
      int w = Weekday(day);
      return day - ((w - fd + 7) % 7);
    };
    r = static_cast<long long>((week_start(s2) - week_start(s1)) / 7);
  } else if (iv == "h") {
    r = static_cast<long long>(std::floor(s2 / 3600.0) - std::floor(s1 / 3600.0));
  } else if (iv == "n") {
    r = static_cast<long long>(std::floor(s2 / 60.0) - std::floor(s1 / 60.0));
  } else if (iv == "s") {
    r = static_cast<long long>(s2 - s1);
  } else {
    Throw(kErrInvalidCall);
  }
  if (r < INT32_MIN || r > INT32_MAX) Throw(kErrOverflow);
  return Value::Long(static_cast<int32_t>(r));
}

Value FnDatePart(Vm&, A& a) {
  std::string iv = Interval(a, 0);
  if (IsNullArg(a, 1)) return Value::Null();
  double d = ToDate(Arg(a, 1));
  CivilDateTime t = FromDateValue(d);
  int r = 0;
  if (iv == "yyyy")
    r = t.year;
  else if (iv == "q")
    r = (t.month - 1) / 3 + 1;
  else if (iv == "m")
    r = t.month;
  else if (iv == "y")
    r = static_cast<int>(DaysFromCivil(t.year, t.month, t.day) - DaysFromCivil(t.year, 1, 1) + 1);
  else if (iv == "d")
    r = t.day;
  else if (iv == "w")
    r = (Weekday(d) - FirstDay(a, 2) + 7) % 7 + 1;
  else if (iv == "ww") {
    int fd = FirstDay(a, 2);
    double jan1 = static_cast<double>(DaysFromCivil(t.year, 1, 1));
    int offset = (Weekday(jan1) - fd + 7) % 7;
    long long doy = DaysFromCivil(t.year, t.month, t.day) - DaysFromCivil(t.year, 1, 1);
    r = static_cast<int>((doy + offset) / 7 + 1);
  } else if (iv == "h")
    r = t.hour;
  else if (iv == "n")
    r = t.minute;
  else if (iv == "s")
    r = t.second;
  else
    Throw(kErrInvalidCall);
  return Value::Integer(static_cast<int16_t>(r));
}

Value FnMonthName(Vm&, A& a) {
  if (IsNullArg(a, 1)) Throw(kErrInvalidNull);
  int32_t m = Long(a, 0);
  if (m < 1 || m > 12) Throw(kErrInvalidCall);
  return Value::Str(std::string(MonthName(m, Has(a, 1) && ToBool(Arg(a, 1)))));
}

Value FnWeekdayName(Vm&, A& a) {
  int32_t w = Long(a, 0);
  if (w < 1 || w > 7) Throw(kErrInvalidCall);
  int fd = FirstDay(a, 2);
  int day = (w + fd - 2) % 7 + 1;
  return Value::Str(std::string(WeekdayName(day, Has(a, 1) && ToBool(Arg(a, 1)))));
}

// --- Formatting (in the script locale) -------------------------------------

std::string GroupThousands(const std::string& digits) {
  const char* group = CurrentLocale().group;
  std::string out;
  int n = static_cast<int>(digits.size());
  for (int i = 0; i < n; ++i) {
    if (i && (n - i) % 3 == 0) out.append(group);
    out.push_back(digits[static_cast<size_t>(i)]);
  }
  return out;
}

// Tristate: -1 true, 0 false, -2 the default.
bool Tri(A& a, int i, bool dflt) {
  if (!Has(a, i)) return dflt;
  int32_t v = Long(a, i);
  if (v == -2) return dflt;
  return v != 0;
}

std::string FormatFixed(double v, int digits, bool leading, bool parens, bool group,
                        const char* prefix, const char* suffix) {
  if (digits < 0) digits = 2;
  if (digits > 255) Throw(kErrInvalidCall);
  // Halves round away from zero when formatting.
  double scale = std::pow(10.0, digits);
  char check[64];
  std::snprintf(check, sizeof check, "%.15g", std::fabs(v) * scale);
  double scaled = std::floor(std::strtod(check, nullptr) + 0.5);
  bool neg = v < 0 && scaled != 0;
  std::string s;
  if (scaled < 1e300) {
    std::vector<char> buf(static_cast<size_t>(digits) + 400);
    std::snprintf(buf.data(), buf.size(), "%.*f", digits, scaled / scale);
    s = buf.data();
  }
  std::string int_part = s.substr(0, s.find('.'));
  std::string frac = s.find('.') == std::string::npos ? "" : LocalDecimal(s.substr(s.find('.')));
  if (int_part == "0" && !leading && digits > 0) int_part.clear();
  if (group) int_part = GroupThousands(int_part);
  std::string body = std::string(prefix) + int_part + frac + suffix;
  if (!neg) return body;
  return parens ? "(" + body + ")" : "-" + body;
}

Value FnFormatNumber(Vm&, A& a) {
  if (IsNullArg(a, 0)) Throw(kErrTypeMismatch);
  double v = ToDouble(Arg(a, 0));
  int digits = Has(a, 1) ? Long(a, 1) : -1;
  return Value::Str(
      FormatFixed(v, digits, Tri(a, 2, true), Tri(a, 3, false), Tri(a, 4, true), "", ""));
}

Value FnFormatCurrency(Vm&, A& a) {
  if (IsNullArg(a, 0)) Throw(kErrTypeMismatch);
  double v = ToDouble(Arg(a, 0));
  const ScriptLocale& locale = CurrentLocale();
  int digits = Has(a, 1) ? Long(a, 1) : -1;
  if (digits == -1) digits = locale.currency_digits;
  // "$1,234.56" or "1.234,56 €", as the country places its symbol.
  std::string after = std::string(" ") + locale.currency;
  const char* prefix = locale.currency_after ? "" : locale.currency;
  const char* suffix = locale.currency_after ? after.c_str() : "";
  return Value::Str(
      FormatFixed(v, digits, Tri(a, 2, true), Tri(a, 3, true), Tri(a, 4, true), prefix, suffix));
}

Value FnFormatPercent(Vm&, A& a) {
  if (IsNullArg(a, 0)) Throw(kErrTypeMismatch);
  double v = ToDouble(Arg(a, 0)) * 100.0;
  int digits = Has(a, 1) ? Long(a, 1) : -1;
  return Value::Str(
      FormatFixed(v, digits, Tri(a, 2, true), Tri(a, 3, false), Tri(a, 4, true), "", "%"));
}

Value FnFormatDateTime(Vm&, A& a) {
  if (IsNullArg(a, 0)) Throw(kErrTypeMismatch);
  double d = ToDate(Arg(a, 0));
  // The NamedFormat argument: vbGeneralDate, vbLongDate, vbShortDate,
  // vbLongTime, vbShortTime.
  // Short dates and long times in the locale's style; the long date is
  // written in English everywhere.
  static constexpr std::string (*kFormats[])(double) = {
      FormatDateValue, FormatLongDate,
      [](double v) { return FormatShortDate(v, CurrentLocale().dates); },
      [](double v) { return FormatLongTime(v, CurrentLocale().dates); }, FormatShortTime};
  const int32_t f = Has(a, 1) ? Long(a, 1) : 0;
  if (f < 0 || f >= static_cast<int32_t>(std::size(kFormats))) Throw(kErrInvalidCall);
  return Value::Str(kFormats[f](d));
}

// --- The script and its host ---------------------------------------------

int DefaultButton(int32_t buttons) {
  static const int kIds[6][3] = {{1, 1, 1}, {1, 2, 2}, {3, 4, 5}, {6, 7, 2}, {6, 7, 7}, {4, 2, 2}};
  int set = buttons & 7;
  if (set > 5) set = 0;
  int def = (buttons >> 8) & 3;
  if (def > 2) def = 2;
  return kIds[set][def];
}

Value FnMsgBox(Vm& vm, A& a) {
  std::string prompt = IsNullArg(a, 0) ? "" : Text(a, 0);
  int32_t buttons = Has(a, 1) ? Long(a, 1) : 0;
  std::string title = Has(a, 2) ? Text(a, 2) : "";
  vm.Log("MsgBox", title.empty() ? prompt : title + ": " + prompt);
  return Value::Integer(static_cast<int16_t>(DefaultButton(buttons)));
}

Value FnInputBox(Vm& vm, A& a) {
  std::string prompt = Text(a, 0);
  vm.Log("InputBox", prompt);
  return Value::Str(Has(a, 2) ? Text(a, 2) : "");
}

// The text argument of Execute, ExecuteGlobal and GetRef: a string (an
// object gives its default value); anything else is a type mismatch.
std::string CodeText(A& a) {
  const Value v = ToPrimitive(Arg(a, 0));
  if (!v.IsString()) Throw(kErrTypeMismatch);
  return v.text();
}

// Code that Eval and Execute cannot compile fails as a whole with "Syntax
// error" (1002), whatever the parser found first.
template <typename Fn>
auto RunCode(Fn fn) {
  try {
    return fn();
  } catch (ScriptError& e) {
    if (e.compile) {
      e.number = kErrSyntax;
      e.description = std::string(ErrorText(kErrSyntax));
      e.name.clear();
    }
    throw;
  }
}

Value FnEval(Vm& vm, A& a) {
  const Value v = ToPrimitive(Arg(a, 0));
  // Only text is evaluated; any other value is the result as it is.
  if (!v.IsString()) return v;
  return RunCode([&] { return vm.EvalInScope(v.text()); });
}
Value FnExecute(Vm& vm, A& a) {
  std::string code = CodeText(a);
  RunCode([&] { vm.ExecuteText(code, false); });
  return Value();
}
Value FnExecuteGlobal(Vm& vm, A& a) {
  std::string code = CodeText(a);
  RunCode([&] { vm.ExecuteText(code, true); });
  return Value();
}
Value FnGetRef(Vm& vm, A& a) {
  return vm.GetRef(CodeText(a));
}
Value FnCreateObject(Vm& vm, A& a) {
  return vm.CreateObject(Text(a, 0));
}
Value FnGetObject(Vm& vm, A& a) {
  if (Has(a, 1)) return vm.CreateObject(Text(a, 1));
  Throw(kErrCantCreate);
}
Value FnErr(Vm& vm, A&) {
  return Value::Obj(&vm.err());
}
Value FnScriptEngine(Vm&, A&) {
  return Value::Str("VBScript");
}
Value FnScriptEngineMajor(Vm&, A&) {
  return Value::Long(5);
}
Value FnScriptEngineMinor(Vm&, A&) {
  return Value::Long(8);
}
Value FnScriptEngineBuild(Vm&, A&) {
  return Value::Long(16384);
}
Value FnGetLocale(Vm& vm, A&) {
  return Value::Long(vm.locale().lcid);
}
// SetLocale(lcid or "de-de") chooses the locale and gives the one before;
// without an argument (or with 0) it goes back to the default.
Value FnSetLocale(Vm& vm, A& a) {
  const int32_t before = vm.locale().lcid;
  const ScriptLocale* chosen = nullptr;
  if (!Has(a, 0)) {
    chosen = FindLocale(kDefaultLcid);
  } else if (Arg(a, 0).Deref().IsString()) {
    chosen = Text(a, 0).empty() ? FindLocale(kDefaultLcid) : FindLocale(Text(a, 0));
  } else {
    const int32_t lcid = Long(a, 0);
    chosen = FindLocale(lcid == 0 ? kDefaultLcid : lcid);
  }
  if (!chosen) Throw(kErrInvalidCall);
  vm.SetLocale(*chosen);
  return Value::Long(before);
}
Value FnRGB(Vm&, A& a) {
  auto c = [&](int i) {
    int32_t v = Long(a, i);
    if (v < 0) Throw(kErrInvalidCall);
    return std::min(v, 255);
  };
  return Value::Long(c(0) + c(1) * 256 + c(2) * 65536);
}
Value FnLoadPicture(Vm&, A&) {
  Throw(kErrCantCreate);
}
Value FnIllegalAssign(Vm&, A& a) {
  ThrowNamed(kErrIllegalAssign, Text(a, 0));
}
// Run-time errors the compiler places where the text is valid but can never
// run, such as ".member" outside any With.
Value FnRaise(Vm&, A& a) {
  Throw(Long(a, 0));
}
// The object of a With: an object or Nothing (which fails only when a
// member is used); anything else is error 424 as the With starts.
Value FnWithObject(Vm&, A& a) {
  Tag t = a[0].Deref().tag();
  if (t != Tag::kObject && t != Tag::kNothing) Throw(kErrObjectRequired);
  return a[0].Deref();
}

const Builtin kBuiltins[] = {
    {"Abs", 1, 1, FnAbs},
    {"Array", 0, 65535, FnArray},
    {"Asc", 1, 1, FnAsc},
    {"AscB", 1, 1, FnAsc},
    {"AscW", 1, 1, FnAscW},
    {"Atn", 1, 1, FnAtn},
    {"CBool", 1, 1, FnCBool},
    {"CByte", 1, 1, FnCByte},
    {"CCur", 1, 1, FnCCur},
    {"CDate", 1, 1, FnCDate},
    {"CDbl", 1, 1, FnCDbl},
    {"Chr", 1, 1, FnChr},
    {"ChrB", 1, 1, FnChr},
    {"ChrW", 1, 1, FnChrW},
    {"CInt", 1, 1, FnCInt},
    {"CLng", 1, 1, FnCLng},
    {"Cos", 1, 1, FnCos},
    {"CreateObject", 1, 2, FnCreateObject},
    {"CSng", 1, 1, FnCSng},
    {"CStr", 1, 1, FnCStr},
    {"Date", 0, 0, FnDate},
    {"DateAdd", 3, 3, FnDateAdd},
    {"DateDiff", 3, 5, FnDateDiff},
    {"DatePart", 2, 4, FnDatePart},
    {"DateSerial", 3, 3, FnDateSerial},
    {"DateValue", 1, 1, FnDateValue},
    {"Day", 1, 1, FnDay},
    {"Err", 0, 0, FnErr},
    {"Escape", 1, 1, FnEscape},
    {"Eval", 1, 1, FnEval},
    {"Execute", 1, 1, FnExecute},
    {"ExecuteGlobal", 1, 1, FnExecuteGlobal},
    {"Exp", 1, 1, FnExp},
    {"Filter", 2, 4, FnFilter},
    {"Fix", 1, 1, FnFix},
    {"FormatCurrency", 1, 5, FnFormatCurrency},
    {"FormatDateTime", 1, 2, FnFormatDateTime},
    {"FormatNumber", 1, 5, FnFormatNumber},
    {"FormatPercent", 1, 5, FnFormatPercent},
    {"GetLocale", 0, 0, FnGetLocale},
    {"GetObject", 0, 2, FnGetObject},
    {"GetRef", 1, 1, FnGetRef},
    {"Hex", 1, 1, FnHex},
    {"Hour", 1, 1, FnHour},
    {"InputBox", 1, 7, FnInputBox},
    {"InStr", 2, 4, FnInStr},
    {"InStrB", 2, 4, FnInStr},
    {"InStrRev", 2, 4, FnInStrRev},
    {"Int", 1, 1, FnInt},
    {"IsArray", 1, 1, FnIsArray},
    {"IsDate", 1, 1, FnIsDate},
    {"IsEmpty", 1, 1, FnIsEmpty},
    {"IsNull", 1, 1, FnIsNull},
    {"IsNumeric", 1, 1, FnIsNumeric},
    {"IsObject", 1, 1, FnIsObject},
    {"Join", 1, 2, FnJoin},
    {"LBound", 1, 2, FnLBound},
    {"LCase", 1, 1, FnLCase},
    {"Left", 2, 2, FnLeft},
    {"LeftB", 2, 2, FnLeft},
    {"Len", 1, 1, FnLen},
    {"LenB", 1, 1, FnLenB},
    {"LoadPicture", 1, 1, FnLoadPicture},
    {"Log", 1, 1, FnLog},
    {"LTrim", 1, 1, FnLTrim},
    {"Mid", 2, 3, FnMid},
    {"MidB", 2, 3, FnMid},
    {"Minute", 1, 1, FnMinute},
    {"Month", 1, 1, FnMonth},
    {"MonthName", 1, 2, FnMonthName},
    {"MsgBox", 1, 5, FnMsgBox},
    {"Now", 0, 0, FnNow},
    {"Oct", 1, 1, FnOct},
    {"Randomize", 0, 1, FnRandomize},
    {"Replace", 3, 6, FnReplace},
    {"RGB", 3, 3, FnRGB},
    {"Right", 2, 2, FnRight},
    {"RightB", 2, 2, FnRight},
    {"Rnd", 0, 1, FnRnd},
    {"Round", 1, 2, FnRound},
    {"RTrim", 1, 1, FnRTrim},
    {"ScriptEngine", 0, 0, FnScriptEngine},
    {"ScriptEngineBuildVersion", 0, 0, FnScriptEngineBuild},
    {"ScriptEngineMajorVersion", 0, 0, FnScriptEngineMajor},
    {"ScriptEngineMinorVersion", 0, 0, FnScriptEngineMinor},
    {"Second", 1, 1, FnSecond},
    {"SetLocale", 0, 1, FnSetLocale},
    {"Sgn", 1, 1, FnSgn},
    {"Sin", 1, 1, FnSin},
    {"Space", 1, 1, FnSpace},
    {"Split", 1, 4, FnSplit},
    {"Sqr", 1, 1, FnSqr},
    {"StrComp", 2, 3, FnStrComp},
    {"String", 2, 2, FnString},
    {"StrReverse", 1, 1, FnStrReverse},
    {"Tan", 1, 1, FnTan},
    {"Time", 0, 0, FnTime},
    {"Timer", 0, 0, FnTimer},
    {"TimeSerial", 3, 3, FnTimeSerial},
    {"TimeValue", 1, 1, FnTimeValue},
    {"Trim", 1, 1, FnTrim},
    {"TypeName", 1, 1, FnTypeName},
    {"UBound", 1, 2, FnUBound},
    {"UCase", 1, 1, FnUCase},
    {"Unescape", 1, 1, FnUnescape},
    {"VarType", 1, 1, FnVarType},
    {"Weekday", 1, 2, FnWeekday},
    {"WeekdayName", 1, 3, FnWeekdayName},
    {"Year", 1, 1, FnYear},
    {"$illegalassign", 1, 1, FnIllegalAssign},
    {"$lenofmid", 2, 3, FnLenOfMid},
    {"$raise", 1, 1, FnRaise},
    {"$withobject", 1, 1, FnWithObject},
};

struct NamedConstant {
  const char* name;
  int32_t number;
  const char* text;      // non-null for texts
  bool is_long = false;  // Long even when the number would fit an Integer
};

const NamedConstant kConstants[] = {
    {"vbCr", 0, "\r"},
    {"vbLf", 0, "\n"},
    {"vbCrLf", 0, "\r\n"},
    {"vbNewLine", 0, "\r\n"},
    {"vbNullChar", 0, "\0"},
    {"vbNullString", 0, ""},
    {"vbTab", 0, "\t"},
    {"vbFormFeed", 0, "\f"},
    {"vbVerticalTab", 0, "\v"},
    {"vbBinaryCompare", 0, nullptr},
    {"vbTextCompare", 1, nullptr},
    {"vbDatabaseCompare", 2, nullptr},
    {"vbEmpty", 0, nullptr},
    {"vbNull", 1, nullptr},
    {"vbInteger", 2, nullptr},
    {"vbLong", 3, nullptr},
    {"vbSingle", 4, nullptr},
    {"vbDouble", 5, nullptr},
    {"vbCurrency", 6, nullptr},
    {"vbDate", 7, nullptr},
    {"vbString", 8, nullptr},
    {"vbObject", 9, nullptr},
    {"vbError", 10, nullptr},
    {"vbBoolean", 11, nullptr},
    {"vbVariant", 12, nullptr},
    {"vbDataObject", 13, nullptr},
    {"vbDecimal", 14, nullptr},
    {"vbByte", 17, nullptr},
    {"vbArray", 8192, nullptr},
    {"vbUseDefault", -2, nullptr},
    {"vbUseSystemDayOfWeek", 0, nullptr},
    {"vbSunday", 1, nullptr},
    {"vbMonday", 2, nullptr},
    {"vbTuesday", 3, nullptr},
    {"vbWednesday", 4, nullptr},
    {"vbThursday", 5, nullptr},
    {"vbFriday", 6, nullptr},
    {"vbSaturday", 7, nullptr},
    {"vbUseSystem", 0, nullptr},
    {"vbFirstJan1", 1, nullptr},
    {"vbFirstFourDays", 2, nullptr},
    {"vbFirstFullWeek", 3, nullptr},
    {"vbGeneralDate", 0, nullptr},
    {"vbLongDate", 1, nullptr},
    {"vbShortDate", 2, nullptr},
    {"vbLongTime", 3, nullptr},
    {"vbShortTime", 4, nullptr},
    {"vbOKOnly", 0, nullptr},
    {"vbOKCancel", 1, nullptr},
    {"vbAbortRetryIgnore", 2, nullptr},
    {"vbYesNoCancel", 3, nullptr},
    {"vbYesNo", 4, nullptr},
    {"vbRetryCancel", 5, nullptr},
    {"vbCritical", 16, nullptr},
    {"vbQuestion", 32, nullptr},
    {"vbExclamation", 48, nullptr},
    {"vbInformation", 64, nullptr},
    {"vbDefaultButton1", 0, nullptr},
    {"vbDefaultButton2", 256, nullptr},
    {"vbDefaultButton3", 512, nullptr},
    {"vbDefaultButton4", 768, nullptr},
    {"vbApplicationModal", 0, nullptr},
    {"vbSystemModal", 4096, nullptr},
    {"vbMsgBoxHelpButton", 16384, nullptr, true},
    {"vbMsgBoxSetForeground", 65536, nullptr},
    {"vbMsgBoxRight", 524288, nullptr},
    {"vbMsgBoxRtlReading", 1048576, nullptr},
    {"vbOK", 1, nullptr},
    {"vbCancel", 2, nullptr},
    {"vbAbort", 3, nullptr},
    {"vbRetry", 4, nullptr},
    {"vbIgnore", 5, nullptr},
    {"vbYes", 6, nullptr},
    {"vbNo", 7, nullptr},
    {"vbObjectError", static_cast<int32_t>(0x80040000), nullptr},
    {"vbBlack", 0, nullptr, true},
    {"vbRed", 255, nullptr, true},
    {"vbGreen", 65280, nullptr, true},
    {"vbYellow", 65535, nullptr, true},
    {"vbBlue", 16711680, nullptr, true},
    {"vbMagenta", 16711935, nullptr, true},
    {"vbCyan", 16776960, nullptr, true},
    {"vbWhite", 16777215, nullptr, true},
};

}  // namespace

int FindBuiltin(std::string_view name) {
  int n = static_cast<int>(sizeof kBuiltins / sizeof kBuiltins[0]);
  for (int i = 0; i < n; ++i) {
    if (EqualsIgnoreCase(name, kBuiltins[i].name)) return i;
  }
  return -1;
}

const Builtin& BuiltinAt(int id) {
  return kBuiltins[id];
}

bool FindConstant(std::string_view name, Value* out) {
  if (name.size() < 4 || (name[0] != 'v' && name[0] != 'V')) {
    if (EqualsIgnoreCase(name, "True") || EqualsIgnoreCase(name, "False")) return false;
    return false;
  }
  for (const auto& c : kConstants) {
    if (EqualsIgnoreCase(name, c.name)) {
      if (c.text) {
        *out = EqualsIgnoreCase(name, "vbNullChar") ? Value::Str(std::string(1, '\0'))
                                                    : Value::Str(c.text);
      } else if (EqualsIgnoreCase(name, "vbTrue") || EqualsIgnoreCase(name, "vbFalse")) {
        *out = Value::Integer(static_cast<int16_t>(c.number));
      } else {
        *out = c.is_long ? Value::Long(c.number) : Int16OrLong(c.number);
      }
      return true;
    }
  }
  if (EqualsIgnoreCase(name, "vbTrue")) {
    *out = Value::Integer(-1);
    return true;
  }
  if (EqualsIgnoreCase(name, "vbFalse")) {
    *out = Value::Integer(0);
    return true;
  }
  return false;
}

// ------------------------------------------------------------------ Err

const MemberTable<ErrObject> ErrObject::kMembers(
    {
        {"Number", &ErrObject::Number},
        {"Description", &ErrObject::Description},
        {"Source", &ErrObject::Source},
        {"HelpFile", &ErrObject::HelpFile},
        {"HelpContext", &ErrObject::HelpContext},
        {"Raise", &ErrObject::Raise},
        {"Clear", &ErrObject::ClearMember},
    },
    "Number");

int ErrObject::FindMember(std::string_view name) {
  return kMembers.Find(name);
}

Value ErrObject::Invoke(int id, InvokeKind kind, CallArgs& a) {
  return kMembers.Call(*this, id, kind, a);
}

namespace {

// A number or text property of Err: reads it, or assigns the last argument.
Value LongProperty(int32_t& field, InvokeKind kind, CallArgs& a) {
  if (!IsAssignment(kind)) return Value::Long(field);
  field = ToLong(a[a.size() - 1]);
  return Value();
}

Value TextProperty(std::string& field, InvokeKind kind, CallArgs& a) {
  if (!IsAssignment(kind)) return Value::Str(field);
  field = ToText(a[a.size() - 1]);
  return Value();
}

}  // namespace

Value ErrObject::Number(InvokeKind kind, CallArgs& a) {
  return LongProperty(number, kind, a);
}

Value ErrObject::Description(InvokeKind kind, CallArgs& a) {
  return TextProperty(description, kind, a);
}

Value ErrObject::Source(InvokeKind kind, CallArgs& a) {
  return TextProperty(source, kind, a);
}

Value ErrObject::HelpFile(InvokeKind kind, CallArgs& a) {
  return TextProperty(help_file, kind, a);
}

Value ErrObject::HelpContext(InvokeKind kind, CallArgs& a) {
  return LongProperty(help_context, kind, a);
}

// Raise number [, source [, description [, helpfile [, helpcontext]]]].
// A number in VBScript's own HRESULT range (0x800Axxxx) is the plain number
// xxxx, the way errors that objects report read back; positive numbers past
// 65535 are error 5. Arguments left out keep what Err holds from an error
// not yet cleared, else take the standard values of the number.
Value ErrObject::Raise(InvokeKind, CallArgs& a) {
  if (a.size() < 1) Throw(kErrWrongArgs);
  int32_t n = ErrorNumberOf(ToLong(a[0]));
  if (n == 0 || n > 0xFFFF) Throw(kErrInvalidCall);
  std::string_view std_text = ErrorText(n);
  std::string desc = a.Has(2)               ? ToText(a[2])
                     : !description.empty() ? description
                     : !std_text.empty()    ? std::string(std_text)
                                            : "Unknown runtime error";
  std::string src = a.Has(1)          ? ToText(a[1])
                    : !source.empty() ? source
                                      : std::string(kRuntimeSource);
  ScriptError e(n, desc, src);
  e.help_file = a.Has(3) ? ToText(a[3]) : help_file;
  e.help_context = a.Has(4) ? ToLong(a[4]) : help_context;
  throw e;
}

Value ErrObject::ClearMember(InvokeKind, CallArgs&) {
  Clear();
  return Value();
}

void ErrObject::Set(const ScriptError& e) {
  number = e.number;
  description = e.description;
  source = e.source;
  help_file = e.help_file;
  help_context = e.help_context;
}

void ErrObject::Clear() {
  number = 0;
  description.clear();
  source.clear();
  help_file.clear();
  help_context = 0;
}

// ------------------------------------------------------------------ Vm parts

double Vm::Rnd(double arg) {
  // The classic 24-bit generator.
  if (arg < 0) {
    float f = static_cast<float>(arg);
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    rnd_state_ = (bits + (bits >> 24)) & 0xFFFFFF;
  } else if (arg == 0) {
    return last_rnd_;
  }
  rnd_state_ = (rnd_state_ * 1140671485ULL + 12820163ULL) & 0xFFFFFF;
  last_rnd_ = static_cast<double>(rnd_state_) / 16777216.0;
  return last_rnd_;
}

void Vm::Randomize(std::optional<double> seed) {
  double s;
  if (seed) {
    s = *seed;
  } else {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    s = static_cast<double>(tv.tv_sec % 86400) + tv.tv_usec / 1e6;
  }
  float f = static_cast<float>(s);
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  uint32_t mix = ((bits & 0xFFFF) ^ (bits >> 16)) << 8;
  rnd_state_ = (rnd_state_ & 0xFF) | (mix & 0xFFFF00);
}

Value Vm::CreateObject(std::string_view prog_id) {
  auto it = factories_.find(std::string(prog_id));
  if (it != factories_.end()) {
    Ref<Object> o = it->second();
    if (o) return Value::Obj(o.get());
  }
  Value v = CreateBuiltinObject(*this, prog_id);
  if (v.IsEmpty()) {
    Throw(kErrCantCreate,
          std::string(ErrorText(kErrCantCreate)) + ": '" + std::string(prog_id) + "'");
  }
  return v;
}

}  // namespace corvane::vbs
