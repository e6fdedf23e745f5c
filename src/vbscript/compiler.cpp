// The compiler: one pass over a procedure's syntax tree that emits the
// stack-machine code the VM runs (Instr and Opc in runtime.h) into a Proc.
// Names are settled here so the VM finds variables by index. ProcCompiler
// holds one procedure's scope: locals_ (name -> slot: parameters, the result,
// then Dim'd names hoisted from the whole body), consts_, and the class whose
// members and fields the code may name. A name that is none of those is a
// constant, a built-in function, or a GlobalSlot of the module; inside a
// procedure a name nothing defines yet is kDyn: the module's variable if one
// exists when the code runs, else an implicit local. Only object members
// are looked up by name at run time, through one CallCache per call site.
// The compiler also tracks the stack depth, so a frame knows its size.
// CompileProgram declares a module's procedures, classes and variables
// before compiling any body, so code may use what is defined further down.
#include "vbscript/compiler.h"

#include <algorithm>

#include "core/text.h"
#include "vbscript/ops.h"

namespace corvane::vbs {

namespace {

std::string Key(std::string_view name) {
  return ToLower(name);
}

// How an instruction changes the depth of the expression stack.
int StackEffect(Opc op, int d) {
  switch (op) {
    case Opc::kPushConst:
    case Opc::kPushInt:
    case Opc::kPushEmpty:
    case Opc::kPushNull:
    case Opc::kPushNothing:
    case Opc::kPushTrue:
    case Opc::kPushFalse:
    case Opc::kPushMissing:
    case Opc::kPushMe:
    case Opc::kLoadLocal:
    case Opc::kLoadGlobal:
    case Opc::kLoadField:
    case Opc::kLoadDyn:
    case Opc::kRefLocal:
    case Opc::kRefGlobal:
    case Opc::kRefField:
    case Opc::kRefDyn:
    case Opc::kNew:
    case Opc::kForEachNext:
      return 1;
    case Opc::kPop:
    case Opc::kStoreLocal:
    case Opc::kStoreGlobal:
    case Opc::kStoreField:
    case Opc::kStoreDyn:
    case Opc::kAppendLocal:
    case Opc::kAppendGlobal:
    case Opc::kAppendField:
    case Opc::kAppendDyn:
    case Opc::kJumpFalse:
    case Opc::kJumpTrue:
    case Opc::kForEachInit:
      return -1;
    case Opc::kCallLocal:
    case Opc::kCallGlobal:
    case Opc::kCallField:
    case Opc::kCallDyn:
    case Opc::kRefIndexLocal:
    case Opc::kRefIndexGlobal:
    case Opc::kRefIndexField:
    case Opc::kRefIndexDyn:
    case Opc::kCallBuiltin:
      return 1 - d;
    case Opc::kStoreIndexLocal:
    case Opc::kStoreIndexGlobal:
    case Opc::kStoreIndexField:
    case Opc::kStoreIndexDyn:
      return -(d + 1);
    case Opc::kIndex:
    case Opc::kGetMember:
      return -d;
    case Opc::kStoreIndex:
      return -(d + 2);
    case Opc::kPutMember:
      return -(d + 1);
    case Opc::kAdd:
    case Opc::kSub:
    case Opc::kMul:
    case Opc::kDiv:
    case Opc::kIntDiv:
    case Opc::kMod:
    case Opc::kPow:
    case Opc::kConcat:
    case Opc::kEq:
    case Opc::kNe:
    case Opc::kLt:
    case Opc::kLe:
    case Opc::kGt:
    case Opc::kGe:
    case Opc::kIs:
    case Opc::kAnd:
    case Opc::kOr:
    case Opc::kXor:
    case Opc::kEqv:
    case Opc::kImp:
      return -1;
    case Opc::kForInit:
      return -3;
    case Opc::kDimArray:
    case Opc::kReDim:
      return -d;
    default:
      return 0;
  }
}

// The instruction of each binary operator, in Op order.
constexpr Opc kBinaryOpcode[] = {
    Opc::kAdd,    Opc::kSub, Opc::kMul, Opc::kDiv, Opc::kIntDiv, Opc::kMod, Opc::kPow,
    Opc::kConcat, Opc::kEq,  Opc::kNe,  Opc::kLt,  Opc::kLe,     Opc::kGt,  Opc::kGe,
    Opc::kIs,     Opc::kAnd, Opc::kOr,  Opc::kXor, Opc::kEqv,    Opc::kImp,
};
static_assert(std::size(kBinaryOpcode) == static_cast<size_t>(Op::kImp) + 1);

struct NameRef {
  enum Kind { kVar, kConst, kBuiltin, kMember, kUnknownGlobal } kind = kVar;
  VarKind var = VarKind::kLocal;
  int index = 0;
  GlobalSlot* slot = nullptr;
  Value value;
  int builtin = -1;
  bool is_ret = false;  // the function's own name: its result
};

class ProcCompiler {
 public:
  ProcCompiler(Vm& vm, Module& mod, Proc& proc, ClassInfo* cls, bool option_explicit)
      : vm_(vm), mod_(mod), proc_(proc), cls_(cls), explicit_(option_explicit) {
    proc_.option_explicit = option_explicit;
  }

  // Parameters, the result slot and the Dim'd names of a procedure body.
  void DeclareProc(const ProcDef& def) {
    for (const auto& p : def.params) {
      std::string k = Key(p.name);
      if (locals_.count(k)) ThrowSyntax(kErrNameRedefined, def.line, def.col);
      AddLocal(p.name);
      proc_.by_val.push_back(p.by_val ? 1 : 0);
    }
    proc_.nparams = static_cast<int>(def.params.size());
    if (def.kind == ProcKind::kFunction || def.kind == ProcKind::kPropertyGet) {
      proc_.ret_slot = AddHidden();
      self_name_ = Key(def.name);
    }
    HoistDims(def.body);
  }

  void HoistDims(const Block& b) {
    for (const auto& s : b) {
      if (s->kind == StmtKind::kDim) {
        for (const auto& d : s->dims) {
          std::string k = Key(d.name);
          if (!locals_.count(k)) AddLocal(d.name);
        }
      } else if (s->kind == StmtKind::kConst) {
        for (const auto& d : s->dims) consts_[Key(d.name)] = ConstValue(*d.value);
      }
      for (const auto& blk : s->blocks) HoistDims(blk);
      for (const auto& c : s->cases) HoistDims(c.body);
    }
  }

  // The caller's local names, visible to Execute/Eval code as references.
  // A name the caller looks up when it runs (a global, a host object or a
  // variable Execute created) is looked up the same way here.
  void DeclareOuter(const Proc& outer, const FrameVars* vars) {
    for (size_t i = 0; i < outer.local_names.size(); ++i) {
      bool looked_up = std::find(outer.dyn_slots.begin(), outer.dyn_slots.end(),
                                 static_cast<int>(i)) != outer.dyn_slots.end();
      // A function's own name is its result there, and so it is here.
      bool result = static_cast<int>(i) == outer.ret_slot && outer.HasReturnValue();
      DeclareOuterName(result ? outer.name : outer.local_names[i], looked_up);
    }
    if (vars) {
      for (size_t i = 0; i < vars->names.size(); ++i) {
        // Earlier Execute code declared this name in the frame: it is the
        // variable, not the caller's run-time look-up of the same name.
        if (!vars->looked_up[i]) dyn_.erase(Key(vars->names[i]));
        DeclareOuterName(vars->names[i], vars->looked_up[i]);
      }
    }
    proc_.nparams = static_cast<int>(proc_.local_names.size());
  }

  void DeclareOuterName(const std::string& n, bool looked_up) {
    std::string k = Key(n);
    proc_.by_val.push_back(0);
    if (n.empty() || locals_.count(k) || dyn_.count(k)) {
      AddHidden();
    } else if (looked_up) {
      int slot = AddHidden();
      proc_.local_names.back() = n;
      proc_.dyn_slots.push_back(slot);
      dyn_[k] = slot;
    } else {
      AddLocal(n);
    }
  }

  // An array variable comes into being when its Dim runs (before that it is
  // Empty, as on Windows); a Dim that runs again keeps the array.
  void DimArrays(const Stmt& s) {
    for (const auto& d : s.dims) {
      if (!d.has_parens) continue;
      NameRef r = Resolve(d.name, d.line, d.col);
      if (r.kind != NameRef::kVar) continue;
      Mark(d.line, d.col);
      for (const auto& bound : d.bounds) Expression(*bound);
      EmitVar(Opc::kDimArray, r, 0, static_cast<uint16_t>(d.bounds.size()));
      SetResume();
    }
  }

  void Body(const Block& b) {
    for (const auto& s : b) Statement(*s);
  }

  void EvalBody(const Expr& e) {
    Mark(e.line, e.col);
    Expression(e);
    Emit(Opc::kStoreLocal, kStoreRaw, static_cast<uint16_t>(proc_.ret_slot));
    SetResume();
  }

  void Finish() {
    Emit(Opc::kReturn);
    proc_.nlocals = static_cast<int>(proc_.local_names.size());
    proc_.max_stack = max_depth_ + 8;
    proc_.caches.resize(cache_count_);
  }

  void SetMain() { is_main_ = true; }
  void SetSelfName(std::string n) { self_name_ = Key(n); }

 private:
  // ------------------------------------------------------------ slots
  int AddLocal(const std::string& name) {
    int i = static_cast<int>(proc_.local_names.size());
    if (i >= 65000) ThrowSyntax(kErrOutOfMemory, 0, 0);
    proc_.local_names.push_back(name);
    locals_[Key(name)] = i;
    return i;
  }
  int AddHidden() {
    int i = static_cast<int>(proc_.local_names.size());
    if (i >= 65000) ThrowSyntax(kErrOutOfMemory, 0, 0);
    proc_.local_names.emplace_back();
    return i;
  }

  Value ConstValue(const Expr& e) {
    switch (e.kind) {
      case ExprKind::kLiteral:
        return e.value;
      case ExprKind::kParen:
        return ConstValue(*e.a);
      case ExprKind::kUnary:
        return OpNeg(ConstValue(*e.a));
      case ExprKind::kIdent: {
        NameRef r = Resolve(e.name, e.line, e.col);
        if (r.kind == NameRef::kConst) return r.value;
        break;
      }
      default:
        break;
    }
    ThrowSyntax(kErrExpectedLiteral, e.line, e.col);
  }

  NameRef Resolve(const std::string& name, int line, int col) {
    (void)line;
    (void)col;
    std::string k = Key(name);
    NameRef r;
    if (auto it = locals_.find(k); it != locals_.end()) {
      r.var = VarKind::kLocal;
      r.index = it->second;
      return r;
    }
    if (auto it = consts_.find(k); it != consts_.end()) {
      r.kind = NameRef::kConst;
      r.value = it->second;
      return r;
    }
    if (cls_) {
      if (auto it = cls_->by_name.find(k); it != cls_->by_name.end()) {
        const ClassMember& m = cls_->members[it->second];
        if (m.field >= 0) {
          r.var = VarKind::kField;
          r.index = m.field;
        } else {
          r.kind = NameRef::kMember;
          r.index = it->second;
        }
        return r;
      }
    }
    GlobalSlot* slot = mod_.Find(k);
    if (!slot && mod_.name != "Global") {
      Module* g = vm_.FindModule("Global");
      if (g) {
        GlobalSlot* gs = g->Find(k);
        if (gs && gs->kind != SlotKind::kUndefined) slot = gs;
      }
    }
    if (slot && slot->kind == SlotKind::kConst) {
      r.kind = NameRef::kConst;
      r.value = slot->value;
      return r;
    }
    if (slot && slot->kind != SlotKind::kUndefined) {
      r.var = VarKind::kGlobal;
      r.slot = slot;
      return r;
    }
    Value c;
    if (FindConstant(k, &c)) {
      r.kind = NameRef::kConst;
      r.value = c;
      return r;
    }
    int b = FindBuiltin(k);
    if (b >= 0) {
      r.kind = NameRef::kBuiltin;
      r.builtin = b;
      return r;
    }
    slot = mod_.Slot(k);
    if (slot->name.empty()) slot->name = name;
    if (is_main_) {
      r.var = VarKind::kGlobal;
      r.slot = slot;
      return r;
    }
    r.var = VarKind::kDyn;
    r.slot = slot;
    if (auto it = dyn_.find(k); it != dyn_.end()) {
      r.index = it->second;
    } else {
      r.index = AddHidden();
      proc_.local_names.back() = name;
      proc_.dyn_slots.push_back(r.index);
      dyn_[k] = r.index;
    }
    return r;
  }

  // ------------------------------------------------------------ emitting
  int Emit(Opc op, uint8_t a = 0, uint16_t b = 0, uint16_t d = 0, int32_t c = 0,
           void* p = nullptr) {
    proc_.code.push_back(Instr{op, a, b, d, c, p});
    if (proc_.code.size() > 4000000) ThrowSyntax(kErrOutOfMemory, 0, 0);
    depth_ += StackEffect(op, d);
    if (depth_ > max_depth_) max_depth_ = depth_;
    return static_cast<int>(proc_.code.size()) - 1;
  }
  int Here() const { return static_cast<int>(proc_.code.size()); }
  void Patch(int at, int target) { proc_.code[at].c = target; }

  void EmitVar(Opc group, const NameRef& r, uint8_t a = 0, uint16_t d = 0, int32_t c = 0) {
    Opc op = static_cast<Opc>(static_cast<int>(group) + static_cast<int>(r.var));
    if (group == Opc::kDimArray || group == Opc::kReDim || group == Opc::kErase ||
        group == Opc::kForInit || group == Opc::kForNext) {
      op = group;
      a = static_cast<uint8_t>(r.var);
    }
    Emit(op, a, static_cast<uint16_t>(r.index), d, c, r.slot);
  }

  int Const(Value v) {
    proc_.consts.push_back(std::move(v));
    return static_cast<int>(proc_.consts.size()) - 1;
  }
  int NameIndex(const std::string& n) {
    for (size_t i = 0; i < proc_.names.size(); ++i) {
      if (proc_.names[i] == n) return static_cast<int>(i);
    }
    proc_.names.push_back(n);
    return static_cast<int>(proc_.names.size()) - 1;
  }
  uint16_t NewCache() {
    if (cache_count_ >= 65535) return 65535;
    return static_cast<uint16_t>(cache_count_++);
  }

  void PushValue(const Value& v) {
    switch (v.tag()) {
      case Tag::kEmpty:
        Emit(Opc::kPushEmpty);
        return;
      case Tag::kNull:
        Emit(Opc::kPushNull);
        return;
      case Tag::kNothing:
        Emit(Opc::kPushNothing);
        return;
      case Tag::kBoolean:
        Emit(v.raw_bool() ? Opc::kPushTrue : Opc::kPushFalse);
        return;
      case Tag::kInteger:
      case Tag::kLong:
        Emit(Opc::kPushInt, static_cast<uint8_t>(v.tag()), 0, 0, static_cast<int32_t>(v.raw_int()));
        return;
      default:
        Emit(Opc::kPushConst, 0, 0, 0, Const(v));
        return;
    }
  }

  void Mark(int line, int col) {
    proc_.lines.push_back(LineEntry{Here(), -1, line, col});
    open_marks_.push_back(static_cast<int>(proc_.lines.size()) - 1);
  }
  // The statement opened by the last Mark resumes after the code so far.
  void SetResume(int target = -1) {
    int idx = open_marks_.back();
    open_marks_.pop_back();
    proc_.lines[idx].resume = target < 0 ? Here() : target;
  }

  int ArgCount(size_t n, const Expr& at) {
    if (n > 250) ThrowSyntax(kErrSyntax, at.line, at.col);
    return static_cast<int>(n);
  }

  // ------------------------------------------------------------ expressions
  static bool IsLiteral(const Expr& e) { return e.kind == ExprKind::kLiteral; }

  // What a comparison counts as a literal: a number, text or date written
  // in place. A negated number, a Const or any other expression is not.
  static bool IsPlainLiteral(const Expr& e) { return e.kind == ExprKind::kLiteral && !e.negated; }

  void Expression(const Expr& e) {
    switch (e.kind) {
      case ExprKind::kLiteral:
        PushValue(e.value);
        return;
      case ExprKind::kMissing:
        Emit(Opc::kPushMissing);
        return;
      case ExprKind::kParen:
        Expression(*e.a);
        return;
      case ExprKind::kMe:
        // Outside a class Me is the host's own object (see Vm::HostMe).
        Emit(Opc::kPushMe);
        return;
      case ExprKind::kNew:
        Emit(Opc::kNew, 0, 0, 0, NameIndex(e.name));
        return;
      case ExprKind::kIdent:
        Ident(e, false);
        return;
      case ExprKind::kMember: {
        void* object_name = Object(e);
        Emit(Opc::kGetMember, MemberFlags(e), NewCache(), 0, NameIndex(e.name), object_name);
        return;
      }
      case ExprKind::kCall:
        Call(e, false, false);
        return;
      case ExprKind::kUnary:
        Expression(*e.a);
        Emit(e.op == Op::kNeg ? Opc::kNeg : Opc::kNot);
        return;
      case ExprKind::kBinary:
        Binary(e);
        return;
    }
  }

  void Binary(const Expr& e) {
    Expression(*e.a);
    Expression(*e.b);
    uint8_t lit = static_cast<uint8_t>(Literal::kNone);
    if (IsPlainLiteral(*e.a)) lit |= static_cast<uint8_t>(Literal::kLeft);
    if (IsPlainLiteral(*e.b)) lit |= static_cast<uint8_t>(Literal::kRight);
    // Comparisons take note of a literal side; the other operators ignore it.
    bool comparison = e.op >= Op::kEq && e.op <= Op::kGe;
    Emit(kBinaryOpcode[static_cast<size_t>(e.op)], comparison ? lit : 0);
  }

  uint8_t MemberFlags(const Expr& member) {
    bool on_me = member.a && member.a->kind == ExprKind::kMe;
    return on_me ? kMemberPrivate : 0;
  }

  // The object of a member access: the expression, or the With object.
  // Gives the name error texts show for the object when it is a variable.
  void* Object(const Expr& member) {
    if (member.a) {
      Expression(*member.a);
      if (member.a->kind != ExprKind::kIdent) return nullptr;
      proc_.object_names.push_back(member.a->name);
      return &proc_.object_names.back();
    }
    if (with_slots_.empty()) {
      // Valid text that fails only when it runs.
      PushValue(Value::Integer(505));
      Emit(Opc::kCallBuiltin, 0, 0, 1, FindBuiltin("$raise"));
      return nullptr;
    }
    Emit(Opc::kLoadLocal, 0, static_cast<uint16_t>(with_slots_.back()));
    return nullptr;
  }

  void Ident(const Expr& e, bool as_ref) {
    std::string k = Key(e.name);
    if (!self_name_.empty() && k == self_name_ && !locals_.count(k)) {
      // The function's own name stands for its result.
      Emit(as_ref ? Opc::kRefLocal : Opc::kLoadLocal, 0, static_cast<uint16_t>(proc_.ret_slot));
      return;
    }
    NameRef r = Resolve(e.name, e.line, e.col);
    switch (r.kind) {
      case NameRef::kConst:
        PushValue(r.value);
        return;
      case NameRef::kBuiltin:
        Emit(Opc::kCallBuiltin, 0, 0, 0, r.builtin);
        if (IsStatementOnly(e.name)) RaiseAfterCall(kErrTypeMismatch);
        return;
      case NameRef::kMember:
        Emit(Opc::kPushMe);
        Emit(Opc::kGetMember, kMemberPrivate, NewCache(), 0,
             NameIndex(cls_->members[r.index].name));
        return;
      default:
        EmitVar(as_ref ? Opc::kRefLocal : Opc::kLoadLocal, r);
        return;
    }
  }

  // An argument: variables and array elements go by reference.
  void Argument(const Expr& e) {
    if (e.kind == ExprKind::kIdent) {
      Ident(e, true);
      return;
    }
    if (e.kind == ExprKind::kCall && e.a->kind == ExprKind::kIdent) {
      std::string k = Key(e.a->name);
      if (k != self_name_ || locals_.count(k)) {
        NameRef r = Resolve(e.a->name, e.a->line, e.a->col);
        if (r.kind == NameRef::kVar && r.var != VarKind::kGlobal) {
          for (const auto& a : e.args) Expression(*a);
          EmitVar(Opc::kRefIndexLocal, r, 0, static_cast<uint16_t>(ArgCount(e.args.size(), e)));
          return;
        }
        if (r.kind == NameRef::kVar && r.var == VarKind::kGlobal) {
          for (const auto& a : e.args) Argument(*a);
          EmitVar(Opc::kRefIndexLocal, r, 0, static_cast<uint16_t>(ArgCount(e.args.size(), e)));
          return;
        }
      }
    }
    if (e.kind == ExprKind::kCall && e.a->kind == ExprKind::kCall) {
      // x(0)(1): an element of an array held in an element, by reference.
      Argument(*e.a);
      for (const auto& a : e.args) Expression(*a);
      Emit(Opc::kIndex, kIndexRef, 0, static_cast<uint16_t>(ArgCount(e.args.size(), e)));
      return;
    }
    Expression(e);
  }

  void Arguments(const std::vector<ExprPtr>& args) {
    for (const auto& a : args) Argument(*a);
  }

  // `callee(args)` as a value (or as a call statement when `statement`).
  // The conversions whose result, thrown away by a call statement, is error 458.
  static bool DiscardFails(const std::string& name) {
    static const char* const kNames[] = {"cbyte", "ccur", "cdate", "cdbl", "cint", "clng", "csng"};
    std::string k = Key(name);
    for (const char* n : kNames) {
      if (k == n) return true;
    }
    return false;
  }

  // Randomize is a statement: used as a value it runs, then fails (13).
  // Len(Mid(text, start[, length])) as one call that counts the characters
  // Mid would cut without making the text (string-handling loops do this).
  bool LenOfMid(const Expr& e, int builtin) {
    static const int len = FindBuiltin("Len"), mid = FindBuiltin("Mid");
    if (builtin != len || e.args.size() != 1) return false;
    const Expr& inner = *e.args[0];
    if (inner.kind != ExprKind::kCall || inner.a->kind != ExprKind::kIdent) return false;
    if (inner.args.size() < 2 || inner.args.size() > 3) return false;
    for (const auto& a : inner.args) {
      if (a->kind == ExprKind::kMissing) return false;
    }
    if (!self_name_.empty() && Key(inner.a->name) == self_name_) return false;
    NameRef r = Resolve(inner.a->name, inner.a->line, inner.a->col);
    if (r.kind != NameRef::kBuiltin || r.builtin != mid) return false;
    for (const auto& a : inner.args) Expression(*a);
    static const int fused = FindBuiltin("$lenofmid");
    Emit(Opc::kCallBuiltin, 0, 0, static_cast<uint16_t>(inner.args.size()), fused);
    return true;
  }

  static bool IsStatementOnly(const std::string& name) { return Key(name) == "randomize"; }
  void RaiseAfterCall(int32_t number) {
    PushValue(Value::Integer(static_cast<int16_t>(number)));
    Emit(Opc::kCallBuiltin, 0, 0, 1, FindBuiltin("$raise"));
  }

  void Call(const Expr& e, bool statement, bool as_ref) {
    (void)as_ref;
    const Expr& callee = *e.a;
    int argc = ArgCount(e.args.size(), e);
    uint8_t call_flag = statement ? kMemberCall : 0;
    if (callee.kind == ExprKind::kIdent) {
      std::string k = Key(callee.name);
      bool self = !self_name_.empty() && k == self_name_ && !locals_.count(k);
      NameRef r;
      if (self) {
        // A recursive call of the function itself.
        r.var = VarKind::kGlobal;
        r.slot = cls_ ? nullptr : mod_.Find(k);
        if (cls_) {
          Emit(Opc::kPushMe);
          Arguments(e.args);
          Emit(Opc::kGetMember, static_cast<uint8_t>(kMemberPrivate | call_flag), NewCache(),
               static_cast<uint16_t>(argc), NameIndex(callee.name));
          return;
        }
        if (!r.slot) r.slot = mod_.Slot(k);
      } else {
        r = Resolve(callee.name, callee.line, callee.col);
      }
      switch (r.kind) {
        case NameRef::kBuiltin:
          if (LenOfMid(e, r.builtin)) return;
          for (const auto& a : e.args) Expression(*a);
          Emit(Opc::kCallBuiltin, 0, 0, static_cast<uint16_t>(argc), r.builtin);
          // Scripts written for Windows see error 458 when a number
          // conversion that succeeded is called as a statement.
          if (statement && DiscardFails(callee.name)) RaiseAfterCall(458);
          if (!statement && IsStatementOnly(callee.name)) RaiseAfterCall(kErrTypeMismatch);
          return;
        case NameRef::kMember:
          Emit(Opc::kPushMe);
          Arguments(e.args);
          Emit(Opc::kGetMember, static_cast<uint8_t>(kMemberPrivate | call_flag), NewCache(),
               static_cast<uint16_t>(argc), NameIndex(cls_->members[r.index].name));
          return;
        case NameRef::kConst:
          PushValue(r.value);
          for (const auto& a : e.args) Expression(*a);
          Emit(Opc::kIndex, call_flag, 0, static_cast<uint16_t>(argc));
          return;
        default:
          if (r.var == VarKind::kGlobal || r.var == VarKind::kDyn) {
            Arguments(e.args);
          } else {
            for (const auto& a : e.args) Expression(*a);
          }
          EmitVar(Opc::kCallLocal, r, call_flag, static_cast<uint16_t>(argc));
          return;
      }
    }
    if (callee.kind == ExprKind::kMember) {
      void* object_name = Object(callee);
      Arguments(e.args);
      Emit(Opc::kGetMember, static_cast<uint8_t>(MemberFlags(callee) | call_flag), NewCache(),
           static_cast<uint16_t>(argc), NameIndex(callee.name), object_name);
      return;
    }
    Expression(callee);
    Arguments(e.args);
    Emit(Opc::kIndex, call_flag, 0, static_cast<uint16_t>(argc));
  }

  // ------------------------------------------------------------ statements
  void Statement(const Stmt& s) {
    switch (s.kind) {
      case StmtKind::kAssign:
      case StmtKind::kSet:
        Assign(s);
        return;
      case StmtKind::kCall:
        CallStatement(s);
        return;
      case StmtKind::kDim:
        for (const auto& d : s.dims) {
          if (is_main_) DeclareGlobal(d.name, d.line, d.col);
        }
        DimArrays(s);
        return;
      case StmtKind::kConst:
        for (const auto& d : s.dims) {
          Value v = ConstValue(*d.value);
          if (is_main_) {
            GlobalSlot* slot = mod_.Slot(Key(d.name));
            if (slot->name.empty()) slot->name = d.name;
            slot->kind = SlotKind::kConst;
            slot->value = v;
          } else {
            consts_[Key(d.name)] = v;
          }
        }
        return;
      case StmtKind::kReDim:
        ReDim(s);
        return;
      case StmtKind::kErase:
        for (const auto& d : s.dims) {
          Mark(d.line, d.col);
          NameRef r = Resolve(d.name, d.line, d.col);
          if (r.kind != NameRef::kVar) ThrowSyntax(kErrExpectedIdent, d.line, d.col);
          EmitVar(Opc::kErase, r);
          SetResume();
        }
        return;
      case StmtKind::kIf:
        If(s);
        return;
      case StmtKind::kSelect:
        Select(s);
        return;
      case StmtKind::kFor:
        For(s);
        return;
      case StmtKind::kForEach:
        ForEach(s);
        return;
      case StmtKind::kDo:
        Do(s);
        return;
      case StmtKind::kWhile:
        While(s);
        return;
      case StmtKind::kWith: {
        Mark(s.line, s.col);
        int slot = AddHidden();
        Expression(*s.value);
        Emit(Opc::kCallBuiltin, 0, 0, 1, FindBuiltin("$withobject"));
        Emit(Opc::kStoreLocal, kStoreRaw, static_cast<uint16_t>(slot));
        SetResume();
        with_slots_.push_back(slot);
        Body(s.blocks[0]);
        with_slots_.pop_back();
        Emit(Opc::kClearLocal, 0, static_cast<uint16_t>(slot));
        return;
      }
      case StmtKind::kExit:
        Exit(s);
        return;
      case StmtKind::kOnErrorResumeNext:
      case StmtKind::kOnErrorGoto0:
        Mark(s.line, s.col);
        Emit(Opc::kOnError, s.kind == StmtKind::kOnErrorResumeNext ? 1 : 0);
        SetResume();
        return;
      case StmtKind::kNop:
        return;
    }
  }

  void DeclareGlobal(const std::string& name, int line, int col) {
    GlobalSlot* slot = mod_.Slot(Key(name));
    if (slot->name.empty()) slot->name = name;
    if (slot->kind == SlotKind::kConst) ThrowSyntax(kErrNameRedefined, line, col);
    if (slot->kind == SlotKind::kUndefined) slot->kind = SlotKind::kVariable;
  }

  void Exit(const Stmt& s) {
    Mark(s.line, s.col);
    switch (s.exit_kind) {
      case ExitKind::kFor:
      case ExitKind::kDo: {
        bool want_for = s.exit_kind == ExitKind::kFor;
        for (auto it = loops_.rbegin(); it != loops_.rend(); ++it) {
          if (it->is_for == want_for) {
            it->exits.push_back(Emit(Opc::kJump));
            SetResume();
            return;
          }
        }
        ThrowSyntax(kErrInvalidExit, s.line, s.col);
      }
      default: {
        ProcKind k = proc_.kind;
        bool ok = !is_main_ && ((s.exit_kind == ExitKind::kSub && k == ProcKind::kSub) ||
                                (s.exit_kind == ExitKind::kFunction && k == ProcKind::kFunction) ||
                                (s.exit_kind == ExitKind::kProperty &&
                                 (k == ProcKind::kPropertyGet || k == ProcKind::kPropertyLet ||
                                  k == ProcKind::kPropertySet)));
        if (!ok) ThrowSyntax(kErrInvalidExit, s.line, s.col);
        Emit(Opc::kExitProc);
        SetResume();
        return;
      }
    }
  }

  void CallStatement(const Stmt& s) {
    Mark(s.line, s.col);
    const Expr& t = *s.target;
    if (t.kind == ExprKind::kCall) {
      Call(t, true, false);
    } else if (t.kind == ExprKind::kIdent) {
      Expr call;
      call.kind = ExprKind::kCall;
      call.line = t.line;
      call.col = t.col;
      // A bare name as a statement: a call without arguments.
      std::string k = Key(t.name);
      NameRef r;
      bool self = !self_name_.empty() && k == self_name_ && !locals_.count(k);
      if (!self) r = Resolve(t.name, t.line, t.col);
      if (!self && r.kind == NameRef::kBuiltin) {
        Emit(Opc::kCallBuiltin, 0, 0, 0, r.builtin);
      } else if (!self && r.kind == NameRef::kMember) {
        Emit(Opc::kPushMe);
        Emit(Opc::kGetMember, kMemberPrivate | kMemberCall, NewCache(), 0,
             NameIndex(cls_->members[r.index].name));
      } else if (!self && r.kind == NameRef::kVar) {
        EmitVar(Opc::kCallLocal, r, kMemberCall, 0);
      } else {
        GlobalSlot* slot = mod_.Slot(k);
        Emit(Opc::kCallGlobal, kMemberCall, 0, 0, 0, slot);
      }
    } else if (t.kind == ExprKind::kMember) {
      void* object_name = Object(t);
      Emit(Opc::kGetMember, static_cast<uint8_t>(MemberFlags(t) | kMemberCall), NewCache(), 0,
           NameIndex(t.name), object_name);
    } else {
      ThrowSyntax(kErrExpectedStatement, s.line, s.col);
    }
    Emit(Opc::kPop);
    SetResume();
  }

  // True when evaluating `e` cannot run script code that changes variables.
  bool IsPure(const Expr& e) {
    switch (e.kind) {
      case ExprKind::kLiteral:
        return true;
      case ExprKind::kParen:
      case ExprKind::kUnary:
        return IsPure(*e.a);
      case ExprKind::kBinary:
        return IsPure(*e.a) && IsPure(*e.b);
      case ExprKind::kIdent: {
        std::string k = Key(e.name);
        if (locals_.count(k) || consts_.count(k)) return true;
        GlobalSlot* s = mod_.Find(k);
        if (s) return s->kind == SlotKind::kVariable || s->kind == SlotKind::kConst;
        Value c;
        return FindConstant(k, &c);
      }
      case ExprKind::kCall: {
        if (e.a->kind != ExprKind::kIdent) return false;
        std::string k = Key(e.a->name);
        if (locals_.count(k) || mod_.Find(k) || (cls_ && cls_->by_name.count(k))) return false;
        if (FindBuiltin(k) < 0) return false;
        if (k == "eval" || k == "execute" || k == "executeglobal") return false;
        for (const auto& a : e.args) {
          if (!IsPure(*a)) return false;
        }
        return true;
      }
      default:
        return false;
    }
  }

  // `x = x & a & b`: the pieces a, b appended in place.
  bool TryAppend(const Stmt& s, const NameRef& r) {
    if (s.kind != StmtKind::kAssign || r.kind != NameRef::kVar) return false;
    std::vector<const Expr*> pieces;
    const Expr* e = s.value.get();
    while (e->kind == ExprKind::kBinary && e->op == Op::kConcat) {
      pieces.push_back(e->b.get());
      e = e->a.get();
    }
    if (pieces.empty() || e->kind != ExprKind::kIdent || Key(e->name) != Key(s.target->name)) {
      return false;
    }
    for (const Expr* p : pieces) {
      if (!IsPure(*p)) return false;
    }
    std::reverse(pieces.begin(), pieces.end());
    for (const Expr* p : pieces) {
      Expression(*p);
      EmitVar(Opc::kAppendLocal, r);
    }
    return true;
  }

  void Assign(const Stmt& s) {
    Mark(s.line, s.col);
    uint8_t mode = s.kind == StmtKind::kSet ? kStoreSet : kStoreLet;
    const Expr& t = *s.target;
    if (t.kind == ExprKind::kIdent) {
      std::string k = Key(t.name);
      if (!self_name_.empty() && k == self_name_ && !locals_.count(k)) {
        Expression(*s.value);
        Emit(Opc::kStoreLocal, mode, static_cast<uint16_t>(proc_.ret_slot));
        SetResume();
        return;
      }
      NameRef r = Resolve(t.name, t.line, t.col);
      switch (r.kind) {
        case NameRef::kVar:
          if (is_main_ && r.var == VarKind::kGlobal && !explicit_ &&
              r.slot->kind == SlotKind::kUndefined) {
            // An implicit global: later procedures see it as declared.
          }
          if (!TryAppend(s, r)) {
            Expression(*s.value);
            EmitVar(Opc::kStoreLocal, r, mode);
          }
          break;
        case NameRef::kMember:
          Emit(Opc::kPushMe);
          Expression(*s.value);
          Emit(Opc::kPutMember, static_cast<uint8_t>(kMemberPrivate | mode), NewCache(), 0,
               NameIndex(cls_->members[r.index].name));
          Emit(Opc::kPop);
          break;
        default:
          // Constants and built-in functions cannot be assigned to.
          Expression(*s.value);
          Emit(Opc::kPop);
          PushValue(Value::Str(t.name));
          Emit(Opc::kCallBuiltin, 1, 0, 1, FindBuiltin("$illegalassign"));
          Emit(Opc::kPop);
          break;
      }
      SetResume();
      return;
    }
    if (t.kind == ExprKind::kMember) {
      void* object_name = Object(t);
      Expression(*s.value);
      Emit(Opc::kPutMember, static_cast<uint8_t>(MemberFlags(t) | mode), NewCache(), 0,
           NameIndex(t.name), object_name);
      Emit(Opc::kPop);
      SetResume();
      return;
    }
    // target(args) = value
    const Expr& callee = *t.a;
    int argc = ArgCount(t.args.size(), t);
    if (callee.kind == ExprKind::kIdent) {
      NameRef r = Resolve(callee.name, callee.line, callee.col);
      if (r.kind == NameRef::kMember) {
        Emit(Opc::kPushMe);
        Arguments(t.args);
        Expression(*s.value);
        Emit(Opc::kPutMember, static_cast<uint8_t>(kMemberPrivate | mode), NewCache(),
             static_cast<uint16_t>(argc), NameIndex(cls_->members[r.index].name));
        Emit(Opc::kPop);
      } else if (r.kind == NameRef::kVar) {
        for (const auto& a : t.args) Expression(*a);
        Expression(*s.value);
        EmitVar(Opc::kStoreIndexLocal, r, mode, static_cast<uint16_t>(argc));
      } else {
        Expression(*s.value);
        Emit(Opc::kPop);
        PushValue(Value::Str(callee.name));
        Emit(Opc::kCallBuiltin, 1, 0, 1, FindBuiltin("$illegalassign"));
        Emit(Opc::kPop);
      }
    } else if (callee.kind == ExprKind::kMember) {
      void* object_name = Object(callee);
      Arguments(t.args);
      Expression(*s.value);
      Emit(Opc::kPutMember, static_cast<uint8_t>(MemberFlags(callee) | mode), NewCache(),
           static_cast<uint16_t>(argc), NameIndex(callee.name), object_name);
      Emit(Opc::kPop);
    } else {
      // "x(0)(1) = v": x(0) is taken by reference, so an array held in an
      // array element is changed in place.
      Argument(callee);
      for (const auto& a : t.args) Expression(*a);
      Expression(*s.value);
      Emit(Opc::kStoreIndex, mode, 0, static_cast<uint16_t>(argc));
    }
    SetResume();
  }

  void ReDim(const Stmt& s) {
    for (const auto& d : s.dims) {
      Mark(d.line, d.col);
      std::string k = Key(d.name);
      NameRef r;
      bool known = locals_.count(k) || (cls_ && cls_->by_name.count(k));
      GlobalSlot* g = mod_.Find(k);
      if (!known && !(g && g->kind != SlotKind::kUndefined)) {
        // ReDim declares the name when nothing else did.
        if (is_main_) {
          DeclareGlobal(d.name, d.line, d.col);
        } else {
          AddLocal(d.name);
        }
      }
      r = Resolve(d.name, d.line, d.col);
      if (r.kind != NameRef::kVar) ThrowSyntax(kErrExpectedIdent, d.line, d.col);
      for (const auto& b : d.bounds) Expression(*b);
      EmitVar(Opc::kReDim, r, 0, static_cast<uint16_t>(d.bounds.size()), s.preserve ? 1 : 0);
      SetResume();
    }
  }

  void If(const Stmt& s) {
    std::vector<int> ends;
    for (size_t i = 0; i < s.conds.size(); ++i) {
      const Expr& cond = *s.conds[i];
      Mark(i == 0 ? s.line : cond.line, i == 0 ? s.col : cond.col);
      Expression(cond);
      int jf = Emit(Opc::kJumpFalse);
      // An error in the condition goes on with the statements of its branch.
      SetResume();
      Body(s.blocks[i]);
      if (i + 1 < s.conds.size() || s.has_else) ends.push_back(Emit(Opc::kJump));
      Patch(jf, Here());
    }
    if (s.has_else) Body(s.blocks.back());
    for (int j : ends) Patch(j, Here());
  }

  void Select(const Stmt& s) {
    Mark(s.line, s.col);
    int slot = AddHidden();
    Expression(*s.value);
    Emit(Opc::kStoreLocal, kStoreRaw, static_cast<uint16_t>(slot));
    std::vector<int> ends;
    int select_mark = open_marks_.back();
    open_marks_.pop_back();
    for (const auto& c : s.cases) {
      if (c.is_else) {
        Body(c.body);
        continue;
      }
      Mark(c.line, c.col);
      std::vector<int> to_body;
      for (const auto& item : c.items) {
        Emit(Opc::kLoadLocal, 0, static_cast<uint16_t>(slot));
        uint8_t lit = IsPlainLiteral(*item.a) ? static_cast<uint8_t>(Literal::kRight)
                                              : static_cast<uint8_t>(Literal::kNone);
        Expression(*item.a);
        if (item.kind == CaseItem::kValue) {
          Emit(Opc::kEq, lit);
          to_body.push_back(Emit(Opc::kJumpTrue));
        } else if (item.kind == CaseItem::kIs) {
          Opc op = Opc::kEq;
          switch (item.is_op) {
            case Op::kNe:
              op = Opc::kNe;
              break;
            case Op::kLt:
              op = Opc::kLt;
              break;
            case Op::kLe:
              op = Opc::kLe;
              break;
            case Op::kGt:
              op = Opc::kGt;
              break;
            case Op::kGe:
              op = Opc::kGe;
              break;
            default:
              break;
          }
          Emit(op, lit);
          to_body.push_back(Emit(Opc::kJumpTrue));
        } else {
          Emit(Opc::kGe, lit);
          int skip = Emit(Opc::kJumpFalse);
          Emit(Opc::kLoadLocal, 0, static_cast<uint16_t>(slot));
          Expression(*item.b);
          Emit(Opc::kLe, IsPlainLiteral(*item.b) ? static_cast<uint8_t>(Literal::kRight)
                                                 : static_cast<uint8_t>(Literal::kNone));
          to_body.push_back(Emit(Opc::kJumpTrue));
          Patch(skip, Here());
        }
      }
      int next = Emit(Opc::kJump);
      // A Case test that fails under On Error Resume Next goes on into its body.
      int case_mark = open_marks_.back();
      open_marks_.pop_back();
      for (int j : to_body) Patch(j, Here());
      proc_.lines[case_mark].resume = Here();
      Body(c.body);
      ends.push_back(Emit(Opc::kJump));
      Patch(next, Here());
    }
    for (int j : ends) Patch(j, Here());
    Emit(Opc::kClearLocal, 0, static_cast<uint16_t>(slot));
    proc_.lines[select_mark].resume = Here();
  }

  NameRef LoopVar(const Stmt& s) {
    NameRef r = Resolve(s.var, s.var_line, s.var_col);
    if (r.kind != NameRef::kVar) ThrowSyntax(kErrInvalidForVar, s.var_line, s.var_col);
    return r;
  }

  void For(const Stmt& s) {
    Mark(s.line, s.col);
    NameRef r = LoopVar(s);
    int hidden = AddHidden();
    AddHidden();
    Expression(*s.from);
    Expression(*s.to);
    if (s.step) {
      Expression(*s.step);
    } else {
      Emit(Opc::kPushInt, static_cast<uint8_t>(Tag::kInteger), 0, 0, 1);
    }
    int init = Emit(Opc::kForInit, static_cast<uint8_t>(r.var), static_cast<uint16_t>(r.index),
                    static_cast<uint16_t>(hidden), 0, r.slot);
    int head_mark = open_marks_.back();
    open_marks_.pop_back();
    int body = Here();
    // A head that fails under On Error Resume Next runs the body once; its
    // Next then fails with 92 as the loop never started.
    proc_.lines[head_mark].resume = body;
    loops_.push_back(Loop{true, {}});
    Body(s.blocks[0]);
    Mark(s.line, s.col);
    Emit(Opc::kForNext, static_cast<uint8_t>(r.var), static_cast<uint16_t>(r.index),
         static_cast<uint16_t>(hidden), body, r.slot);
    int end = Here();
    SetResume(end);
    Patch(init, end);
    for (int j : loops_.back().exits) Patch(j, end);
    loops_.pop_back();
    Emit(Opc::kClearLocal, 0, static_cast<uint16_t>(hidden));
  }

  void ForEach(const Stmt& s) {
    Mark(s.line, s.col);
    NameRef r = LoopVar(s);
    int hidden = AddHidden();
    Expression(*s.value);
    int init = Emit(Opc::kForEachInit, 0, 0, static_cast<uint16_t>(hidden));
    int head_mark = open_marks_.back();
    open_marks_.pop_back();
    int top = Here();
    Mark(s.line, s.col);
    int next = Emit(Opc::kForEachNext, 0, 0, static_cast<uint16_t>(hidden));
    EmitVar(Opc::kStoreLocal, r, kStoreRaw);
    int next_mark = open_marks_.back();
    open_marks_.pop_back();
    // As with For, a failed head runs the body once; Next then fails (451).
    proc_.lines[head_mark].resume = Here();
    loops_.push_back(Loop{true, {}});
    Body(s.blocks[0]);
    Emit(Opc::kJump, 0, 0, 0, top);
    // A loop that runs out leaves its variable Empty; Exit For keeps the
    // current element.
    int exhausted = Here();
    Emit(Opc::kPushEmpty);
    EmitVar(Opc::kStoreLocal, r, kStoreRaw);
    int end = Here();
    Emit(Opc::kClearLocal, 0, static_cast<uint16_t>(hidden));
    Patch(init, end);
    Patch(next, exhausted);
    proc_.lines[next_mark].resume = end;
    for (int j : loops_.back().exits) Patch(j, end);
    loops_.pop_back();
  }

  void Do(const Stmt& s) {
    loops_.push_back(Loop{false, {}});
    int top = Here();
    int exit_jump = -1;
    int cond_mark = -1;
    if (s.do_kind == DoKind::kPreWhile || s.do_kind == DoKind::kPreUntil) {
      Mark(s.line, s.col);
      Expression(*s.conds[0]);
      exit_jump = Emit(s.do_kind == DoKind::kPreWhile ? Opc::kJumpFalse : Opc::kJumpTrue);
      // A test that fails under On Error Resume Next goes on into the body.
      proc_.lines[open_marks_.back()].resume = Here();
      open_marks_.pop_back();
    }
    Body(s.blocks[0]);
    if (s.do_kind == DoKind::kPostWhile || s.do_kind == DoKind::kPostUntil) {
      Mark(s.conds[0]->line, s.conds[0]->col);
      Expression(*s.conds[0]);
      Emit(s.do_kind == DoKind::kPostWhile ? Opc::kJumpTrue : Opc::kJumpFalse, 0, 0, 0, top);
      cond_mark = open_marks_.back();
      open_marks_.pop_back();
    } else {
      // The jump back checks the time-out: an empty "Do : Loop" that runs
      // too long is reported on its own line (with a body, on the body's).
      const bool empty = s.blocks[0].empty();
      if (empty) Mark(s.line, s.col);
      Emit(Opc::kJump, 0, 0, 0, top);
      if (empty) SetResume();
    }
    int end = Here();
    if (exit_jump >= 0) Patch(exit_jump, end);
    if (cond_mark >= 0) proc_.lines[cond_mark].resume = end;
    for (int j : loops_.back().exits) Patch(j, end);
    loops_.pop_back();
  }

  void While(const Stmt& s) {
    loops_.push_back(Loop{false, {}});  // Exit Do does not apply, but keeps nesting right
    int top = Here();
    Mark(s.line, s.col);
    Expression(*s.conds[0]);
    int exit_jump = Emit(Opc::kJumpFalse);
    proc_.lines[open_marks_.back()].resume = Here();
    open_marks_.pop_back();
    Body(s.blocks[0]);
    Emit(Opc::kJump, 0, 0, 0, top);
    int end = Here();
    Patch(exit_jump, end);
    // Exit Do inside While leaves the enclosing Do, not the While.
    std::vector<int> exits = std::move(loops_.back().exits);
    loops_.pop_back();
    for (auto it = loops_.rbegin(); it != loops_.rend(); ++it) {
      if (!it->is_for) {
        for (int j : exits) it->exits.push_back(j);
        exits.clear();
        break;
      }
    }
    if (!exits.empty()) ThrowSyntax(kErrInvalidExit, s.line, s.col);
  }

  struct Loop {
    bool is_for;
    std::vector<int> exits;
  };

  Vm& vm_;
  Module& mod_;
  Proc& proc_;
  ClassInfo* cls_;
  bool explicit_;
  bool is_main_ = false;
  std::string self_name_;
  std::unordered_map<std::string, int> locals_;
  std::unordered_map<std::string, Value> consts_;
  std::unordered_map<std::string, int> dyn_;  // names resolved when they run
  std::vector<int> with_slots_;
  std::vector<Loop> loops_;
  std::vector<int> open_marks_;
  size_t cache_count_ = 0;
  int depth_ = 0;
  int max_depth_ = 0;
};

std::shared_ptr<Proc> NewProc(Module& m, const ProcDef& def, ClassInfo* cls) {
  auto p = std::make_shared<Proc>();
  p->name = def.name;
  p->kind = def.kind;
  p->is_public = def.is_public;
  p->module = &m;
  p->cls = cls;
  return p;
}

std::shared_ptr<Proc> CompileProc(Vm& vm, Module& m, const ProcDef& def, ClassInfo* cls,
                                  bool option_explicit) {
  auto p = NewProc(m, def, cls);
  ProcCompiler c(vm, m, *p, cls, option_explicit);
  c.DeclareProc(def);
  c.Body(def.body);
  c.Finish();
  m.code.push_back(p);
  return p;
}

int32_t ConstBound(const Expr& e) {
  Value v;
  if (e.kind == ExprKind::kLiteral) {
    v = e.value;
  } else if (e.kind == ExprKind::kUnary && e.a->kind == ExprKind::kLiteral) {
    v = OpNeg(e.a->value);
  } else {
    ThrowSyntax(kErrExpectedInteger, e.line, e.col);
  }
  try {
    return ToLong(v);
  } catch (const ScriptError&) {
    ThrowSyntax(kErrExpectedInteger, e.line, e.col);
  }
}

void DeclareClass(Vm& vm, Module& m, ClassDef& def, bool option_explicit) {
  auto cls = std::make_shared<ClassInfo>();
  cls->name = def.name;
  cls->module = &m;
  auto member = [&](const std::string& name, int line, int col, bool allow_existing) -> int {
    std::string k = Key(name);
    auto it = cls->by_name.find(k);
    if (it != cls->by_name.end()) {
      if (!allow_existing) ThrowSyntax(kErrNameRedefined, line, col);
      return it->second;
    }
    cls->members.push_back(ClassMember{});
    cls->members.back().name = name;
    int idx = static_cast<int>(cls->members.size()) - 1;
    cls->by_name[k] = idx;
    return idx;
  };
  for (auto& v : def.vars) {
    int idx = member(v.name, v.line, v.col, false);
    ClassMember& cm = cls->members[idx];
    cm.is_public = v.is_public;
    cm.field = static_cast<int>(cls->fields.size());
    FieldInit fi;
    fi.name = v.name;
    if (v.has_parens) {
      if (v.bounds.empty()) fi.dynamic_array = true;
      for (const auto& b : v.bounds) fi.bounds.push_back(ConstBound(*b));
    }
    cls->fields.push_back(std::move(fi));
  }
  for (auto& p : def.procs) {
    bool is_property = p.kind == ProcKind::kPropertyGet || p.kind == ProcKind::kPropertyLet ||
                       p.kind == ProcKind::kPropertySet;
    int idx = member(p.name, p.line, p.col, is_property);
    ClassMember& cm = cls->members[idx];
    if (cm.field >= 0 || (cm.method && true)) ThrowSyntax(kErrNameRedefined, p.line, p.col);
    if (is_property) {
      auto& slot = p.kind == ProcKind::kPropertyGet   ? cm.get
                   : p.kind == ProcKind::kPropertyLet ? cm.let
                                                      : cm.set;
      if (slot) ThrowSyntax(kErrNameRedefined, p.line, p.col);
    }
    if (p.is_default) cls->default_member = idx;
    cm.is_public = p.is_public;
  }
  // Compile after every member is known.
  for (auto& p : def.procs) {
    ClassMember& cm = cls->members[cls->by_name[Key(p.name)]];
    auto proc = CompileProc(vm, m, p, cls.get(), option_explicit);
    switch (p.kind) {
      case ProcKind::kPropertyGet:
        cm.get = proc;
        break;
      case ProcKind::kPropertyLet:
        cm.let = proc;
        break;
      case ProcKind::kPropertySet:
        cm.set = proc;
        break;
      default:
        cm.method = proc;
        break;
    }
    if (p.kind == ProcKind::kSub && EqualsIgnoreCase(p.name, "Class_Initialize")) {
      if (!p.params.empty()) ThrowSyntax(kErrInitTermArgs, p.line, p.col);
      cls->initialize = proc;
    }
    if (p.kind == ProcKind::kSub && EqualsIgnoreCase(p.name, "Class_Terminate")) {
      if (!p.params.empty()) ThrowSyntax(kErrInitTermArgs, p.line, p.col);
      cls->terminate = proc;
    }
  }
  m.classes[Key(def.name)] = cls;
}

}  // namespace

std::shared_ptr<Proc> CompileProgram(Vm& vm, Module& m, ProgramAst& ast) {
  // Procedures and classes are known before any code runs.
  for (auto& p : ast.procs) {
    GlobalSlot* slot = m.Slot(Key(p.name));
    if (slot->kind == SlotKind::kConst) ThrowSyntax(kErrNameRedefined, p.line, p.col);
    slot->name = p.name;
    slot->kind = SlotKind::kProc;
    slot->value = Value();
    auto placeholder = std::make_shared<Proc>();
    placeholder->name = p.name;
    placeholder->kind = p.kind;
    placeholder->nparams = static_cast<int>(p.params.size());
    placeholder->module = &m;
    slot->proc = placeholder;
  }
  // Top-level Dim/Public/Private names anywhere in the top-level code.
  std::function<void(const Block&)> declare = [&](const Block& b) {
    for (const auto& s : b) {
      if (s->kind == StmtKind::kDim) {
        for (const auto& d : s->dims) {
          GlobalSlot* slot = m.Slot(Key(d.name));
          if (slot->name.empty()) slot->name = d.name;
          if (slot->kind == SlotKind::kUndefined) slot->kind = SlotKind::kVariable;
        }
      } else if (s->kind == StmtKind::kConst) {
        for (const auto& d : s->dims) {
          GlobalSlot* slot = m.Slot(Key(d.name));
          if (slot->name.empty()) slot->name = d.name;
          if (d.value->kind == ExprKind::kLiteral) {
            slot->kind = SlotKind::kConst;
            slot->value = d.value->value;
          }
        }
      }
      for (const auto& blk : s->blocks) declare(blk);
      for (const auto& c : s->cases) declare(c.body);
    }
  };
  declare(ast.main);
  for (auto& c : ast.classes) DeclareClass(vm, m, c, ast.option_explicit);
  for (auto& p : ast.procs) {
    auto proc = CompileProc(vm, m, p, nullptr, ast.option_explicit);
    GlobalSlot* slot = m.Slot(Key(p.name));
    slot->proc = proc;
    auto it = std::find_if(m.proc_order.begin(), m.proc_order.end(),
                           [&](const std::string& n) { return EqualsIgnoreCase(n, p.name); });
    if (it == m.proc_order.end()) m.proc_order.push_back(p.name);
  }
  auto main = std::make_shared<Proc>();
  main->name = "<global>";
  main->is_main = true;
  main->module = &m;
  ProcCompiler c(vm, m, *main, nullptr, ast.option_explicit);
  c.SetMain();
  c.Body(ast.main);
  c.Finish();
  return main;
}

std::shared_ptr<Proc> CompileSnippet(Vm& vm, Module& m, const Proc* outer, const FrameVars* vars,
                                     ProgramAst* ast, Expr* expr) {
  auto p = std::make_shared<Proc>();
  p->name = "<execute>";
  p->kind = expr ? ProcKind::kFunction : ProcKind::kSub;
  p->module = &m;
  p->cls = outer->cls;
  ProcCompiler c(vm, m, *p, outer->cls, ast ? ast->option_explicit : false);
  c.DeclareOuter(*outer, vars);
  if (expr) {
    p->ret_slot = static_cast<int>(p->local_names.size());
    p->local_names.emplace_back();
    c.EvalBody(*expr);
  } else {
    c.HoistDims(ast->main);
    c.Body(ast->main);
  }
  c.Finish();
  return p;
}

}  // namespace corvane::vbs
