// The lexer: turns script text into Tokens in one pass. Keywords come from a
// table (kKeywords) and are matched in any letter case; number, date
// (#...#) and string literals become values here; a line continuation (" _")
// joins lines, and comments (' and Rem) are dropped, so the parser sees only
// statements and line ends. Each token keeps its line and column for errors.
#include "vbscript/lexer.h"

#include <cmath>
#include <cstdlib>

#include "core/datetime.h"
#include "core/text.h"
#include "vbscript/error.h"

namespace corvane::vbs {

namespace {

struct KeywordName {
  const char* name;
  Kw kw;
};

const KeywordName kKeywords[] = {
    {"and", Kw::kAnd},
    {"byref", Kw::kByRef},
    {"byval", Kw::kByVal},
    {"call", Kw::kCall},
    {"case", Kw::kCase},
    {"class", Kw::kClass},
    {"const", Kw::kConst},
    {"default", Kw::kDefault},
    {"dim", Kw::kDim},
    {"do", Kw::kDo},
    {"each", Kw::kEach},
    {"else", Kw::kElse},
    {"elseif", Kw::kElseIf},
    {"empty", Kw::kEmpty},
    {"end", Kw::kEnd},
    {"eqv", Kw::kEqv},
    {"erase", Kw::kErase},
    {"error", Kw::kError},
    {"exit", Kw::kExit},
    {"explicit", Kw::kExplicit},
    {"false", Kw::kFalse},
    {"for", Kw::kFor},
    {"function", Kw::kFunction},
    {"get", Kw::kGet},
    {"goto", Kw::kGoTo},
    {"if", Kw::kIf},
    {"imp", Kw::kImp},
    {"in", Kw::kIn},
    {"is", Kw::kIs},
    {"let", Kw::kLet},
    {"loop", Kw::kLoop},
    {"me", Kw::kMe},
    {"mod", Kw::kMod},
    {"new", Kw::kNew},
    {"next", Kw::kNext},
    {"not", Kw::kNot},
    {"nothing", Kw::kNothing},
    {"null", Kw::kNull},
    {"on", Kw::kOn},
    {"option", Kw::kOption},
    {"or", Kw::kOr},
    {"preserve", Kw::kPreserve},
    {"private", Kw::kPrivate},
    {"property", Kw::kProperty},
    {"public", Kw::kPublic},
    {"redim", Kw::kReDim},
    {"resume", Kw::kResume},
    {"select", Kw::kSelect},
    {"set", Kw::kSet},
    {"step", Kw::kStep},
    {"stop", Kw::kStop},
    {"sub", Kw::kSub},
    {"then", Kw::kThen},
    {"to", Kw::kTo},
    {"true", Kw::kTrue},
    {"until", Kw::kUntil},
    {"wend", Kw::kWend},
    {"while", Kw::kWhile},
    {"with", Kw::kWith},
    {"xor", Kw::kXor},
};

Kw LookupKeyword(std::string_view word) {
  if (word.size() < 2 || word.size() > 8) return Kw::kNone;
  for (const auto& k : kKeywords) {
    if (EqualsIgnoreCase(word, k.name)) return k.kw;
  }
  return Kw::kNone;
}

bool IsIdentStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80;
}
bool IsIdentChar(unsigned char c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '_';
}

class Lexer {
 public:
  explicit Lexer(std::string_view src) : src_(src) {
    if (src_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = line_start_ = 3;  // a UTF-8 mark
  }

  std::vector<Token> Run() {
    while (true) {
      Token t;
      if (!NextToken(t)) continue;  // a comment or a repeated line end
      bool end = t.kind == TokKind::kEnd;
      out_.push_back(std::move(t));
      if (end) return std::move(out_);
    }
  }

 private:
  // Reads one token from pos_ into t; false for text that makes no token (a
  // comment, a second line end in a row).
  bool NextToken(Token& t) {
    bool continued = false;
    bool space = SkipBlanks(continued);
    t.line = line_;
    t.col = static_cast<int>(pos_ - line_start_) + 1;
    // A member chain may go on after a line continuation:
    // "obj.First() _" / ".Second()".
    t.space_before = space && !(continued && pos_ < src_.size() && src_[pos_] == '.');
    if (pos_ >= src_.size()) {
      t.kind = TokKind::kEnd;
      return true;
    }
    unsigned char c = static_cast<unsigned char>(src_[pos_]);
    if (c == '\r' || c == '\n') {
      SkipNewline();
      t.kind = TokKind::kNewline;
      return out_.empty() || out_.back().kind != TokKind::kNewline;
    } else if (c == '\'') {
      SkipComment();
      return false;
    } else if (IsIdentStart(c)) {
      return ReadWord(t);
    } else if (c == '[') {
      ReadBracketName(t);
    } else if (StartsNumber(c, t.space_before)) {
      ReadNumber(t);
    } else if (c == '&' && StartsRadix() && ReadRadix(t)) {
      // &h1F, &o17, &17: a number
    } else if (c == '"') {
      ReadString(t);
    } else if (c == '#') {
      ReadDate(t);
    } else {
      ReadOperator(t);
    }
    return true;
  }

  // Skips blanks and line continuations; true when there were any.
  bool SkipBlanks(bool& continued) {
    bool space = false;
    while (pos_ < src_.size()) {
      char c = src_[pos_];
      if (c == ' ' || c == '\t' || c == '\f' || c == '\v' || c == '\0') {
        ++pos_;
      } else if (c == '_' && ContinuationAt(pos_)) {
        ++pos_;
        while (pos_ < src_.size() && (src_[pos_] == ' ' || src_[pos_] == '\t')) ++pos_;
        SkipNewline();
        continued = true;
      } else {
        break;
      }
      space = true;
    }
    return space;
  }

  // A name or keyword; "Rem" starts a comment (false: no token) unless it
  // follows a dot.
  bool ReadWord(Token& t) {
    size_t start = pos_;
    while (pos_ < src_.size() && IsIdentChar(static_cast<unsigned char>(src_[pos_]))) ++pos_;
    std::string_view word = src_.substr(start, pos_ - start);
    if (word.size() > 255) ThrowSyntax(1030, t.line, t.col);
    bool after_dot = !out_.empty() && out_.back().kind == TokKind::kDot;
    if (!after_dot && EqualsIgnoreCase(word, "rem")) {
      SkipComment();
      return false;
    }
    t.kind = TokKind::kIdent;
    t.text = std::string(word);
    t.kw = after_dot ? Kw::kNone : LookupKeyword(word);
    return true;
  }

  // [any name]: a name with any characters but "]" and a line end.
  void ReadBracketName(Token& t) {
    size_t end = src_.find(']', pos_);
    size_t nl = src_.find_first_of("\r\n", pos_);
    if (end == std::string_view::npos || (nl != std::string_view::npos && nl < end)) {
      ThrowSyntax(1007, t.line, t.col);
    }
    t.kind = TokKind::kIdent;
    t.text = std::string(src_.substr(pos_ + 1, end - pos_ - 1));
    pos_ = end + 1;
  }

  // A digit, or ".5" where the dot cannot be a member access (no name or ")"
  // right before it).
  bool StartsNumber(unsigned char c, bool space_before) const {
    if (c >= '0' && c <= '9') return true;
    bool prev_operand =
        !out_.empty() && !space_before &&
        (out_.back().kind == TokKind::kIdent || out_.back().kind == TokKind::kRParen);
    return c == '.' && !prev_operand && pos_ + 1 < src_.size() && src_[pos_ + 1] >= '0' &&
           src_[pos_ + 1] <= '9';
  }

  bool StartsRadix() const {
    if (pos_ + 1 >= src_.size()) return false;
    char n = src_[pos_ + 1];
    return n == 'h' || n == 'H' || n == 'o' || n == 'O' || (n >= '0' && n <= '7');
  }

  // One- and two-character operators: "<" then "=" makes "<=", and so on.
  struct Operator {
    char c;
    TokKind kind;
    char next1;
    TokKind with1;
    char next2;
    TokKind with2;
  };
  static constexpr Operator kOperators[] = {
      {':', TokKind::kColon, 0, {}, 0, {}},
      {'+', TokKind::kPlus, 0, {}, 0, {}},
      {'-', TokKind::kMinus, 0, {}, 0, {}},
      {'*', TokKind::kStar, 0, {}, 0, {}},
      {'/', TokKind::kSlash, 0, {}, 0, {}},
      {'\\', TokKind::kBackslash, 0, {}, 0, {}},
      {'^', TokKind::kCaret, 0, {}, 0, {}},
      {'&', TokKind::kAmp, 0, {}, 0, {}},
      {'(', TokKind::kLParen, 0, {}, 0, {}},
      {')', TokKind::kRParen, 0, {}, 0, {}},
      {',', TokKind::kComma, 0, {}, 0, {}},
      {'.', TokKind::kDot, 0, {}, 0, {}},
      {'=', TokKind::kEq, '<', TokKind::kLe, '>', TokKind::kGe},
      {'<', TokKind::kLt, '=', TokKind::kLe, '>', TokKind::kNe},
      {'>', TokKind::kGt, '=', TokKind::kGe, '<', TokKind::kNe},
  };

  void ReadOperator(Token& t) {
    char c = src_[pos_++];
    for (const auto& op : kOperators) {
      if (op.c != c) continue;
      t.kind = op.next1 && Peek(op.next1)   ? op.with1
               : op.next2 && Peek(op.next2) ? op.with2
                                            : op.kind;
      return;
    }
    ThrowSyntax(1032, t.line, t.col);
  }

  bool Peek(char c) {
    if (pos_ < src_.size() && src_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool ContinuationAt(size_t p) const {
    // "_" ends a line when only blanks follow it; it may not end a name.
    if (p > 0 && IsIdentChar(static_cast<unsigned char>(src_[p - 1]))) return false;
    size_t q = p + 1;
    while (q < src_.size() && (src_[q] == ' ' || src_[q] == '\t')) ++q;
    return q >= src_.size() || src_[q] == '\r' || src_[q] == '\n';
  }

  void SkipNewline() {
    if (pos_ < src_.size() && src_[pos_] == '\r') ++pos_;
    if (pos_ < src_.size() && src_[pos_] == '\n') ++pos_;
    ++line_;
    line_start_ = pos_;
  }

  void SkipComment() {
    while (pos_ < src_.size() && src_[pos_] != '\r' && src_[pos_] != '\n') ++pos_;
  }

  void ReadNumber(Token& t) {
    size_t start = pos_;
    bool is_float = false;
    while (pos_ < src_.size() && isdigit(static_cast<unsigned char>(src_[pos_]))) ++pos_;
    if (pos_ < src_.size() && src_[pos_] == '.') {
      is_float = true;
      ++pos_;
      while (pos_ < src_.size() && isdigit(static_cast<unsigned char>(src_[pos_]))) ++pos_;
    }
    if (pos_ < src_.size() && (src_[pos_] == 'e' || src_[pos_] == 'E')) {
      size_t q = pos_ + 1;
      if (q < src_.size() && (src_[q] == '+' || src_[q] == '-')) ++q;
      if (q < src_.size() && isdigit(static_cast<unsigned char>(src_[q]))) {
        is_float = true;
        pos_ = q;
        while (pos_ < src_.size() && isdigit(static_cast<unsigned char>(src_[pos_]))) ++pos_;
      }
    }
    if (pos_ < src_.size() && IsIdentStart(static_cast<unsigned char>(src_[pos_]))) {
      ThrowSyntax(1025, t.line, static_cast<int>(pos_ - line_start_) + 1);
    }
    t.kind = TokKind::kNumber;
    t.text = std::string(src_.substr(start, pos_ - start));
    double d = std::strtod(t.text.c_str(), nullptr);
    if (!std::isfinite(d)) ThrowSyntax(1031, t.line, t.col);
    if (!is_float && d <= 32767) {
      t.value = Value::Integer(static_cast<int16_t>(d));
    } else if (!is_float && d <= 2147483647.0) {
      t.value = Value::Long(static_cast<int32_t>(d));
    } else {
      t.value = Value::Double(d);
    }
  }

  bool ReadRadix(Token& t) {
    size_t p = pos_ + 1;
    int base = 8;
    if (src_[p] == 'h' || src_[p] == 'H') {
      base = 16;
      ++p;
    } else if (src_[p] == 'o' || src_[p] == 'O') {
      ++p;
    }
    uint64_t v = 0;
    size_t digits = 0;
    while (p < src_.size()) {
      char c = src_[p];
      int d = (c >= '0' && c <= '9')   ? c - '0'
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                       : 99;
      if (d >= base) break;
      v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
      if (v > 0xFFFFFFFFull) ThrowSyntax(1031, t.line, t.col);
      ++digits;
      ++p;
    }
    if (digits == 0) return false;
    bool long_suffix = p < src_.size() && src_[p] == '&';
    if (long_suffix) ++p;
    t.kind = TokKind::kNumber;
    t.text = std::string(src_.substr(pos_, p - pos_));
    pos_ = p;
    // Four digits or fewer wrap to an Integer; longer ones (and "&" ones)
    // are a 32-bit number that is still an Integer when it fits one, so
    // &h10& and &hFFFFFFFF& are Integers as scripts written for Windows see.
    if (!long_suffix && v <= 0xFFFF) {
      t.value = Value::Integer(static_cast<int16_t>(static_cast<uint16_t>(v)));
    } else {
      auto n = static_cast<int32_t>(static_cast<uint32_t>(v));
      t.value =
          n >= -32768 && n <= 32767 ? Value::Integer(static_cast<int16_t>(n)) : Value::Long(n);
    }
    return true;
  }

  void ReadString(Token& t) {
    ++pos_;
    std::string s;
    while (true) {
      if (pos_ >= src_.size() || src_[pos_] == '\r' || src_[pos_] == '\n') {
        ThrowSyntax(1033, t.line, t.col);
      }
      char c = src_[pos_++];
      if (c == '"') {
        if (pos_ < src_.size() && src_[pos_] == '"') {
          s.push_back('"');
          ++pos_;
          continue;
        }
        break;
      }
      s.push_back(c);
    }
    t.kind = TokKind::kString;
    t.value = Value::Str(std::move(s));
  }

  void ReadDate(Token& t) {
    size_t end = src_.find('#', pos_ + 1);
    size_t nl = src_.find_first_of("\r\n", pos_ + 1);
    if (end == std::string_view::npos || (nl != std::string_view::npos && nl < end)) {
      ThrowSyntax(1002, t.line, t.col);
    }
    auto d = ParseDateTime(src_.substr(pos_ + 1, end - pos_ - 1));
    if (!d) ThrowSyntax(1002, t.line, t.col);
    t.kind = TokKind::kDate;
    t.value = Value::Date(*d);
    pos_ = end + 1;
  }

  std::string_view src_;
  std::vector<Token> out_;
  size_t pos_ = 0;
  int line_ = 1;
  size_t line_start_ = 0;
};

}  // namespace

std::vector<Token> Tokenize(std::string_view src) {
  return Lexer(src).Run();
}

bool IsReservedKeyword(Kw kw) {
  switch (kw) {
    case Kw::kNone:
    case Kw::kDefault:
    case Kw::kError:
    case Kw::kExplicit:
    case Kw::kGet:
    case Kw::kPreserve:
    case Kw::kProperty:
    case Kw::kResume:
    case Kw::kStep:
      return false;
    default:
      return true;
  }
}

}  // namespace corvane::vbs
