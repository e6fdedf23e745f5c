// The engine's inside: compiled procedures, classes, modules and the virtual
// machine that runs them. Only the engine's own files include this.
// A Proc is one compiled procedure: its code (Instr), constants, names,
// call-site caches and a line table for error positions and Resume Next.
// A Module holds GlobalSlots by name (variables, constants, procedures) and
// its classes (ClassInfo: members by name, fields, Initialize/Terminate).
// The Vm runs Procs on one value stack, one Frame per active call.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/text.h"
#include "vbscript/ast.h"
#include "vbscript/engine.h"
#include "vbscript/error.h"
#include "vbscript/locale.h"
#include "vbscript/ops.h"
#include "vbscript/value.h"

namespace corvane::vbs {

class Vm;
class TrackedObject;
struct Module;
struct ClassInfo;
struct Proc;

// ------------------------------------------------------------------ bytecode

enum class Opc : uint8_t {
  kPushConst,  // c: constant index
  kPushInt,    // a: Tag (Integer or Long), c: value
  kPushEmpty,
  kPushNull,
  kPushNothing,
  kPushTrue,
  kPushFalse,
  kPushMissing,
  kPushMe,
  kPop,
  // Variables. a: store mode (StoreMode); b: local/field index; p: GlobalSlot*.
  kLoadLocal,
  kLoadGlobal,
  kLoadField,
  kLoadDyn,
  kStoreLocal,
  kStoreGlobal,
  kStoreField,
  kStoreDyn,
  kRefLocal,
  kRefGlobal,
  kRefField,
  kRefDyn,
  // `name(args)` on a variable: array element or the value's default member.
  // d: argument count.
  kCallLocal,
  kCallGlobal,  // also calls procedures
  kCallField,
  kCallDyn,
  kRefIndexLocal,
  kRefIndexGlobal,
  kRefIndexField,
  kRefIndexDyn,
  kStoreIndexLocal,
  kStoreIndexGlobal,
  kStoreIndexField,
  kStoreIndexDyn,
  kIndex,       // value(args) on a computed value
  kStoreIndex,  // computed value(args) = v: default member assignment
  // Objects. c: name index, d: argument count, b: call-site cache index,
  // a: kMemberCall | kMemberPrivate | store mode bits; p: the object's
  // variable name (a std::string) for error texts, or null.
  kGetMember,
  kPutMember,
  kNew,          // c: name index
  kCallBuiltin,  // c: builtin id, d: argument count
  kAppendLocal,  // `x = x & piece`, appending in place
  kAppendGlobal,
  kAppendField,
  kAppendDyn,
  // Operators.
  kAdd,
  kSub,
  kMul,
  kDiv,
  kIntDiv,
  kMod,
  kPow,
  kConcat,
  kEq,
  kNe,
  kLt,
  kLe,
  kGt,
  kGe,  // a: Literal side
  kIs,
  kAnd,
  kOr,
  kXor,
  kEqv,
  kImp,
  kNeg,
  kNot,
  // Control.
  kJump,       // c: target
  kJumpFalse,  // pops; Null counts as False
  kJumpTrue,
  kForInit,      // a: VarKind, b: local/field, p: slot, d: hidden base, c: loop end
  kForNext,      // same operands, c: body start
  kForEachInit,  // d: hidden slot, c: loop end
  kForEachNext,  // d: hidden slot, c: loop end
  kClearLocal,   // b: local
  kOnError,      // a: 1 Resume Next, 0 GoTo 0
  kReturn,
  kExitProc,  // Exit Sub/Function/Property: clears Err, then returns
  kDimArray,  // a: VarKind, b, p; d: dimensions (bounds on the stack)
  kReDim,     // as kDimArray; c: 1 with Preserve
  kErase,     // a: VarKind, b, p
};

enum class VarKind : uint8_t { kLocal, kGlobal, kField, kDyn };
enum StoreMode : uint8_t { kStoreLet = 0, kStoreSet = 1, kStoreRaw = 2 };
constexpr uint8_t kMemberCall = 4;     // a call statement (result dropped)
constexpr uint8_t kMemberPrivate = 8;  // Me.x: private members too
constexpr uint8_t kIndexRef = 16;      // kIndex: a reference to the element, for ByRef

struct Instr {
  Opc op;
  uint8_t a = 0;
  uint16_t b = 0;
  uint16_t d = 0;
  int32_t c = 0;
  void* p = nullptr;
};

// Where each statement starts, for error positions and Resume Next.
struct LineEntry {
  int32_t pc;
  int32_t resume;
  int32_t line;
  int32_t col;
};

struct CallCache {
  const void* key = nullptr;
  int id = kNoMember;
  bool script = false;  // a script class instance
};

struct Proc {
  std::string name;
  ProcKind kind = ProcKind::kSub;
  bool is_public = true;
  bool is_main = false;  // a module's top-level code
  bool option_explicit = false;
  int nparams = 0;
  std::vector<uint8_t> by_val;
  int nlocals = 0;
  int ret_slot = -1;
  int max_stack = 0;
  std::vector<Instr> code;
  std::vector<Value> consts;
  std::vector<std::string> names;  // member and class names used by the code
  std::vector<CallCache> caches;
  std::vector<LineEntry> lines;
  std::vector<std::string> local_names;  // index = local slot, for Execute/Eval
  std::vector<int> dyn_slots;            // locals standing for names looked up when they run
  std::deque<std::string> object_names;  // kGetMember/kPutMember p: stable addresses
  Module* module = nullptr;
  ClassInfo* cls = nullptr;
  bool HasReturnValue() const {
    return kind == ProcKind::kFunction || kind == ProcKind::kPropertyGet;
  }
  const LineEntry* EntryAt(int pc) const;
};

// ------------------------------------------------------------------ classes

struct ClassMember {
  std::string name;
  bool is_public = true;
  int field = -1;                // a variable
  std::shared_ptr<Proc> method;  // Sub or Function
  std::shared_ptr<Proc> get, let, set;
};

struct FieldInit {
  std::string name;
  std::vector<int32_t> bounds;  // fixed array bounds, empty for a plain variable
  bool dynamic_array = false;   // Dim a()
};

struct ClassInfo {
  std::string name;
  Module* module = nullptr;
  std::vector<ClassMember> members;              // member id = index + 1; 0 = default
  std::unordered_map<std::string, int> by_name;  // lower-case name -> index
  int default_member = -1;
  std::vector<FieldInit> fields;
  std::shared_ptr<Proc> initialize, terminate;
  int FindAny(std::string_view name) const;
};

class ClassInstance : public Object {
 public:
  ClassInstance(Vm* vm, std::shared_ptr<ClassInfo> cls);
  ~ClassInstance() override;
  std::string TypeName() const override { return cls_->name; }
  int FindMember(std::string_view name) override;
  int FindMemberAny(std::string_view name) const { return cls_->FindAny(name); }
  Value Invoke(int id, InvokeKind kind, CallArgs& args) override;
  const void* MemberTableKey() const override { return cls_.get(); }
  void ClearReferences() override;
  ClassInfo* cls() const { return cls_.get(); }
  std::vector<Value>& fields() { return fields_; }
  void Detach() { vm_ = nullptr; }
  bool terminated_ = false;

 protected:
  void Finalize() override;

 private:
  friend class Vm;
  Vm* vm_;
  std::shared_ptr<ClassInfo> cls_;
  std::vector<Value> fields_;
};

// ------------------------------------------------------------------ modules

enum class SlotKind : uint8_t { kUndefined, kVariable, kConst, kProc };

struct GlobalSlot {
  Value value;
  SlotKind kind = SlotKind::kUndefined;
  std::shared_ptr<Proc> proc;
  std::string name;
  Module* module = nullptr;
  // A name that is no script variable may be a host object or one of its
  // members; the lookup is remembered until host objects change.
  uint32_t host_generation = 0;
  Object* host_object = nullptr;
  int host_member = kNoMember;  // kNoMember: the object itself
};

struct Module {
  std::string name;
  std::deque<GlobalSlot> slots;                          // addresses stay put as slots are added
  std::unordered_map<std::string, GlobalSlot*> by_name;  // lower-case name
  std::unordered_map<std::string, std::shared_ptr<ClassInfo>> classes;
  std::vector<std::shared_ptr<Proc>> code;  // everything compiled into it
  std::vector<std::string> proc_order;      // procedure names as added
  GlobalSlot* Slot(std::string_view name);  // finds or adds (undefined)
  GlobalSlot* Find(std::string_view name) const;
};

// ------------------------------------------------------------------ builtins

using BuiltinFn = Value (*)(Vm& vm, CallArgs& args);
struct Builtin {
  const char* name;
  int min_args;
  int max_args;
  BuiltinFn fn;
};
// The function table; index = builtin id. -1 when `name` is no function.
int FindBuiltin(std::string_view name);
const Builtin& BuiltinAt(int id);
// Named constants (vbCrLf, vbTextCompare, ...).
bool FindConstant(std::string_view name, Value* out);

// ------------------------------------------------------------------ the Err object

template <typename T>
class MemberTable;

class ErrObject : public Object {
 public:
  std::string TypeName() const override { return "ErrObject"; }
  int FindMember(std::string_view name) override;
  Value Invoke(int id, InvokeKind kind, CallArgs& args) override;
  void Set(const ScriptError& e);
  void Clear();
  int32_t number = 0;
  std::string description, source, help_file;
  int32_t help_context = 0;

 protected:
  void Finalize() override {}  // owned by the engine

 private:
  // Members (builtins.cpp).
  static const MemberTable<ErrObject> kMembers;
  Value Number(InvokeKind kind, CallArgs& a);
  Value Description(InvokeKind kind, CallArgs& a);
  Value Source(InvokeKind kind, CallArgs& a);
  Value HelpFile(InvokeKind kind, CallArgs& a);
  Value HelpContext(InvokeKind kind, CallArgs& a);
  Value Raise(InvokeKind kind, CallArgs& a);
  Value ClearMember(InvokeKind kind, CallArgs& a);
};

// ------------------------------------------------------------------ the VM

// Variables Execute created inside a procedure: they belong to the
// procedure's frame, and later Execute and Eval code in it sees them.
struct FrameVars {
  std::vector<std::string> names;
  std::vector<bool> looked_up;  // a name first met unassigned: globals still win
  std::deque<Value> values;     // stable addresses: running code refers to them
};

struct Frame {
  Proc* proc;
  int ip;
  Value* base;        // parameters, then locals
  Value* temps;       // base + nlocals: the expression stack starts here
  Value me;           // the class instance of a method
  uint8_t pop_extra;  // values below the arguments replaced by the result
  bool resume_next;
  bool native_entry;  // popping it returns to C++
  std::unique_ptr<FrameVars> execute_vars = nullptr;
};

class Vm {
 public:
  Vm(Engine* engine, EngineOptions options);
  ~Vm();

  Engine* engine() { return engine_; }
  EngineOptions& options() { return options_; }
  // The time-out of calls into the engine; changed while code runs, it
  // counts from when the outermost call began.
  void SetTimeout(int milliseconds);
  // The locale SetLocale chose; current while this Vm's code runs.
  const ScriptLocale& locale() const { return *locale_; }
  void SetLocale(const ScriptLocale& locale) {
    locale_ = &locale;
    SetCurrentLocale(locale);
  }

  // Host-facing operations (see Engine).
  Module& GetModule(std::string_view name, bool create);
  Module* FindModule(std::string_view name);
  void AddCode(Module& m, std::string_view code);
  Value CallByName(Module& m, std::string_view name, Value* args, int argc);
  Value EvalText(Module& m, std::string_view text);
  void ExecuteText(std::string_view text, bool global);
  Value EvalInScope(std::string_view text);
  void Reset();

  // Running code.
  Value RunProc(Proc* proc, const Value& me, Value* args, int argc);
  Value RunMember(ClassInstance* inst, int id, InvokeKind kind, CallArgs& args);
  void ScheduleTerminate(ClassInstance* inst);
  void RegisterInstance(ClassInstance* inst) { instances_.insert(inst); }
  void UnregisterInstance(ClassInstance* inst) { instances_.erase(inst); }
  void Track(class TrackedObject* o) { tracked_.insert(o); }
  void Untrack(class TrackedObject* o) { tracked_.erase(o); }

  ErrObject& err() { return err_; }
  Module* CurrentModule();
  Value CreateObject(std::string_view prog_id);
  Value GetRef(std::string_view name);
  void Log(std::string_view kind, std::string_view text);
  double Rnd(double arg);
  void Randomize(std::optional<double> seed);
  bool running() const { return !frames_.empty(); }

  // Host objects.
  struct HostItem {
    std::string name;
    Ref<Object> object;
    bool global_members;
  };
  std::vector<HostItem> host_items_;
  uint32_t host_generation_ = 1;
  std::map<std::string, ObjectFactory, LessIgnoreCase> factories_;
  bool ResolveHost(GlobalSlot* slot);
  // `Me` outside a class: the first object published with global members
  // (the host's own object, as in the Windows hosts), else Nothing.
  Value HostMe() const;

 private:
  friend class Compiler;
  class Interpreter;  // the dispatch loop and its handlers (vm.cpp)
  Value Execute();    // runs until the native-entry frame returns
  Frame& PushFrame(Proc* proc, Value* base, int argc, Value&& me, uint8_t pop_extra,
                   bool native);
  Value* StackTop();
  void UnwindTo(size_t depth, Value* sp);
  void DrainTerminates();
  void CheckTime();
  void CheckNativeStack();

  // Helpers of the interpreter loop.
  Value CallValue(const Value& target, Value* args, int argc, InvokeKind kind);
  void StoreTo(Value& dst, Value&& v, uint8_t mode);
  void StoreIndexed(Value& target, Value* args, int argc, Value&& v, uint8_t mode);
  void ReDimVar(Value& var, Value* bounds, int n, bool preserve);
  Value DefaultCall(Object* o, Value* args, int argc, InvokeKind kind);

  Engine* engine_;
  EngineOptions options_;
  std::vector<std::unique_ptr<Module>> modules_;
  // Modules and host objects dropped by a Reset while code ran.
  std::vector<std::unique_ptr<Module>> retired_modules_;
  std::vector<Ref<Object>> retired_hosts_;
  void ReleaseRetired();
  std::unique_ptr<Value[]> stack_;
  Value* stack_end_ = nullptr;
  std::vector<Frame> frames_;
  ErrObject err_;
  std::vector<ClassInstance*> pending_terminate_;
  bool pending_ = false;
  std::unordered_set<ClassInstance*> instances_;
  std::unordered_set<TrackedObject*> tracked_;
  void ReleaseTrackedObjects();
  std::chrono::steady_clock::time_point started_;  // of the outermost call running
  std::chrono::steady_clock::time_point deadline_;
  bool has_deadline_ = false;
  int budget_ = 0;
  int native_depth_ = 0;
  const char* stack_limit_ = nullptr;
  uint64_t rnd_state_ = 0x50000;
  double last_rnd_ = 0x50000 / 16777216.0;  // Rnd(0) before any Rnd: the first seed
  Limits saved_limits_;
  const ScriptLocale* locale_ = FindLocale(kDefaultLcid);
  const ScriptLocale* saved_locale_ = nullptr;
};

}  // namespace corvane::vbs
