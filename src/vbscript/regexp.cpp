// VBScript.RegExp on PCRE2, set up to read patterns the way JavaScript does:
// \uXXXX escapes, $ only at the very end unless Multiline, "." not matching
// line ends, and backreferences to unset groups matching nothing.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "core/text.h"
#include "vbscript/objects.h"
#include "vbscript/ops.h"

namespace corvane::vbs {

namespace {

// The text RegExp methods take: a Boolean argument reads as its number
// (-1 or 0), not as True/False, as scripts written for Windows expect.
std::string ArgText(const Value& v) {
  if (v.tag() == Tag::kBoolean) return ToBool(v) ? "-1" : "0";
  return ToText(v);
}

struct CodeDeleter {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* m) const { pcre2_match_data_free(m); }
};

// One match: its text, position (in characters) and captured groups.
struct MatchInfo {
  std::string value;
  int32_t first_index = 0;
  int32_t length = 0;
  std::vector<Value> groups;  // Empty for a group that did not take part
};

// Matches and SubMatches: a read-only list of values with Item and Count.
class ValueList : public BuiltinObject<ValueList> {
 public:
  ValueList(Vm* vm, std::vector<Value> items, const char* type_name)
      : BuiltinObject(vm, kMembers), items_(std::move(items)), type_name_(type_name) {}
  std::string TypeName() const override { return type_name_; }
  std::unique_ptr<Enumerator> NewEnum() override { return EnumerateValues(items_); }
  void ClearReferences() override { items_.clear(); }

 private:
  static const MemberTable<ValueList> kMembers;
  Value Item(InvokeKind, CallArgs& a) {
    if (a.size() < 1) Throw(kErrArgNotOptional);
    int32_t i = ToLong(a[0]);
    if (i < 0 || static_cast<size_t>(i) >= items_.size()) Throw(kErrInvalidCall);
    return items_[static_cast<size_t>(i)];
  }
  Value Count(InvokeKind, CallArgs&) { return Value::Long(static_cast<int32_t>(items_.size())); }

  std::vector<Value> items_;
  const char* type_name_;
};

const MemberTable<ValueList> ValueList::kMembers(
    {
        {"Item", &ValueList::Item},
        {"Count", &ValueList::Count},
    },
    "Item");

class Match : public BuiltinObject<Match> {
 public:
  Match(Vm* vm, MatchInfo info) : BuiltinObject(vm, kMembers), info_(std::move(info)) {}
  std::string TypeName() const override { return "IMatch2"; }

 private:
  static const MemberTable<Match> kMembers;
  Value ValueMember(InvokeKind, CallArgs&) { return Value::Str(info_.value); }
  Value FirstIndex(InvokeKind, CallArgs&) { return Value::Long(info_.first_index); }
  Value Length(InvokeKind, CallArgs&) { return Value::Long(info_.length); }
  Value SubMatches(InvokeKind, CallArgs& a) {
    return ApplyToDefault(Value::Obj(new ValueList(vm_, info_.groups, "ISubMatches")), a);
  }

  MatchInfo info_;
};

const MemberTable<Match> Match::kMembers(
    {
        {"Value", &Match::ValueMember},
        {"FirstIndex", &Match::FirstIndex},
        {"Length", &Match::Length},
        {"SubMatches", &Match::SubMatches},
    },
    "Value");

class RegExp : public BuiltinObject<RegExp> {
 public:
  explicit RegExp(Vm* vm) : BuiltinObject(vm, kMembers) {}
  std::string TypeName() const override { return "IRegExp2"; }

 private:
  static const MemberTable<RegExp> kMembers;

  // --- Members. Changing the pattern or a flag drops the compiled pattern.
  Value Pattern(InvokeKind kind, CallArgs& a) {
    if (!IsAssignment(kind)) return Value::Str(pattern_);
    pattern_ = ToText(a[a.size() - 1]);
    code_.reset();
    return Value();
  }
  Value IgnoreCase(InvokeKind kind, CallArgs& a) { return Flag(ignore_case_, kind, a); }
  Value Global(InvokeKind kind, CallArgs& a) { return Flag(global_, kind, a); }
  Value Multiline(InvokeKind kind, CallArgs& a) { return Flag(multiline_, kind, a); }
  Value Test(InvokeKind, CallArgs& a) {
    if (a.size() < 1) Throw(kErrArgNotOptional);
    std::string s = ArgText(a[0]);
    MatchInfo m;
    return Value::Bool(Find(s, 0, m, nullptr));
  }
  Value Execute(InvokeKind, CallArgs& a) {
    if (a.size() < 1) Throw(kErrArgNotOptional);
    std::string s = ArgText(a[0]);
    std::vector<Value> items;
    ForEachMatch(s, [&](MatchInfo& m, size_t, size_t) {
      items.push_back(Value::Obj(new Match(vm_, std::move(m))));
    });
    return Value::Obj(new ValueList(vm_, std::move(items), "IMatchCollection2"));
  }
  // Replace text, with: see Expand for what `with` may say.
  Value Replace(InvokeKind, CallArgs& a) {
    if (a.size() < 2) Throw(kErrArgNotOptional);
    std::string s = ArgText(a[0]);
    std::string with = ArgText(a[1]);
    std::string out;
    size_t last = 0;
    ForEachMatch(s, [&](MatchInfo& m, size_t begin, size_t end) {
      out.append(s, last, begin - last);
      Expand(with, s, begin, end, m, out);
      CheckStringSize(out.size());
      last = end;
    });
    out.append(s, last, std::string::npos);
    return Value::Str(std::move(out));
  }

  Value Flag(bool& flag, InvokeKind kind, CallArgs& a) {
    if (!IsAssignment(kind)) return Value::Bool(flag);
    flag = ToBool(a[a.size() - 1]);
    code_.reset();
    return Value();
  }

  // --- Matching.
  void Compile() {
    if (code_) return;
    uint32_t opts =
        PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF;
    if (ignore_case_) opts |= PCRE2_CASELESS;
    if (multiline_) {
      opts |= PCRE2_MULTILINE;
    } else {
      opts |= PCRE2_DOLLAR_ENDONLY;
    }
    pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(cc, PCRE2_NEWLINE_ANYCRLF);
    pcre2_set_compile_extra_options(cc, PCRE2_EXTRA_ALT_BSUX);
    int err = 0;
    PCRE2_SIZE off = 0;
    pcre2_code* c = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_.data()), pattern_.size(),
                                  opts, &err, &off, cc);
    pcre2_compile_context_free(cc);
    if (!c) Throw(kErrRegexSyntax);
    code_.reset(c);
    match_.reset(pcre2_match_data_create_from_pattern(c, nullptr));
  }

  // Finds the first match at or after byte `from`.
  bool Find(const std::string& s, size_t from, MatchInfo& m, size_t* span) {
    Compile();
    pcre2_match_context* mc = pcre2_match_context_create(nullptr);
    pcre2_set_match_limit(mc, 10000000);
    int rc = pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), from, 0,
                         match_.get(), mc);
    pcre2_match_context_free(mc);
    if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT) Throw(kErrOutOfStack);
    if (rc < 0) return false;
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(match_.get());
    uint32_t pairs = pcre2_get_ovector_count(match_.get());
    size_t b = ov[0], e = ov[1];
    if (e < b) e = b;  // \K can put the end before the start
    m.value = s.substr(b, e - b);
    m.first_index = static_cast<int32_t>(CharCount(std::string_view(s).substr(0, b)));
    m.length = static_cast<int32_t>(CharCount(m.value));
    m.groups.clear();
    uint32_t groups = 0;
    pcre2_pattern_info(code_.get(), PCRE2_INFO_CAPTURECOUNT, &groups);
    for (uint32_t g = 1; g <= groups; ++g) {
      if (g < pairs && ov[2 * g] != PCRE2_UNSET) {
        m.groups.push_back(Value::Str(s.substr(ov[2 * g], ov[2 * g + 1] - ov[2 * g])));
      } else {
        m.groups.push_back(Value());
      }
    }
    if (span) {
      span[0] = b;
      span[1] = e;
    }
    return true;
  }

  template <typename F>
  void ForEachMatch(const std::string& s, F&& fn) {
    size_t from = 0;
    while (from <= s.size()) {
      MatchInfo m;
      size_t span[2];
      if (!Find(s, from, m, span)) break;
      fn(m, span[0], span[1]);
      if (!global_) break;
      if (span[1] == span[0]) {
        // An empty match: step past one character.
        if (span[1] >= s.size()) break;
        size_t len = 1;
        DecodeChar(s, span[1], &len);
        from = span[1] + len;
      } else {
        from = span[1];
      }
    }
  }

  // Replacement text: $1..$99, $& (the match), $` and $' (before and after
  // it) and $$.
  static void Expand(const std::string& with, const std::string& s, size_t begin, size_t end,
                     const MatchInfo& m, std::string& out) {
    for (size_t i = 0; i < with.size(); ++i) {
      char c = with[i];
      if (c != '$' || i + 1 >= with.size()) {
        out.push_back(c);
        continue;
      }
      char n = with[i + 1];
      if (n == '$') {
        out.push_back('$');
        ++i;
      } else if (n == '&') {
        out.append(m.value);
        ++i;
      } else if (n == '`') {
        out.append(s, 0, begin);
        ++i;
      } else if (n == '\'') {
        out.append(s, end, std::string::npos);
        ++i;
      } else if (n >= '0' && n <= '9') {
        size_t g = static_cast<size_t>(n - '0');
        size_t used = 1;
        if (i + 2 < with.size() && isdigit(static_cast<unsigned char>(with[i + 2]))) {
          size_t g2 = g * 10 + static_cast<size_t>(with[i + 2] - '0');
          if (g2 >= 1 && g2 <= m.groups.size()) {
            g = g2;
            used = 2;
          }
        }
        if (g >= 1 && g <= m.groups.size()) {
          AppendText(out, m.groups[g - 1]);
          i += used;
        } else {
          out.push_back('$');
        }
      } else {
        out.push_back('$');
      }
    }
  }

  std::string pattern_;
  bool ignore_case_ = false;
  bool global_ = false;
  bool multiline_ = false;
  std::unique_ptr<pcre2_code, CodeDeleter> code_;
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> match_;
};

const MemberTable<RegExp> RegExp::kMembers({
    {"Pattern", &RegExp::Pattern},
    {"IgnoreCase", &RegExp::IgnoreCase},
    {"Global", &RegExp::Global},
    {"Multiline", &RegExp::Multiline},
    {"Test", &RegExp::Test},
    {"Execute", &RegExp::Execute},
    {"Replace", &RegExp::Replace},
});

}  // namespace

Value NewRegExp(Vm& vm) {
  return Value::Obj(new RegExp(&vm));
}

}  // namespace corvane::vbs
