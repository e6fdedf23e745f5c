// The parser: recursive descent over the lexer's tokens, building the syntax
// tree of ast.h (ProgramAst: the top-level code, procedures and classes).
// Statements come one per line or ':'-separated; expressions are parsed by
// precedence levels, one function a level. Depth limits on nested blocks and
// expressions turn hostile input into a syntax error instead of a crash.
#include "vbscript/parser.h"

#include <algorithm>
#include <unordered_set>

#include "core/text.h"
#include "vbscript/error.h"
#include "vbscript/lexer.h"

namespace corvane::vbs {

namespace {

constexpr int kMaxDepth = 200;      // nested blocks and parentheses
constexpr int kMaxExprDepth = 400;  // operator chains

// Names declared twice in one scope of one piece of code are error 1041.
class DeclaredNames {
 public:
  void Add(const std::string& name, int line, int col) {
    if (!seen_.insert(ToLower(name)).second) ThrowSyntax(kErrNameRedefined, line, col);
  }
  // Dim and Const anywhere in a block, nested blocks included: they all
  // declare in the enclosing procedure or the top level.
  void AddBlock(const Block& b) {
    for (const auto& s : b) {
      if (s->kind == StmtKind::kDim || s->kind == StmtKind::kConst) {
        for (const auto& d : s->dims) Add(d.name, d.line, d.col);
      }
      for (const auto& blk : s->blocks) AddBlock(blk);
      for (const auto& c : s->cases) AddBlock(c.body);
    }
  }

 private:
  std::unordered_set<std::string> seen_;
};

// A property's Let and Set take one argument more than its Get: the value.
void CheckPropertyArity(const ClassDef& c) {
  for (const auto& p : c.procs) {
    bool is_put = p.kind == ProcKind::kPropertyLet || p.kind == ProcKind::kPropertySet;
    if (!is_put) continue;
    for (const auto& q : c.procs) {
      if (&q == &p || !EqualsIgnoreCase(q.name, p.name)) continue;
      size_t want = q.kind == ProcKind::kPropertyGet ? p.params.size() - 1 : p.params.size();
      bool is_property = q.kind == ProcKind::kPropertyGet || q.kind == ProcKind::kPropertyLet ||
                         q.kind == ProcKind::kPropertySet;
      if (!is_property || q.params.size() == want) continue;
      const ProcDef& later = q.line > p.line || (q.line == p.line && q.col > p.col) ? q : p;
      ThrowSyntax(kErrPropertyArgCount, later.line, later.col);
    }
  }
}

void CheckDeclarations(const ProgramAst& prog) {
  DeclaredNames top;
  top.AddBlock(prog.main);
  // A procedure defined twice at the top level is not an error: the last
  // definition is the one called.
  std::unordered_set<std::string> procs;
  for (const auto& p : prog.procs) {
    if (procs.insert(ToLower(p.name)).second) top.Add(p.name, p.line, p.col);
  }
  for (const auto& c : prog.classes) top.Add(c.name, c.line, c.col);
  auto check_proc = [](const ProcDef& p) {
    DeclaredNames local;
    for (const auto& prm : p.params) local.Add(prm.name, p.line, p.col);
    local.AddBlock(p.body);
  };
  for (const auto& p : prog.procs) check_proc(p);
  for (const auto& c : prog.classes) {
    for (const auto& p : c.procs) check_proc(p);
    CheckPropertyArity(c);
  }
}

class Parser {
 public:
  explicit Parser(std::string_view src) : toks_(Tokenize(src)) {}

  ProgramAst Program() {
    ProgramAst prog;
    bool first = true;
    while (true) {
      SkipSeparators();
      if (At(TokKind::kEnd)) break;
      const Token& t = Cur();
      if (t.kw == Kw::kOption) {
        Next();
        if (Cur().kw != Kw::kExplicit) Error(kErrSyntax);
        Next();
        if (!first) {
          // Windows accepts it only as the first statement.
          ThrowSyntax(1042, t.line, t.col);
        }
        prog.option_explicit = true;
        EndOfStatement();
        first = false;
        continue;
      }
      first = false;
      if (t.kw == Kw::kClass) {
        prog.classes.push_back(ParseClass());
        continue;
      }
      if (IsProcStart()) {
        prog.procs.push_back(ParseProc(false));
        continue;
      }
      if (t.kw == Kw::kPublic || t.kw == Kw::kPrivate) {
        // Public/Private variables and constants at the top level.
        Next();
        if (Cur().kw == Kw::kConst) {
          prog.main.push_back(ParseConst());
        } else {
          prog.main.push_back(ParseDimList(t));
        }
        EndOfStatement();
        continue;
      }
      ParseStatementInto(prog.main, false);
    }
    for (auto& p : nested_procs_) prog.procs.push_back(std::move(p));
    nested_procs_.clear();
    return prog;
  }

  ExprPtr ExpressionOnly() {
    while (At(TokKind::kNewline)) Next();
    ExprPtr e = Expression();
    while (At(TokKind::kNewline)) Next();
    if (!At(TokKind::kEnd)) Error(kErrExpectedEndOfStatement);
    return e;
  }

 private:
  // ------------------------------------------------------------ tokens
  const Token& Cur() const { return toks_[pos_]; }
  const Token& PeekTok(size_t ahead = 1) const {
    return toks_[std::min(pos_ + ahead, toks_.size() - 1)];
  }
  bool At(TokKind k) const { return Cur().kind == k; }
  bool AtKw(Kw k) const { return Cur().kind == TokKind::kIdent && Cur().kw == k; }
  void Next() {
    if (pos_ + 1 < toks_.size()) ++pos_;
  }
  [[noreturn]] void Error(int32_t number) const { ThrowSyntax(number, Cur().line, Cur().col); }
  void Expect(TokKind k, int32_t err) {
    if (!At(k)) Error(err);
    Next();
  }
  void ExpectKw(Kw k, int32_t err) {
    if (!AtKw(k)) Error(err);
    Next();
  }
  bool AtEndOfStatement() const {
    return At(TokKind::kNewline) || At(TokKind::kColon) || At(TokKind::kEnd) ||
           (single_line_if_ > 0 && (AtKw(Kw::kElse) || AtEndIf())) || AtEndOfDefinition() ||
           (block_if_ > 0 && AtEndIf());  // "Else x = 3 End If"
  }
  void EndOfStatement() {
    if (!AtEndOfStatement()) Error(kErrExpectedEndOfStatement);
  }
  void SkipSeparators() {
    while (At(TokKind::kNewline) || At(TokKind::kColon)) Next();
  }
  std::string Name() {
    if (!At(TokKind::kIdent) || IsReservedKeyword(Cur().kw)) Error(kErrExpectedIdent);
    std::string n = Cur().text;
    Next();
    return n;
  }
  // A member name after "." may be any word, keywords included.
  std::string MemberName() {
    if (!At(TokKind::kIdent)) Error(kErrExpectedIdent);
    std::string n = Cur().text;
    Next();
    return n;
  }

  struct DepthGuard {
    explicit DepthGuard(Parser& p) : p_(p) {
      if (++p_.depth_ > kMaxDepth) {
        ThrowSyntax(kErrOutOfStack, p_.Cur().line, p_.Cur().col);
      }
    }
    ~DepthGuard() { --p_.depth_; }
    Parser& p_;
  };

  // ------------------------------------------------------------ definitions
  bool IsProcStart() const {
    size_t i = pos_;
    while (toks_[i].kw == Kw::kPublic || toks_[i].kw == Kw::kPrivate ||
           toks_[i].kw == Kw::kDefault) {
      ++i;
    }
    Kw k = toks_[i].kw;
    return k == Kw::kSub || k == Kw::kFunction || (k == Kw::kProperty && IsPropertyKind(i + 1));
  }

  // "Property" opens a definition only before Get, Let or Set; elsewhere it
  // is an ordinary name.
  bool IsPropertyKind(size_t i) const {
    Kw k = toks_[std::min(i, toks_.size() - 1)].kw;
    return k == Kw::kGet || k == Kw::kLet || k == Kw::kSet;
  }

  bool AtEndIf() const { return AtKw(Kw::kEnd) && PeekTok().kw == Kw::kIf; }

  // A procedure or class may close right after a statement on its line:
  // "x = 1 End Sub".
  bool AtEndOfDefinition() const {
    if (!AtKw(Kw::kEnd)) return false;
    Kw k = PeekTok().kw;
    return k == Kw::kSub || k == Kw::kFunction || k == Kw::kProperty || k == Kw::kClass;
  }

  // proc ::= [Public | Private] [Default] (Sub | Function | Property (Get | Let | Set))
  //          name ["(" params ")"] newline block End (Sub | Function | Property)
  ProcDef ParseProc(bool in_class) {
    ++in_definition_;
    ProcDef p = ParseProcBody(in_class);
    --in_definition_;
    return p;
  }

  ProcDef ParseProcBody(bool in_class) {
    ProcDef p;
    p.line = Cur().line;
    p.col = Cur().col;
    bool saw_access = false;
    while (AtKw(Kw::kPublic) || AtKw(Kw::kPrivate) || AtKw(Kw::kDefault)) {
      if (AtKw(Kw::kPrivate)) p.is_public = false;
      if (AtKw(Kw::kDefault)) {
        if (!in_class) Error(kErrSyntax);
        if (!saw_access || !p.is_public) Error(kErrDefaultPublic);
        p.is_default = true;
      }
      saw_access = true;
      Next();
    }
    Kw end_kw;
    if (AtKw(Kw::kSub)) {
      p.kind = ProcKind::kSub;
      end_kw = Kw::kSub;
    } else if (AtKw(Kw::kFunction)) {
      p.kind = ProcKind::kFunction;
      end_kw = Kw::kFunction;
    } else {
      if (!in_class) ThrowSyntax(1048, Cur().line, Cur().col);
      Next();
      end_kw = Kw::kProperty;
      if (AtKw(Kw::kGet)) {
        p.kind = ProcKind::kPropertyGet;
      } else if (AtKw(Kw::kLet)) {
        p.kind = ProcKind::kPropertyLet;
      } else if (AtKw(Kw::kSet)) {
        p.kind = ProcKind::kPropertySet;
      } else {
        Error(kErrExpectedPropertyKind);
      }
      if (p.is_default && p.kind != ProcKind::kPropertyGet) Error(kErrDefaultOnGet);
    }
    Next();
    p.name = Name();
    const bool has_parens = At(TokKind::kLParen);
    if (has_parens) {
      Next();
      // Parameters follow each comma: "F(a,)" is missing one.
      for (bool more = !At(TokKind::kRParen); more;) {
        Param prm;
        if (AtKw(Kw::kByVal)) {
          prm.by_val = true;
          Next();
        } else if (AtKw(Kw::kByRef)) {
          Next();
        }
        prm.name = Name();
        if (At(TokKind::kLParen)) {
          Next();
          Expect(TokKind::kRParen, kErrExpectedRParen);
        }
        p.params.push_back(prm);
        more = At(TokKind::kComma);
        if (more) Next();
      }
      if (!At(TokKind::kRParen)) Error(kErrExpectedRParen);
      Next();
    }
    if ((p.kind == ProcKind::kPropertyLet || p.kind == ProcKind::kPropertySet) &&
        p.params.empty()) {
      ThrowSyntax(kErrPropertyArgs, p.line, p.col);
    }
    // After a parameter list the body may start on the same line:
    // "Sub Once() x = True End Sub".
    if (!has_parens) EndOfStatement();
    proc_kind_ = static_cast<int>(p.kind);
    in_proc_ = true;
    p.body = ParseBlockUntilEnd(end_kw);
    in_proc_ = false;
    return p;
  }

  // class ::= Class name newline {member} End Class
  ClassDef ParseClass() {
    ++in_definition_;
    ClassDef c = ParseClassBody();
    --in_definition_;
    return c;
  }

  ClassDef ParseClassBody() {
    ClassDef c;
    c.line = Cur().line;
    c.col = Cur().col;
    Next();
    c.name = Name();
    EndOfStatement();
    bool have_default = false;
    while (true) {
      SkipSeparators();
      if (At(TokKind::kEnd)) Error(kErrExpectedEnd);
      if (AtKw(Kw::kEnd)) {
        Next();
        ExpectKw(Kw::kClass, kErrExpectedClass);
        EndOfStatement();
        break;
      }
      if (IsProcStart()) {
        ProcDef p = ParseProc(true);
        if (p.is_default) {
          if (have_default) ThrowSyntax(kErrMultipleDefault, p.line, p.col);
          have_default = true;
        }
        c.procs.push_back(std::move(p));
        continue;
      }
      bool is_public = true;
      if (AtKw(Kw::kPublic) || AtKw(Kw::kPrivate)) {
        is_public = AtKw(Kw::kPublic);
        Next();
        if (AtKw(Kw::kDefault)) Error(kErrDefaultPlacement);
      } else if (AtKw(Kw::kDim)) {
        Next();
      } else {
        Error(kErrExpectedStatement);
      }
      while (true) {
        ClassVar v;
        v.line = Cur().line;
        v.col = Cur().col;
        v.is_public = is_public;
        v.name = Name();
        if (At(TokKind::kLParen)) {
          v.has_parens = true;
          v.bounds = BoundsList();
        }
        c.vars.push_back(std::move(v));
        if (!At(TokKind::kComma)) break;
        Next();
      }
      EndOfStatement();
    }
    return c;
  }

  // ------------------------------------------------------------ blocks
  // The innermost open block, for the error a stray "End ..." gives: what
  // closes it is what the parser expects.
  struct OpenBlock {
    OpenBlock(Parser& p, Kw closer) : p_(p) { p_.open_blocks_.push_back(closer); }
    ~OpenBlock() { p_.open_blocks_.pop_back(); }
    Parser& p_;
  };

  struct MismatchedEnd {
    Kw closer;
    int32_t error;
  };
  static constexpr MismatchedEnd kMismatchedEnd[] = {
      {Kw::kSub, kErrExpectedSub},           {Kw::kFunction, kErrExpectedFunction},
      {Kw::kProperty, kErrExpectedProperty}, {Kw::kIf, kErrExpectedIf},
      {Kw::kSelect, kErrExpectedSelect},     {Kw::kWith, kErrExpectedWith},
      {Kw::kNext, kErrExpectedNext},         {Kw::kLoop, kErrExpectedLoop},
      {Kw::kWend, kErrExpectedWend},
  };

  // "End" that closes no open block: the block's own closer is expected, at
  // the word after End for "End <kw>" blocks, at End itself for loops.
  [[noreturn]] void StrayEnd() const {
    if (open_blocks_.empty()) Error(kErrExpectedStatement);
    Kw closer = open_blocks_.back();
    for (const auto& m : kMismatchedEnd) {
      if (m.closer != closer) continue;
      bool loop = closer == Kw::kNext || closer == Kw::kLoop || closer == Kw::kWend;
      const Token& at = loop ? Cur() : PeekTok();
      ThrowSyntax(m.error, at.line, at.col);
    }
    Error(kErrExpectedStatement);
  }

  // A block of statements up to "End <kw>".
  Block ParseBlockUntilEnd(Kw kw) {
    DepthGuard g(*this);
    OpenBlock open(*this, kw);
    Block b;
    while (true) {
      SkipSeparators();
      if (At(TokKind::kEnd)) Error(kErrExpectedEnd);
      if (AtKw(Kw::kEnd) && PeekTok().kw == kw) {
        Next();
        Next();
        EndOfStatement();
        return b;
      }
      ParseStatementInto(b, false);
    }
  }

  // A block ended by one of the given keywords (not consumed).
  Block ParseBlockUntil(std::initializer_list<Kw> stops, Kw end_partner = Kw::kNone) {
    DepthGuard g(*this);
    OpenBlock open(*this, end_partner != Kw::kNone ? end_partner : *stops.begin());
    Block b;
    while (true) {
      SkipSeparators();
      if (At(TokKind::kEnd)) return b;
      if (At(TokKind::kIdent)) {
        Kw k = Cur().kw;
        if (std::find(stops.begin(), stops.end(), k) != stops.end()) {
          if (k != Kw::kEnd || PeekTok().kw == end_partner) return b;
        }
      }
      ParseStatementInto(b, false);
    }
  }

  // ------------------------------------------------------------ statements
  void ParseStatementInto(Block& b, bool single_line) {
    const Token& t = Cur();
    if (t.kind == TokKind::kIdent) {
      switch (t.kw) {
        case Kw::kProperty:
          if (!IsPropertyKind(pos_ + 1)) break;
          Error(kErrSyntax);
        case Kw::kSub:
        case Kw::kFunction:
        case Kw::kClass:
        case Kw::kPublic:
        case Kw::kPrivate:
          // A procedure written inside a block of the main code (an If, a
          // loop) is defined for the whole script, as on Windows; other
          // definitions belong at the top level.
          if (!single_line && in_definition_ == 0 && IsProcStart()) {
            nested_procs_.push_back(ParseProc(false));
            return;
          }
          Error(kErrSyntax);
        case Kw::kEnd:
        case Kw::kLoop:
        case Kw::kNext:
        case Kw::kWend:
        case Kw::kElse:
        case Kw::kElseIf:
        case Kw::kCase:
          if (t.kw == Kw::kLoop) Error(kErrLoopWithoutDo);
          if (t.kw == Kw::kNext) Error(kErrUnexpectedNext);
          if (t.kw == Kw::kEnd) StrayEnd();
          Error(kErrExpectedStatement);
        default:
          break;
      }
    }
    b.push_back(Statement(single_line));
    if (!single_line) {
      if (AtEndOfStatement()) return;
      Error(kErrExpectedEndOfStatement);
    }
  }

  StmtPtr NewStmt(StmtKind k) {
    auto s = std::make_unique<Stmt>();
    s->kind = k;
    s->line = Cur().line;
    s->col = Cur().col;
    return s;
  }

  // statement ::= Dim | ReDim | Const | Erase | If | Select | For | Do |
  //               While | With | Exit | On Error | Set | Let | Call | Stop |
  //               assignment | call
  StmtPtr Statement(bool /*single_line*/) {
    const Token& t = Cur();
    if (t.kind == TokKind::kDot) return AssignOrCall();
    if (t.kind != TokKind::kIdent) Error(kErrExpectedStatement);
    switch (t.kw) {
      case Kw::kDim: {
        Token start = t;
        Next();
        return ParseDimList(start);
      }
      case Kw::kReDim:
        return ParseReDim();
      case Kw::kConst:
        return ParseConst();
      case Kw::kErase:
        return ParseErase();
      case Kw::kIf:
        return ParseIf();
      case Kw::kSelect:
        return ParseSelect();
      case Kw::kFor:
        return ParseFor();
      case Kw::kDo:
        return ParseDo();
      case Kw::kWhile:
        return ParseWhile();
      case Kw::kWith:
        return ParseWith();
      case Kw::kExit:
        return ParseExit();
      case Kw::kOn:
        return ParseOnError();
      case Kw::kSet:
        return ParseSet();
      case Kw::kLet:
        Next();
        return AssignOrCall();
      case Kw::kCall:
        return ParseCall();
      case Kw::kStop: {
        auto s = NewStmt(StmtKind::kNop);
        Next();
        return s;
      }
      default:
        return AssignOrCall();
    }
  }

  // erase ::= Erase name {"," name}
  StmtPtr ParseErase() {
    auto s = NewStmt(StmtKind::kErase);
    Next();
    NameList(*s, [](DimItem&) {});
    return s;
  }

  // while ::= While expr newline block Wend
  StmtPtr ParseWhile() {
    auto s = NewStmt(StmtKind::kWhile);
    Next();
    s->conds.push_back(Expression());
    EndOfStatement();
    s->blocks.push_back(ParseBlockUntil({Kw::kWend}));
    ExpectKw(Kw::kWend, kErrExpectedWend);
    return s;
  }

  // with ::= With expr newline block End With
  StmtPtr ParseWith() {
    auto s = NewStmt(StmtKind::kWith);
    Next();
    s->value = Expression();
    EndOfStatement();
    s->blocks.push_back(ParseBlockUntil({Kw::kEnd}, Kw::kWith));
    if (!(AtKw(Kw::kEnd) && PeekTok().kw == Kw::kWith)) Error(kErrExpectedEnd);
    Next();
    Next();
    return s;
  }

  // exit ::= Exit (Sub | Function | Property | For | Do)
  StmtPtr ParseExit() {
    static constexpr std::pair<Kw, ExitKind> kExits[] = {{Kw::kSub, ExitKind::kSub},
                                                         {Kw::kFunction, ExitKind::kFunction},
                                                         {Kw::kProperty, ExitKind::kProperty},
                                                         {Kw::kFor, ExitKind::kFor},
                                                         {Kw::kDo, ExitKind::kDo}};
    auto s = NewStmt(StmtKind::kExit);
    Next();
    auto it = std::find_if(std::begin(kExits), std::end(kExits),
                           [&](const auto& e) { return e.first == Cur().kw; });
    if (it == std::end(kExits)) Error(kErrInvalidExit);
    s->exit_kind = it->second;
    Next();
    return s;
  }

  // onerror ::= On Error (Resume Next | GoTo 0)
  StmtPtr ParseOnError() {
    Next();
    ExpectKw(Kw::kError, kErrSyntax);
    if (AtKw(Kw::kResume)) {
      auto s = NewStmt(StmtKind::kOnErrorResumeNext);
      Next();
      ExpectKw(Kw::kNext, kErrSyntax);
      return s;
    }
    if (!AtKw(Kw::kGoTo)) Error(kErrSyntax);
    auto s = NewStmt(StmtKind::kOnErrorGoto0);
    Next();
    if (!(At(TokKind::kNumber) && Cur().text == "0")) Error(kErrSyntax);
    Next();
    return s;
  }

  // set ::= Set target "=" expr
  StmtPtr ParseSet() {
    auto s = NewStmt(StmtKind::kSet);
    Next();
    s->target = Postfix(nullptr);
    CheckAssignable(*s->target);
    Expect(TokKind::kEq, kErrExpectedEquals);
    s->value = Expression();
    return s;
  }

  // callstmt ::= Call name {"." name | "(" args ")"}
  StmtPtr ParseCall() {
    auto s = NewStmt(StmtKind::kCall);
    Next();
    s->target = Unparen(Postfix(nullptr));
    if (s->target->kind != ExprKind::kIdent && s->target->kind != ExprKind::kMember &&
        s->target->kind != ExprKind::kCall) {
      Error(kErrExpectedIdent);
    }
    return s;
  }

  void CheckAssignable(const Expr& e) {
    if (e.kind == ExprKind::kIdent || e.kind == ExprKind::kMember) return;
    if (e.kind == ExprKind::kCall && e.a && IsCallable(*e.a)) return;
    ThrowSyntax(kErrSyntax, e.line, e.col);
  }

  // assignment ::= postfix "=" expr;  call ::= postfix [args]
  StmtPtr AssignOrCall() {
    auto s = NewStmt(StmtKind::kCall);
    if (At(TokKind::kIdent) && IsReservedKeyword(Cur().kw) && Cur().kw != Kw::kMe) {
      Error(kErrExpectedStatement);
    }
    ExprPtr chain = Postfix(nullptr);
    if (At(TokKind::kEq)) {
      Next();
      CheckAssignable(*chain);
      s->kind = StmtKind::kAssign;
      s->target = std::move(chain);
      s->value = Expression();
      return s;
    }
    if (AtEndOfStatement()) {
      if (chain->kind == ExprKind::kCall) {
        if (chain->args.size() > 1) ThrowSyntax(kErrParensOnSub, chain->line, chain->col);
        if (chain->args.size() == 1 && chain->args[0]->kind != ExprKind::kMissing) {
          // "Foo(x)": the parentheses belong to the argument, passed by value.
          chain->args[0] = Wrap(std::move(chain->args[0]));
        }
      } else if (chain->kind != ExprKind::kIdent && chain->kind != ExprKind::kMember) {
        Error(kErrExpectedStatement);
      }
      s->target = std::move(chain);
      return s;
    }
    // "Foo a, b" or "Foo (a) + 1, b": the rest of the statement is arguments.
    auto call = std::make_unique<Expr>();
    call->kind = ExprKind::kCall;
    call->line = chain->line;
    call->col = chain->col;
    ExprPtr seed;
    // With or without a blank before it, "(...)" followed by more of the
    // statement opens the first argument: "Foo(10 \ 2) + 1".
    if (chain->kind == ExprKind::kCall &&
        (chain->space_before_paren ||
         (chain->args.size() == 1 && chain->args[0]->kind != ExprKind::kMissing))) {
      if (chain->args.size() != 1) ThrowSyntax(kErrParensOnSub, chain->line, chain->col);
      seed = Wrap(std::move(chain->args[0]));
      call->a = std::move(chain->a);
    } else if (chain->kind == ExprKind::kIdent || chain->kind == ExprKind::kMember) {
      call->a = std::move(chain);
    } else {
      Error(kErrExpectedEndOfStatement);
    }
    if (seed) {
      call->args.push_back(Expression(std::move(seed)));
    } else if (At(TokKind::kComma)) {
      call->args.push_back(Missing());
    } else {
      call->args.push_back(Expression());
    }
    while (At(TokKind::kComma)) {
      Next();
      if (At(TokKind::kComma) || AtEndOfStatement()) {
        call->args.push_back(Missing());
      } else {
        call->args.push_back(Expression());
      }
    }
    EndOfStatement();
    s->target = std::move(call);
    return s;
  }

  ExprPtr Wrap(ExprPtr e) {
    auto p = std::make_unique<Expr>();
    p->kind = ExprKind::kParen;
    p->line = e->line;
    p->col = e->col;
    p->depth = e->depth + 1;
    p->a = std::move(e);
    return p;
  }

  ExprPtr Missing() {
    auto m = std::make_unique<Expr>();
    m->kind = ExprKind::kMissing;
    m->line = Cur().line;
    m->col = Cur().col;
    return m;
  }

  std::vector<ExprPtr> BoundsList() {
    std::vector<ExprPtr> out;
    Expect(TokKind::kLParen, kErrExpectedLParen);
    if (At(TokKind::kRParen)) {
      Next();
      return out;
    }
    while (true) {
      out.push_back(Expression());
      if (At(TokKind::kComma)) {
        Next();
        continue;
      }
      Expect(TokKind::kRParen, kErrExpectedRParen);
      return out;
    }
  }

  // `name ..., name ...` of Dim, ReDim, Const and Erase: each name with its
  // position; `rest` reads what may follow the name.
  template <typename F>
  void NameList(Stmt& s, F&& rest) {
    while (true) {
      DimItem d;
      d.line = Cur().line;
      d.col = Cur().col;
      d.name = Name();
      rest(d);
      s.dims.push_back(std::move(d));
      if (!At(TokKind::kComma)) break;
      Next();
    }
  }

  // dim ::= Dim name ["(" [bounds] ")"] {"," name ["(" [bounds] ")"]}
  StmtPtr ParseDimList(const Token& start) {
    auto s = NewStmt(StmtKind::kDim);
    s->line = start.line;
    s->col = start.col;
    NameList(*s, [&](DimItem& d) {
      if (At(TokKind::kLParen)) {
        d.has_parens = true;
        d.bounds = BoundsList();
        // Only ReDim sizes an array from values known when it runs.
        for (const auto& b : d.bounds) {
          if (b->kind != ExprKind::kLiteral || !b->value.IsNumericTag() ||
              b->value.tag() == Tag::kBoolean || b->value.tag() == Tag::kDate) {
            ThrowSyntax(kErrExpectedInteger, b->line, b->col);
          }
        }
      }
    });
    return s;
  }

  // redim ::= ReDim [Preserve] name "(" bounds ")" {"," name "(" bounds ")"}
  StmtPtr ParseReDim() {
    auto s = NewStmt(StmtKind::kReDim);
    Next();
    if (AtKw(Kw::kPreserve)) {
      s->preserve = true;
      Next();
    }
    NameList(*s, [&](DimItem& d) {
      d.has_parens = true;
      d.bounds = BoundsList();
      if (d.bounds.empty()) Error(kErrExpectedExpression);
    });
    return s;
  }

  // const ::= Const name "=" constexpr {"," name "=" constexpr}
  StmtPtr ParseConst() {
    auto s = NewStmt(StmtKind::kConst);
    Next();
    NameList(*s, [&](DimItem& d) {
      Expect(TokKind::kEq, kErrExpectedEquals);
      d.value = Expression();
      if (!IsConstantExpr(*d.value)) ThrowSyntax(kErrExpectedLiteral, d.value->line, d.value->col);
    });
    return s;
  }

  static bool IsConstantExpr(const Expr& e) {
    if (e.kind == ExprKind::kLiteral) return true;
    if (e.kind == ExprKind::kParen) return IsConstantExpr(*e.a);
    if (e.kind == ExprKind::kUnary && e.op == Op::kNeg) return IsConstantExpr(*e.a);
    // Other constants may be named: Const B = A.
    if (e.kind == ExprKind::kIdent) return true;
    return false;
  }

  // if ::= If expr Then newline block {ElseIf expr Then block} [Else block] End If
  //      | If expr Then statements [Else statements] [End If]
  StmtPtr ParseIf() {
    auto s = NewStmt(StmtKind::kIf);
    Next();
    s->conds.push_back(Expression());
    ExpectKw(Kw::kThen, kErrExpectedThen);
    if (At(TokKind::kNewline) || At(TokKind::kEnd)) {
      // Block form.
      ++block_if_;
      s->blocks.push_back(ParseBlockUntil({Kw::kElseIf, Kw::kElse, Kw::kEnd}, Kw::kIf));
      while (AtKw(Kw::kElseIf)) {
        s->branch_lines.push_back(Cur().line);
        Next();
        s->conds.push_back(Expression());
        ExpectKw(Kw::kThen, kErrExpectedThen);
        s->blocks.push_back(ParseBlockUntil({Kw::kElseIf, Kw::kElse, Kw::kEnd}, Kw::kIf));
      }
      if (AtKw(Kw::kElse)) {
        Next();
        s->has_else = true;
        s->blocks.push_back(ParseBlockUntil({Kw::kEnd}, Kw::kIf));
      }
      --block_if_;
      if (!(AtKw(Kw::kEnd) && PeekTok().kw == Kw::kIf)) Error(kErrExpectedEnd);
      Next();
      Next();
      return s;
    }
    // Single-line form: statements up to the end of the line.
    DepthGuard g(*this);
    ++single_line_if_;
    s->blocks.push_back(SingleLineBlock());
    if (AtKw(Kw::kElse)) {
      Next();
      s->has_else = true;
      s->blocks.push_back(SingleLineBlock());
    }
    --single_line_if_;
    // An "End If" may close a single-line If on the same line.
    if (AtEndIf()) {
      Next();
      Next();
    }
    return s;
  }

  Block SingleLineBlock() {
    Block b;
    while (true) {
      while (At(TokKind::kColon)) Next();
      if (At(TokKind::kNewline) || At(TokKind::kEnd) || AtKw(Kw::kElse) || AtEndIf() ||
          AtEndOfDefinition()) {
        break;
      }
      b.push_back(Statement(true));
      if (!AtEndOfStatement()) Error(kErrExpectedEndOfStatement);
    }
    return b;
  }

  // select ::= Select Case expr newline {Case (Else | item {"," item}) block} End Select
  // item ::= expr [To expr] | Is compareop expr
  StmtPtr ParseSelect() {
    auto s = NewStmt(StmtKind::kSelect);
    Next();
    ExpectKw(Kw::kCase, kErrExpectedCase);
    s->value = Expression();
    EndOfStatement();
    SkipSeparators();
    while (AtKw(Kw::kCase)) {
      CaseClause c;
      c.line = Cur().line;
      c.col = Cur().col;
      Next();
      if (AtKw(Kw::kElse)) {
        Next();
        c.is_else = true;
      } else {
        while (true) {
          CaseItem item;
          if (AtKw(Kw::kIs)) {
            Next();
            item.kind = CaseItem::kIs;
            // A comparison operator must follow ("Case Is Is" is not one).
            if (!IsCompareOp() || AtKw(Kw::kIs)) Error(kErrSyntax);
            item.is_op = CompareOp();
            Next();
            item.a = Concat(nullptr);
          } else {
            item.a = Expression();
            if (AtKw(Kw::kTo)) {
              Next();
              item.kind = CaseItem::kRange;
              item.b = Expression();
            }
          }
          c.items.push_back(std::move(item));
          if (!At(TokKind::kComma)) break;
          Next();
        }
      }
      // A statement may follow the clause on its line without a colon:
      // "Case 1  x = 200".
      c.body = ParseBlockUntil({Kw::kCase, Kw::kEnd}, Kw::kSelect);
      bool was_else = c.is_else;
      s->cases.push_back(std::move(c));
      if (was_else && AtKw(Kw::kCase)) Error(kErrExpectedEnd);
    }
    if (!(AtKw(Kw::kEnd) && PeekTok().kw == Kw::kSelect)) Error(kErrExpectedEnd);
    Next();
    Next();
    return s;
  }

  // for ::= For name "=" expr To expr [Step expr] newline block Next [name]
  //       | For Each name In expr newline block Next [name]
  StmtPtr ParseFor() {
    Next();
    if (AtKw(Kw::kEach)) {
      auto s = NewStmt(StmtKind::kForEach);
      Next();
      s->var_line = Cur().line;
      s->var_col = Cur().col;
      s->var = Name();
      ExpectKw(Kw::kIn, kErrExpectedIn);
      s->value = Expression();
      EndOfStatement();
      s->blocks.push_back(ParseBlockUntil({Kw::kNext}));
      ExpectKw(Kw::kNext, kErrExpectedNext);
      if (At(TokKind::kIdent) && !IsReservedKeyword(Cur().kw)) Next();
      return s;
    }
    auto s = NewStmt(StmtKind::kFor);
    s->var_line = Cur().line;
    s->var_col = Cur().col;
    s->var = Name();
    Expect(TokKind::kEq, kErrExpectedEquals);
    s->from = Expression();
    ExpectKw(Kw::kTo, kErrExpectedTo);
    s->to = Expression();
    if (AtKw(Kw::kStep)) {
      Next();
      s->step = Expression();
    }
    EndOfStatement();
    s->blocks.push_back(ParseBlockUntil({Kw::kNext}));
    ExpectKw(Kw::kNext, kErrExpectedNext);
    // "Next i" (and "Next j, i" closing two loops is not VBScript).
    if (At(TokKind::kIdent) && !IsReservedKeyword(Cur().kw)) Next();
    return s;
  }

  // do ::= Do [(While | Until) expr] newline block Loop [(While | Until) expr]
  StmtPtr ParseDo() {
    auto s = NewStmt(StmtKind::kDo);
    Next();
    if (AtKw(Kw::kWhile) || AtKw(Kw::kUntil)) {
      s->do_kind = AtKw(Kw::kWhile) ? DoKind::kPreWhile : DoKind::kPreUntil;
      Next();
      s->conds.push_back(Expression());
    }
    if (!AtEndOfStatement()) ThrowSyntax(1028, Cur().line, Cur().col);
    s->blocks.push_back(ParseBlockUntil({Kw::kLoop}));
    ExpectKw(Kw::kLoop, kErrExpectedLoop);
    if (AtKw(Kw::kWhile) || AtKw(Kw::kUntil)) {
      if (s->do_kind != DoKind::kForever) Error(kErrExpectedEndOfStatement);
      s->do_kind = AtKw(Kw::kWhile) ? DoKind::kPostWhile : DoKind::kPostUntil;
      Next();
      s->conds.push_back(Expression());
    }
    return s;
  }

  // ------------------------------------------------------------ expressions
  ExprPtr Binary(Op op, ExprPtr l, ExprPtr r, const Token& at) {
    auto e = std::make_unique<Expr>();
    e->kind = ExprKind::kBinary;
    e->op = op;
    e->line = at.line;
    e->col = at.col;
    e->depth = std::max(l->depth, r->depth) + 1;
    if (e->depth > kMaxExprDepth) ThrowSyntax(kErrOutOfStack, at.line, at.col);
    e->a = std::move(l);
    e->b = std::move(r);
    return e;
  }

  ExprPtr Unary(Op op, ExprPtr x, const Token& at) {
    auto e = std::make_unique<Expr>();
    e->kind = ExprKind::kUnary;
    e->op = op;
    e->line = at.line;
    e->col = at.col;
    e->depth = x->depth + 1;
    if (e->depth > kMaxExprDepth) ThrowSyntax(kErrOutOfStack, at.line, at.col);
    // Fold a negative number literal so it stays a literal.
    if (op == Op::kNeg && x->kind == ExprKind::kLiteral && x->value.tag() != Tag::kString &&
        x->value.tag() != Tag::kBoolean && x->value.tag() != Tag::kDate &&
        x->value.IsNumericTag()) {
      x->value = OpNegLiteral(x->value);
      x->negated = true;
      x->line = at.line;
      x->col = at.col;
      return x;
    }
    e->a = std::move(x);
    return e;
  }

  static Value OpNegLiteral(const Value& v) {
    switch (v.tag()) {
      case Tag::kInteger:
        return v.raw_int() == -32768 ? Value::Long(32768)
                                     : Value::Integer(static_cast<int16_t>(-v.raw_int()));
      case Tag::kLong:
        if (v.raw_int() == INT32_MIN) return Value::Double(2147483648.0);
        if (-v.raw_int() >= -32768 && v.raw_int() == 32768) return Value::Long(-32768);
        return Value::Long(static_cast<int32_t>(-v.raw_int()));
      default:
        return Value::Double(-v.raw_double());
    }
  }

  // expr ::= imp; imp ::= eqv {Imp eqv}; eqv ::= xor {Eqv xor}; xor ::= or {Xor or};
  // or ::= and {Or and}; and ::= not {And not}; not ::= Not not | compare;
  // compare ::= concat {compareop concat}; concat ::= additive {"&" additive};
  // additive ::= mod {("+" | "-") mod}; mod ::= intdiv {Mod intdiv};
  // intdiv ::= mul {"\\" mul}; mul ::= power {("*" | "/") power}
  ExprPtr Expression(ExprPtr seed = nullptr) {
    DepthGuard g(*this);
    return Imp(std::move(seed));
  }

#define VBS_BINARY_LEVEL(NAME, LOWER, COND, OPEXPR)   \
  ExprPtr NAME(ExprPtr seed) {                        \
    ExprPtr l = LOWER(std::move(seed));               \
    while (COND) {                                    \
      Token at = Cur();                               \
      Op op = OPEXPR;                                 \
      Next();                                         \
      ExprPtr r = LOWER(nullptr);                     \
      l = Binary(op, std::move(l), std::move(r), at); \
    }                                                 \
    return l;                                         \
  }

  VBS_BINARY_LEVEL(Imp, Eqv, AtKw(Kw::kImp), Op::kImp)
  VBS_BINARY_LEVEL(Eqv, Xor, AtKw(Kw::kEqv), Op::kEqv)
  VBS_BINARY_LEVEL(Xor, Or, AtKw(Kw::kXor), Op::kXor)
  VBS_BINARY_LEVEL(Or, And, AtKw(Kw::kOr), Op::kOr)
  VBS_BINARY_LEVEL(And, Not, AtKw(Kw::kAnd), Op::kAnd)
  VBS_BINARY_LEVEL(Compare, Concat, IsCompareOp(), CompareOp())
  VBS_BINARY_LEVEL(Concat, Additive, At(TokKind::kAmp), Op::kConcat)
  VBS_BINARY_LEVEL(Additive, ModLevel, At(TokKind::kPlus) || At(TokKind::kMinus),
                   At(TokKind::kPlus) ? Op::kAdd : Op::kSub)
  VBS_BINARY_LEVEL(ModLevel, IntDiv, AtKw(Kw::kMod), Op::kMod)
  VBS_BINARY_LEVEL(IntDiv, Mul, At(TokKind::kBackslash), Op::kIntDiv)
  VBS_BINARY_LEVEL(Mul, Negate, At(TokKind::kStar) || At(TokKind::kSlash),
                   At(TokKind::kStar) ? Op::kMul : Op::kDiv)
#undef VBS_BINARY_LEVEL

  bool IsCompareOp() const {
    switch (Cur().kind) {
      case TokKind::kEq:
      case TokKind::kNe:
      case TokKind::kLt:
      case TokKind::kGt:
      case TokKind::kLe:
      case TokKind::kGe:
        return true;
      default:
        return AtKw(Kw::kIs);
    }
  }
  Op CompareOp() const {
    switch (Cur().kind) {
      case TokKind::kEq:
        return Op::kEq;
      case TokKind::kNe:
        return Op::kNe;
      case TokKind::kLt:
        return Op::kLt;
      case TokKind::kGt:
        return Op::kGt;
      case TokKind::kLe:
        return Op::kLe;
      case TokKind::kGe:
        return Op::kGe;
      default:
        return Op::kIs;
    }
  }

  // not ::= Not not | compare
  ExprPtr Not(ExprPtr seed) {
    if (!seed && AtKw(Kw::kNot)) {
      Token at = Cur();
      Next();
      DepthGuard g(*this);
      return Unary(Op::kNot, Not(nullptr), at);
    }
    return Compare(std::move(seed));
  }

  ExprPtr Negate(ExprPtr seed) {
    return Power(std::move(seed));
  }

  // A sign binds to its operand before "^" does: -3^2 is (-3)^2 = 9, as
  // scripts written for Windows expect.
  // signed ::= ("-" | "+") signed | not | postfix
  ExprPtr Signed() {
    if (At(TokKind::kMinus) || At(TokKind::kPlus)) {
      Token at = Cur();
      bool minus = At(TokKind::kMinus);
      Next();
      DepthGuard g(*this);
      ExprPtr x = Signed();
      return minus ? Unary(Op::kNeg, std::move(x), at) : std::move(x);
    }
    // Not as an operand takes in what follows up to its own level:
    // "1 <> Not 0 = 0" is 1 <> Not (0 = 0).
    if (AtKw(Kw::kNot)) return Not(nullptr);
    return Postfix(nullptr);
  }

  // power ::= signed {"^" poweroperand}
  ExprPtr Power(ExprPtr seed) {
    ExprPtr l = seed ? Postfix(std::move(seed)) : Signed();
    while (At(TokKind::kCaret)) {
      Token at = Cur();
      Next();
      ExprPtr r = PowerOperand();
      l = Binary(Op::kPow, std::move(l), std::move(r), at);
    }
    return l;
  }

  // poweroperand ::= ("-" | "+") poweroperand | postfix
  ExprPtr PowerOperand() {
    if (At(TokKind::kMinus) || At(TokKind::kPlus)) {
      Token at = Cur();
      bool minus = At(TokKind::kMinus);
      Next();
      DepthGuard g(*this);
      ExprPtr x = PowerOperand();
      return minus ? Unary(Op::kNeg, std::move(x), at) : std::move(x);
    }
    return Postfix(nullptr);
  }

  // What may take an argument list: "Me(i)" calls the class's default member.
  static bool IsCallable(const Expr& e) {
    return e.kind == ExprKind::kIdent || e.kind == ExprKind::kMember || e.kind == ExprKind::kCall ||
           e.kind == ExprKind::kMe;
  }

  // Parentheses around a callee are only grouping: "(f)(x)" calls f with x
  // and "Call (((f)))" calls f.
  static ExprPtr Unparen(ExprPtr e) {
    const Expr* inner = e.get();
    while (inner->kind == ExprKind::kParen) inner = inner->a.get();
    if (inner == e.get() || !IsCallable(*inner)) return e;
    while (e->kind == ExprKind::kParen) e = std::move(e->a);
    return e;
  }

  // postfix ::= primary {"." name | "(" [args] ")"}
  ExprPtr Postfix(ExprPtr seed) {
    ExprPtr e = seed ? std::move(seed) : Primary();
    while (true) {
      if (At(TokKind::kLParen) && e->kind == ExprKind::kParen) e = Unparen(std::move(e));
      if (At(TokKind::kDot) && !Cur().space_before && e->kind != ExprKind::kLiteral) {
        Token at = Cur();
        Next();
        auto m = std::make_unique<Expr>();
        m->kind = ExprKind::kMember;
        m->line = e->line;
        m->col = e->col;
        m->name = MemberName();
        m->depth = e->depth + 1;
        m->a = std::move(e);
        e = std::move(m);
      } else if (At(TokKind::kLParen) && IsCallable(*e)) {
        bool space = Cur().space_before;
        Next();
        auto c = std::make_unique<Expr>();
        c->kind = ExprKind::kCall;
        c->line = e->line;
        c->col = e->col;
        c->space_before_paren = space;
        c->depth = e->depth + 1;
        if (c->depth > kMaxExprDepth) Error(kErrOutOfStack);
        c->a = std::move(e);
        DepthGuard g(*this);
        if (!At(TokKind::kRParen)) {
          while (true) {
            if (At(TokKind::kComma)) {
              c->args.push_back(Missing());
            } else {
              c->args.push_back(Expression());
            }
            if (At(TokKind::kComma)) {
              Next();
              if (At(TokKind::kRParen)) c->args.push_back(Missing());
              continue;
            }
            break;
          }
        }
        Expect(TokKind::kRParen, kErrExpectedRParen);
        e = std::move(c);
      } else {
        return e;
      }
    }
  }

  // primary ::= number | string | date | True | False | Empty | Null | Nothing | Me |
  //             New name | name | "(" expr ")" | "." name
  ExprPtr Primary() {
    const Token& t = Cur();
    auto e = std::make_unique<Expr>();
    e->line = t.line;
    e->col = t.col;
    switch (t.kind) {
      case TokKind::kNumber:
      case TokKind::kString:
      case TokKind::kDate:
        e->kind = ExprKind::kLiteral;
        e->value = t.value;
        Next();
        return e;
      case TokKind::kLParen: {
        Next();
        ExprPtr inner = Expression();
        Expect(TokKind::kRParen, kErrExpectedRParen);
        return Wrap(std::move(inner));
      }
      case TokKind::kDot: {
        // ".Member" inside With.
        Next();
        e->kind = ExprKind::kMember;
        e->name = MemberName();
        return e;
      }
      case TokKind::kIdent:
        break;
      default:
        Error(kErrExpectedExpression);
    }
    switch (t.kw) {
      case Kw::kTrue:
      case Kw::kFalse:
        e->kind = ExprKind::kLiteral;
        e->value = Value::Bool(t.kw == Kw::kTrue);
        Next();
        return e;
      case Kw::kEmpty:
        e->kind = ExprKind::kLiteral;
        Next();
        return e;
      case Kw::kNull:
        e->kind = ExprKind::kLiteral;
        e->value = Value::Null();
        Next();
        return e;
      case Kw::kNothing:
        e->kind = ExprKind::kLiteral;
        e->value = Value::Nothing();
        Next();
        return e;
      case Kw::kMe:
        e->kind = ExprKind::kMe;
        Next();
        return e;
      case Kw::kNew:
        Next();
        e->kind = ExprKind::kNew;
        e->name = Name();
        return e;
      default:
        break;
    }
    if (IsReservedKeyword(t.kw)) Error(kErrExpectedExpression);
    e->kind = ExprKind::kIdent;
    e->name = t.text;
    Next();
    return e;
  }

  std::vector<Token> toks_;
  size_t pos_ = 0;
  int depth_ = 0;
  int in_definition_ = 0;              // Inside a procedure or class
  std::vector<ProcDef> nested_procs_;  // Procedures written inside blocks
  int single_line_if_ = 0;
  int block_if_ = 0;  // multi-line If blocks open around the statement
  std::vector<Kw> open_blocks_;
  bool in_proc_ = false;
  int proc_kind_ = 0;
};

}  // namespace

ProgramAst ParseProgram(std::string_view src) {
  ProgramAst prog = Parser(src).Program();
  CheckDeclarations(prog);
  return prog;
}

ExprPtr ParseExpressionText(std::string_view src) {
  return Parser(src).ExpressionOnly();
}

}  // namespace corvane::vbs
