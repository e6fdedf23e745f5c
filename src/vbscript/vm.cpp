// The virtual machine: runs compiled procedures on one value stack. A call
// pushes a Frame (procedure, ip, base of its locals, start of its
// expression stack) onto frames_; script-to-script calls stay inside one
// dispatch loop, and only calls from C++ (the host, a built-in, an object's
// member) nest a new loop through RunProc. Vm::Interpreter is that loop: it
// holds the registers and has one handler per opcode or opcode family.
// Errors are C++ exceptions (ScriptError); the loop's handler finds the
// nearest frame with On Error Resume Next or unwinds to the native entry.
// A class instance released while code runs goes to a pending list; its
// Class_Terminate runs once the instruction that released it has finished,
// never halfway through one. Also here: modules, class instances, and the
// entry points for host calls, Execute and Eval.
#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/text.h"
#include "vbscript/compiler.h"
#include "vbscript/objects.h"
#include "vbscript/ops.h"
#include "vbscript/parser.h"
#include "vbscript/runtime.h"

namespace corvane::vbs {

namespace {

constexpr size_t kStackValues = size_t{1} << 22;
constexpr int kTimeCheckInterval = 4096;

#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kNativeReserve = size_t{3} << 20;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr size_t kNativeReserve = size_t{3} << 20;
#else
constexpr size_t kNativeReserve = size_t{1} << 20;
#endif
#else
constexpr size_t kNativeReserve = size_t{1} << 20;
#endif

// For Each over the elements of an array (a snapshot: the array is shared
// until the script writes to it).
class ArrayEnum final : public Enumerator {
 public:
  explicit ArrayEnum(Value arr) : arr_(std::move(arr)) {}
  bool Next(Value& out) override {
    ArrayObj* a = arr_.arr();
    if (i_ >= a->data.size()) return false;
    out = a->data[i_++];
    return true;
  }
  // As Next, into an Empty slot (the loop's stack top).
  bool NextInto(Value& empty) {
    ArrayObj* a = arr_.arr();
    if (i_ >= a->data.size()) return false;
    empty.CopyIntoEmpty(a->data[i_++]);
    return true;
  }

 private:
  Value arr_;
  size_t i_ = 0;
};

// Holds a running For Each in a hidden local. An array's enumerator lives
// inside the holder: a loop over a Split's result starts with one allocation.
class EnumHolder : public Object {
 public:
  explicit EnumHolder(std::unique_ptr<Enumerator> e) : array_(Value()), e_(std::move(e)) {}
  explicit EnumHolder(const Value& arr) : array_(arr), in_array_(true) {}
  std::string TypeName() const override { return "Enumerator"; }
  int FindMember(std::string_view) override { return kNoMember; }
  Value Invoke(int, InvokeKind, CallArgs&) override { Throw(kErrNoMember); }
  // The next element into an Empty slot; false when there is none.
  bool NextInto(Value& empty) {
    if (in_array_) return array_.NextInto(empty);
    Value item;
    if (!e_->Next(item)) return false;
    empty = std::move(item);
    return true;
  }
  // A For Each inside another loop starts once per round: freed holders
  // are kept per thread for the next one.
  static void* operator new(size_t size);
  static void operator delete(void* p) noexcept;

 private:
  ArrayEnum array_;
  bool in_array_ = false;
  std::unique_ptr<Enumerator> e_;
};

struct HolderPool {
  static constexpr int kMax = 8;
  void* blocks[kMax];
  int count = 0;
  bool closed = false;  // the thread is ending: blocks go back to the heap
  HolderPool() = default;
  HolderPool(const HolderPool&) = delete;
  HolderPool& operator=(const HolderPool&) = delete;
  ~HolderPool() {
    closed = true;
    while (count > 0) ::operator delete(blocks[--count]);
  }
};
thread_local HolderPool holder_pool;

void* EnumHolder::operator new(size_t size) {
  HolderPool& pool = holder_pool;
  if (size == sizeof(EnumHolder) && !pool.closed && pool.count > 0) return pool.blocks[--pool.count];
  return ::operator new(size);
}

void EnumHolder::operator delete(void* p) noexcept {
  HolderPool& pool = holder_pool;
  if (!pool.closed && pool.count < HolderPool::kMax) {
    pool.blocks[pool.count++] = p;
    return;
  }
  ::operator delete(p);
}

// The dimension for an upper bound given in Dim or ReDim: -1 gives an empty
// dimension; more elements than the limit allows is "Out of memory".
ArrayDim DimFor(int32_t upper) {
  if (upper < -1) Throw(kErrSubscript);
  if (static_cast<int64_t>(upper) + 1 > static_cast<int64_t>(CurrentLimits().max_array_elements)) {
    Throw(kErrOutOfMemory);
  }
  return ArrayDim{0, upper + 1};
}

// Empties each slot before its old value is released.
inline void Clear(Value* from, Value* to) {
  for (Value* v = from; v < to; ++v) {
    if (!v->IsEmpty()) Value old(std::move(*v));
  }
}

inline bool ForContinues(const Value& var, const Value& to, const Value& step) {
  const Value& v = var.Deref();
  if (v.tag() <= Tag::kLong && to.tag() <= Tag::kLong && step.tag() <= Tag::kLong &&
      v.tag() >= Tag::kBoolean) {
    return step.raw_int() >= 0 ? v.raw_int() <= to.raw_int() : v.raw_int() >= to.raw_int();
  }
  double s = ToDouble(step);
  int c = CompareValues(v, to);
  if (c == kCompareNull) Throw(kErrInvalidNull);
  return s >= 0 ? c <= 0 : c >= 0;
}

// Integer, Long and Double: the kinds the arithmetic fast paths take.
inline bool FastNumber(Tag t) {
  return t == Tag::kInteger || t == Tag::kLong || t == Tag::kDouble;
}
inline double FastDouble(const Value& v) {
  return v.tag() == Tag::kDouble ? v.raw_double() : static_cast<double>(v.raw_int());
}
// A Double result, which must be finite (else "Overflow", as OpAdd says).
inline void SetDoubleResult(Value& a, double r) {
  if (!std::isfinite(r)) Throw(kErrOverflow);
  a.SetRawDouble(Tag::kDouble, r);
}

bool Truth(const Value& v) {
  const Value& d = v.Deref();
  if (d.tag() == Tag::kBoolean) return d.raw_bool();
  if (d.tag() == Tag::kNull) return false;
  return ToBool(d);
}

}  // namespace

// ------------------------------------------------------------------ lookups

const LineEntry* Proc::EntryAt(int pc) const {
  auto it = std::upper_bound(lines.begin(), lines.end(), pc,
                             [](int p, const LineEntry& e) { return p < e.pc; });
  if (it == lines.begin()) return nullptr;
  return &*(it - 1);
}

int ClassInfo::FindAny(std::string_view name) const {
  auto it = by_name.find(ToLower(name));
  return it == by_name.end() ? kNoMember : it->second + 1;
}

GlobalSlot* Module::Slot(std::string_view name) {
  std::string k = ToLower(name);
  auto it = by_name.find(k);
  if (it != by_name.end()) return it->second;
  slots.emplace_back();
  GlobalSlot* s = &slots.back();
  s->module = this;
  by_name.emplace(std::move(k), s);
  return s;
}

GlobalSlot* Module::Find(std::string_view name) const {
  auto it = by_name.find(ToLower(name));
  return it == by_name.end() ? nullptr : it->second;
}

// ------------------------------------------------------------------ class instances

ClassInstance::ClassInstance(Vm* vm, std::shared_ptr<ClassInfo> cls)
    : vm_(vm), cls_(std::move(cls)) {
  fields_.resize(cls_->fields.size());
  for (size_t i = 0; i < cls_->fields.size(); ++i) {
    const FieldInit& fi = cls_->fields[i];
    if (!fi.bounds.empty() || fi.dynamic_array) {
      std::vector<ArrayDim> dims;
      for (int32_t b : fi.bounds) dims.push_back(DimFor(b));
      fields_[i] = NewArray(std::move(dims));
      fields_[i].arr()->fixed = !fi.bounds.empty();
    }
  }
  if (vm_) vm_->RegisterInstance(this);
}

ClassInstance::~ClassInstance() {
  if (vm_) vm_->UnregisterInstance(this);
}

int ClassInstance::FindMember(std::string_view name) {
  int id = cls_->FindAny(name);
  if (id > 0 && !cls_->members[id - 1].is_public) return kNoMember;
  return id;
}

Value ClassInstance::Invoke(int id, InvokeKind kind, CallArgs& args) {
  if (!vm_) Throw(kErrObjectNotSet);
  return vm_->RunMember(this, id, kind, args);
}

void ClassInstance::ClearReferences() {
  std::vector<Value> old;
  old.swap(fields_);
  fields_.resize(old.size());
}

void ClassInstance::Finalize() {
  if (!terminated_ && vm_ && cls_->terminate) {
    vm_->ScheduleTerminate(this);
    return;
  }
  delete this;
}

// ------------------------------------------------------------------ Vm

Vm::Vm(Engine* engine, EngineOptions options) : engine_(engine), options_(options) {
  // Room for the deepest call chain allowed; untouched pages cost nothing.
  size_t values = std::clamp<size_t>(static_cast<size_t>(options_.max_call_depth) * 256,
                                     size_t{1} << 16, kStackValues);
  void* mem = std::calloc(values, sizeof(Value));
  if (!mem) throw std::bad_alloc();
  stack_.reset(static_cast<Value*>(mem));
  stack_end_ = stack_.get() + values;
  frames_.reserve(static_cast<size_t>(options_.max_call_depth) + 64);
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    void* addr = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0 && size > kNativeReserve * 2) {
      stack_limit_ = static_cast<const char*>(addr) + kNativeReserve;
    }
    pthread_attr_destroy(&attr);
  }
  GetModule("Global", true);
}

Vm::~Vm() {
  Reset();
  // The stack holds only Empty values by now; release the raw block.
  Value* raw = stack_.release();
  std::free(raw);
}

void Vm::Reset() {
  if (running()) {
    // A script asked for the reset: its code keeps running on the old
    // modules, which go away when the outermost call returns.
    for (auto& m : modules_) retired_modules_.push_back(std::move(m));
    for (auto& h : host_items_) retired_hosts_.push_back(std::move(h.object));
    modules_.clear();
    host_items_.clear();
    ++host_generation_;
    GetModule("Global", true);
    return;
  }
  retired_modules_.clear();
  retired_hosts_.clear();
  // Variables go first, so Class_Terminate runs for objects they held.
  for (auto& m : modules_) {
    for (auto& s : m->slots) {
      Value v = std::move(s.value);
      s.value = Value();
    }
  }
  DrainTerminates();
  // What is left is held in reference cycles: break them without Terminate.
  std::vector<ClassInstance*> live(instances_.begin(), instances_.end());
  for (ClassInstance* c : live) {
    c->terminated_ = true;
    c->AddRef();
  }
  for (ClassInstance* c : live) c->ClearReferences();
  ReleaseTrackedObjects();
  for (ClassInstance* c : live) {
    c->Detach();
    instances_.erase(c);
    c->Release();
  }
  instances_.clear();
  modules_.clear();
  host_items_.clear();
  ++host_generation_;
  err_.Clear();
  GetModule("Global", true);
}

Module& Vm::GetModule(std::string_view name, bool create) {
  for (auto& m : modules_) {
    if (EqualsIgnoreCase(m->name, name)) return *m;
  }
  if (!create) Throw(kErrInvalidCall);
  auto m = std::make_unique<Module>();
  m->name = std::string(name);
  modules_.push_back(std::move(m));
  return *modules_.back();
}

Module* Vm::FindModule(std::string_view name) {
  for (auto& m : modules_) {
    if (EqualsIgnoreCase(m->name, name)) return m.get();
  }
  return nullptr;
}

Module* Vm::CurrentModule() {
  if (frames_.empty()) return FindModule("Global");
  return frames_.back().proc->module;
}

Value* Vm::StackTop() {
  if (frames_.empty()) return stack_.get();
  const Frame& f = frames_.back();
  return f.temps + f.proc->max_stack;
}

void Vm::CheckNativeStack() {
  char here;
  if (stack_limit_ && &here < stack_limit_) Throw(kErrOutOfStack);
}

void Vm::CheckTime() {
  budget_ = kTimeCheckInterval;
  if (has_deadline_ && std::chrono::steady_clock::now() > deadline_) Throw(kErrTimeout);
  if (options_.on_time_check) options_.on_time_check();
}

[[gnu::always_inline]] inline Frame& Vm::PushFrame(Proc* proc, Value* base, int argc, Value&& me, uint8_t pop_extra,
                     bool native) {
  if (argc != proc->nparams) Throw(kErrWrongArgs);
  if (frames_.size() >= static_cast<size_t>(options_.max_call_depth) ||
      base + proc->nlocals + proc->max_stack >= stack_end_) {
    Throw(kErrOutOfStack);
  }
  for (int i = 0; i < argc; ++i) {
    Value& a = base[i];
    if (a.IsRef() && proc->by_val[static_cast<size_t>(i)]) a = Value(a.Deref());
    if (a.tag() == Tag::kArray && a.arr()->locks > 0 && proc->by_val[static_cast<size_t>(i)]) {
      UniqueArray(a);
    }
  }
  Frame& f = frames_.emplace_back();
  f.proc = proc;
  f.base = base;
  f.temps = base + proc->nlocals;
  if (!me.IsEmpty()) f.me = std::move(me);
  f.pop_extra = pop_extra;
  f.native_entry = native;
  return f;
}

Value Vm::RunProc(Proc* proc, const Value& me, Value* args, int argc) {
  CheckNativeStack();
  bool outermost = frames_.empty();
  if (outermost) {
    started_ = std::chrono::steady_clock::now();
    SetTimeout(options_.timeout_ms);
    budget_ = kTimeCheckInterval;
    saved_limits_ = CurrentLimits();
    CurrentLimits().max_string_bytes = options_.max_string_bytes;
    CurrentLimits().max_array_elements = options_.max_array_elements;
    saved_locale_ = &CurrentLocale();
    SetCurrentLocale(*locale_);
  }
  struct LimitsRestore {
    Vm* vm;
    bool on;
    ~LimitsRestore() {
      if (!on) return;
      CurrentLimits() = vm->saved_limits_;
      SetCurrentLocale(*vm->saved_locale_);
    }
  } restore{this, outermost};
  Value* base = StackTop();
  if (base + argc + 1 >= stack_end_) Throw(kErrOutOfStack);
  for (int i = 0; i < argc; ++i) base[i] = args[i];
  try {
    PushFrame(proc, base, argc, Value(me), 0, true);
  } catch (...) {
    Clear(base, base + argc);
    throw;
  }
  ++native_depth_;
  struct DepthRestore {
    int& d;
    ~DepthRestore() { --d; }
  } dr{native_depth_};
  struct Outermost {
    Vm* vm;
    ~Outermost() {
      if (!vm->frames_.empty()) return;
      // Also when an error leaves the engine: objects the unwinding released
      // get their Class_Terminate before control returns to the host.
      if (vm->pending_) vm->DrainTerminates();
      if (!vm->retired_modules_.empty()) vm->ReleaseRetired();
    }
  } outermost_guard{this};
  Value r = Execute();
  if (frames_.empty() && pending_) DrainTerminates();
  return r;
}

Value Vm::RunMember(ClassInstance* inst, int id, InvokeKind kind, CallArgs& args) {
  ClassInfo* cls = inst->cls();
  if (id == kDefaultMember) {
    if (cls->default_member < 0) Throw(kErrNoMember);
    id = cls->default_member + 1;
  }
  if (id < 1 || id > static_cast<int>(cls->members.size())) Throw(kErrNoMember);
  ClassMember& m = cls->members[static_cast<size_t>(id - 1)];
  Value me = Value::Obj(inst);
  int argc = args.size();
  if (m.field >= 0) {
    Value& field = inst->fields()[static_cast<size_t>(m.field)];
    const bool put = kind == InvokeKind::kLet || kind == InvokeKind::kSet;
    // Indexing a field that holds neither an array nor an object: the
    // object has no such indexed member (438).
    if (argc > (put ? 1 : 0) && !field.IsArray() && !field.IsObjectOrNothing()) {
      Throw(kErrNoMember);
    }
    if (put) {
      Value v = args[argc - 1];
      if (argc == 1) {
        StoreTo(field, std::move(v), kind == InvokeKind::kSet ? kStoreSet : kStoreLet);
      } else {
        StoreIndexed(field, args.raw(), argc - 1, std::move(v),
                     kind == InvokeKind::kSet ? kStoreSet : kStoreLet);
      }
      return Value();
    }
    if (argc == 0) return field;
    return CallValue(field, args.raw(), argc, kind);
  }
  Proc* proc = nullptr;
  if (kind == InvokeKind::kLet) {
    proc = m.let ? m.let.get() : nullptr;
  } else if (kind == InvokeKind::kSet) {
    proc = m.set ? m.set.get() : nullptr;  // no Property Set: Set fails (438)
  } else {
    proc = m.method ? m.method.get() : (m.get ? m.get.get() : nullptr);
  }
  if (!proc) Throw(kErrNoMember);
  return RunProc(proc, me, args.raw(), argc);
}

void Vm::ReleaseRetired() {
  std::vector<std::unique_ptr<Module>> old;
  old.swap(retired_modules_);
  for (auto& m : old) {
    for (auto& slot : m->slots) slot.value = Value();
  }
  DrainTerminates();
  old.clear();
  retired_hosts_.clear();
}

void Vm::ScheduleTerminate(ClassInstance* inst) {
  pending_terminate_.push_back(inst);
  pending_ = true;
  if (frames_.empty()) DrainTerminates();
}

void Vm::DrainTerminates() {
  while (!pending_terminate_.empty()) {
    ClassInstance* inst = pending_terminate_.back();
    pending_terminate_.pop_back();
    inst->terminated_ = true;
    inst->AddRef();
    try {
      Value me = Value::Obj(inst);
      RunProc(inst->cls()->terminate.get(), me, nullptr, 0);
    } catch (...) {
      // An error in Class_Terminate is dropped, as on Windows.
    }
    inst->Release();
  }
  pending_ = false;
}

void Vm::SetTimeout(int milliseconds) {
  options_.timeout_ms = milliseconds;
  has_deadline_ = milliseconds > 0;
  if (has_deadline_) deadline_ = started_ + std::chrono::milliseconds(milliseconds);
}

Value Vm::HostMe() const {
  for (const auto& item : host_items_) {
    if (item.global_members) return Value::Obj(item.object.get());
  }
  return Value::Nothing();
}

bool Vm::ResolveHost(GlobalSlot* slot) {
  if (slot->host_generation == host_generation_) return slot->host_object != nullptr;
  slot->host_generation = host_generation_;
  slot->host_object = nullptr;
  slot->host_member = kNoMember;
  if (slot->name.empty()) return false;
  for (auto& item : host_items_) {
    if (EqualsIgnoreCase(item.name, slot->name)) {
      slot->host_object = item.object.get();
      return true;
    }
  }
  for (auto& item : host_items_) {
    if (!item.global_members) continue;
    int id = item.object->FindMember(slot->name);
    if (id != kNoMember) {
      slot->host_object = item.object.get();
      slot->host_member = id;
      return true;
    }
  }
  return false;
}

// ------------------------------------------------------------------ helpers

void Vm::StoreTo(Value& dst, Value&& v, uint8_t mode) {
  Value& target = dst.DerefMut();
  if (mode == kStoreLet) {
    if (v.IsObjectOrNothing()) v = ToPrimitive(v);
  } else if (mode == kStoreSet) {
    if (!v.IsObjectOrNothing()) Throw(kErrObjectRequired);
  }
  if (v.tag() == Tag::kArray && v.arr()->locks > 0) UniqueArray(v);
  target = std::move(v);
}

Value Vm::DefaultCall(Object* o, Value* args, int argc, InvokeKind kind) {
  CallArgs ca(args, argc);
  return o->Invoke(kDefaultMember, kind, ca);
}

Value Vm::CallValue(const Value& target0, Value* args, int argc, InvokeKind kind) {
  const Value& target = target0.Deref();
  // A variable named alone as a statement must hold something to call.
  const bool bare_call = argc == 0 && kind == InvokeKind::kCall;
  if (target.tag() == Tag::kArray) {
    if (bare_call) Throw(kErrTypeMismatch);
    if (argc == 0) return target;
    return ArrayElement(target.arr(), args, argc);
  }
  if (target.tag() == Tag::kObject) {
    Ref<Object> hold(target.obj());
    return DefaultCall(hold.get(), args, argc, kind);
  }
  if (target.tag() == Tag::kNothing) Throw(kErrObjectNotSet);
  if (argc == 0 && !bare_call) return target;
  Throw(kErrTypeMismatch);
}

void Vm::StoreIndexed(Value& var, Value* args, int argc, Value&& v, uint8_t mode) {
  Value& t = var.DerefMut();
  if (t.tag() == Tag::kArray) {
    ArrayObj* a = UniqueArray(t);
    size_t off = a->Offset(args, argc);
    StoreTo(a->data[off], std::move(v), mode);
    return;
  }
  if (t.tag() == Tag::kObject) {
    Ref<Object> hold(t.obj());
    std::vector<Value> all(args, args + argc);
    all.push_back(std::move(v));
    CallArgs ca(all.data(), argc + 1);
    hold->Invoke(kDefaultMember, mode == kStoreSet ? InvokeKind::kSet : InvokeKind::kLet, ca);
    return;
  }
  if (t.tag() == Tag::kNothing) Throw(kErrObjectNotSet);
  Throw(kErrTypeMismatch);
}

void Vm::ReDimVar(Value& var0, Value* bounds, int n, bool preserve) {
  Value& var = var0.DerefMut();
  // A plain ReDim of a fixed array fails before its bounds are read.
  if (!preserve && var.tag() == Tag::kArray && (var.arr()->fixed || var.arr()->locks > 0)) {
    Throw(kErrArrayLocked);
  }
  std::vector<ArrayDim> dims;
  size_t total = 1;
  for (int i = 0; i < n; ++i) {
    int32_t ub = ToLong(bounds[i]);
    dims.push_back(DimFor(ub));
    total *= static_cast<size_t>(dims.back().count);
    if (total > CurrentLimits().max_array_elements) Throw(kErrOutOfMemory);
  }
  if (var.tag() == Tag::kArray) {
    ArrayObj* old = var.arr();
    if (old->fixed || old->locks > 0) Throw(kErrArrayLocked);
    if (preserve && !old->dims.empty()) {
      if (old->dims.size() != dims.size()) Throw(kErrSubscript);
      for (size_t i = 0; i + 1 < dims.size(); ++i) {
        if (old->dims[i].count != dims[i].count) Throw(kErrSubscript);
      }
      ArrayObj* a = UniqueArray(var);
      a->dims = dims;
      a->data.resize(total);
      return;
    }
  }
  var = NewArray(std::move(dims));
}

// ------------------------------------------------------------------ errors

void Vm::UnwindTo(size_t depth, Value* sp) {
  while (frames_.size() > depth) {
    Frame& f = frames_.back();
    Clear(f.base - f.pop_extra, std::max(sp, f.temps));
    sp = f.base - f.pop_extra;
    frames_.pop_back();
  }
}

// ------------------------------------------------------------------ the interpreter

// Runs the frames above one native entry: a script call pushes a frame and
// goes on in the same loop, and the loop returns when the native-entry frame
// returns. The registers (frame, code, ip, sp, locals) live here so the
// handlers share them; the loop in Run only picks the handler for an opcode.
// The small, hot handlers are forced inline so the loop keeps its speed.
#define VBS_HOT [[gnu::always_inline]] inline

class Vm::Interpreter {
 public:
  explicit Interpreter(Vm& vm)
      : vm_(vm),
        entry_(vm.frames_.size() - 1),
        f_(&vm.frames_.back()),
        code_(f_->proc->code.data()),
        ip_(f_->ip),
        sp_(f_->temps),
        locals_(f_->base) {}

  Value Run();

 private:
  // --- Registers and the stack.
  VBS_HOT void Reload() {
    f_ = &vm_.frames_.back();
    code_ = f_->proc->code.data();
    ip_ = f_->ip;
    locals_ = f_->base;
  }
  // The slot above sp always holds Empty, so a push constructs in place
  // (no old value to release, texts and objects counted inline).
  VBS_HOT void Push(const Value& v) { (sp_++)->CopyIntoEmpty(v); }
  VBS_HOT void Push(Value&& v) { new (sp_++) Value(std::move(v)); }
  VBS_HOT Value Take() { return std::move(*--sp_); }
  VBS_HOT void Pop() { Value old(std::move(*--sp_)); }
  // Replaces the values from `from` up with the result `r`.
  VBS_HOT void PushResult(Value* from, Value&& r) {
    Clear(from, sp_);
    sp_ = from;
    *sp_++ = std::move(r);
  }
  VBS_HOT void Tick() {
    if (vm_.budget_-- <= 0) vm_.CheckTime();
  }
  VBS_HOT void Drain() {
    if (vm_.pending_) vm_.DrainTerminates();
  }
  VBS_HOT Value& Field(int i) {
    return static_cast<ClassInstance*>(f_->me.obj())->fields()[static_cast<size_t>(i)];
  }
  VBS_HOT Value& Var(const Instr& in, VarKind kind, bool store);
  VBS_HOT void Enter(Proc* p, int argc, Value&& me, uint8_t pop_extra);
  void CallSlot(GlobalSlot* s, int argc, bool statement, bool as_ref);
  void MemberCall(const Instr& in, int argc, InvokeKind kind, Value* objp, Value* valuep);
  bool Recover(ScriptError& e);

  // --- Handlers, in opcode order.
  VBS_HOT void PushConst(const Instr& in) { Push(f_->proc->consts[static_cast<size_t>(in.c)]); }
  VBS_HOT void PushInt(const Instr& in) {
    Push(in.a == static_cast<uint8_t>(Tag::kInteger) ? Value::Integer(static_cast<int16_t>(in.c))
                                                     : Value::Long(in.c));
  }
  VBS_HOT void PushEmpty() { ++sp_; }  // the stack above sp holds Empty values
  VBS_HOT void LoadLocal(const Instr& in) { Push(locals_[in.b].Deref()); }
  VBS_HOT void LoadField(const Instr& in) { Push(Field(in.b)); }
  VBS_HOT void LoadGlobal(const Instr& in, bool as_ref);
  void LoadDyn(const Instr& in, bool as_ref);
  // A variable Execute code made in this frame ("Dim b" run by Execute),
  // which the procedure's own code looks up by name.
  Value* ExecuteVar(const std::string& name) {
    FrameVars* vars = f_->execute_vars.get();
    if (!vars) return nullptr;
    for (size_t i = 0; i < vars->names.size(); ++i) {
      if (EqualsIgnoreCase(vars->names[i], name)) return &vars->values[i];
    }
    return nullptr;
  }
  VBS_HOT void Store(const Instr& in);
  VBS_HOT void RefLocal(const Instr& in);
  void RefField(const Instr& in) { Push(Value::RefTo(&Field(in.b))); }
  void CallVariable(const Instr& in);
  void CallName(const Instr& in);
  // The common case of kCallGlobal and kCallDyn, a script procedure, entered
  // without leaving the loop; false leaves the name to CallName.
  VBS_HOT bool EnterProc(const Instr& in) {
    auto* s = static_cast<GlobalSlot*>(in.p);
    if (s->kind != SlotKind::kProc) return false;
    Tick();
    Drain();
    Enter(s->proc.get(), in.d, Value(), 0);
    return true;
  }
  void RefIndex(const Instr& in);
  void StoreIndexVariable(const Instr& in);
  void Index(const Instr& in);
  void StoreIndexValue(const Instr& in);
  void GetMember(const Instr& in);
  void PutMember(const Instr& in);
  void New(const Instr& in);
  void CallBuiltin(const Instr& in);
  VBS_HOT void Append(const Instr& in);
  VBS_HOT void Add();
  VBS_HOT void Sub();
  VBS_HOT void Binary(Value (*op)(const Value&, const Value&)) {
    sp_[-2] = op(sp_[-2], sp_[-1]);
    Pop();
  }
  VBS_HOT void Unary(Value (*op)(const Value&)) { sp_[-1] = op(sp_[-1]); }
  VBS_HOT void Compare(const Instr& in);
  VBS_HOT void FusedJump(const Instr& jump, bool truth);
  VBS_HOT void Is() {
    sp_[-2] = Value::Bool(OpIs(sp_[-2], sp_[-1]));
    Pop();
  }
  VBS_HOT void Jump(const Instr& in);
  VBS_HOT void JumpIf(const Instr& in, bool when);
  void ForInit(const Instr& in);
  VBS_HOT void ForNext(const Instr& in);
  void ForEachInit(const Instr& in);
  void ForEachNext(const Instr& in);
  void ClearLocal(const Instr& in) { locals_[in.b] = Value(); }
  void OnError(const Instr& in) {
    f_->resume_next = in.a != 0;
    vm_.err_.Clear();
  }
  VBS_HOT bool Return(bool exit_proc);
  void DimArray(const Instr& in);
  void ReDim(const Instr& in);
  void Erase(const Instr& in);

  Vm& vm_;
  const size_t entry_;  // frames_ index of the native-entry frame
  Frame* f_;
  const Instr* code_;
  int ip_;
  Value* sp_;
  Value* locals_;
  Value result_;  // what the native-entry frame returned
};

Value Vm::Execute() {
  return Interpreter(*this).Run();
}

// Starts on a 64-byte line, so its timings do not move with the code
// linked before it (src/vbscript/CMakeLists.txt has the measurements' story).
[[gnu::aligned(64)]] Value Vm::Interpreter::Run() {
  while (true) {
    try {
      for (;;) {
        const Instr& in = code_[ip_++];
        // clang-format off
        switch (in.op) {
          case Opc::kPushConst: PushConst(in); break;
          case Opc::kPushInt: PushInt(in); break;
          case Opc::kPushEmpty: PushEmpty(); break;
          case Opc::kPushNull: Push(Value::Null()); break;
          case Opc::kPushNothing: Push(Value::Nothing()); break;
          case Opc::kPushTrue: Push(Value::Bool(true)); break;
          case Opc::kPushFalse: Push(Value::Bool(false)); break;
          case Opc::kPushMissing: Push(Value::Missing()); break;
          case Opc::kPushMe: Push(f_->me.IsEmpty() ? vm_.HostMe() : f_->me); break;
          case Opc::kPop: Pop(); break;
          case Opc::kLoadLocal: LoadLocal(in); break;
          case Opc::kLoadGlobal: LoadGlobal(in, false); break;
          case Opc::kLoadField: LoadField(in); break;
          case Opc::kLoadDyn: LoadDyn(in, false); break;
          case Opc::kStoreLocal:
          case Opc::kStoreGlobal:
          case Opc::kStoreField:
          case Opc::kStoreDyn: Store(in); break;
          case Opc::kRefLocal: RefLocal(in); break;
          case Opc::kRefGlobal: LoadGlobal(in, true); break;
          case Opc::kRefField: RefField(in); break;
          case Opc::kRefDyn: LoadDyn(in, true); break;
          case Opc::kCallLocal:
          case Opc::kCallField: CallVariable(in); break;
          case Opc::kCallGlobal:
          case Opc::kCallDyn: if (!EnterProc(in)) CallName(in); break;
          case Opc::kRefIndexLocal:
          case Opc::kRefIndexGlobal:
          case Opc::kRefIndexField:
          case Opc::kRefIndexDyn: RefIndex(in); break;
          case Opc::kStoreIndexLocal:
          case Opc::kStoreIndexGlobal:
          case Opc::kStoreIndexField:
          case Opc::kStoreIndexDyn: StoreIndexVariable(in); break;
          case Opc::kIndex: Index(in); break;
          case Opc::kStoreIndex: StoreIndexValue(in); break;
          case Opc::kGetMember: GetMember(in); break;
          case Opc::kPutMember: PutMember(in); break;
          case Opc::kNew: New(in); break;
          case Opc::kCallBuiltin: CallBuiltin(in); break;
          case Opc::kAppendLocal:
          case Opc::kAppendGlobal:
          case Opc::kAppendField:
          case Opc::kAppendDyn: Append(in); break;
          case Opc::kAdd: Add(); break;
          case Opc::kSub: Sub(); break;
          case Opc::kMul: Binary(OpMul); break;
          case Opc::kDiv: Binary(OpDiv); break;
          case Opc::kIntDiv: Binary(OpIntDiv); break;
          case Opc::kMod: Binary(OpMod); break;
          case Opc::kPow: Binary(OpPow); break;
          case Opc::kConcat: Binary(OpConcat); break;
          case Opc::kEq:
          case Opc::kNe:
          case Opc::kLt:
          case Opc::kLe:
          case Opc::kGt:
          case Opc::kGe: Compare(in); break;
          case Opc::kIs: Is(); break;
          case Opc::kAnd: Binary(OpAnd); break;
          case Opc::kOr: Binary(OpOr); break;
          case Opc::kXor: Binary(OpXor); break;
          case Opc::kEqv: Binary(OpEqv); break;
          case Opc::kImp: Binary(OpImp); break;
          case Opc::kNeg: Unary(OpNeg); break;
          case Opc::kNot: Unary(OpNot); break;
          case Opc::kJump: Jump(in); break;
          case Opc::kJumpFalse: JumpIf(in, false); break;
          case Opc::kJumpTrue: JumpIf(in, true); break;
          case Opc::kForInit: ForInit(in); break;
          case Opc::kForNext: ForNext(in); break;
          case Opc::kForEachInit: ForEachInit(in); break;
          case Opc::kForEachNext: ForEachNext(in); break;
          case Opc::kClearLocal: ClearLocal(in); break;
          case Opc::kOnError: OnError(in); break;
          case Opc::kExitProc:
          case Opc::kReturn:
            if (Return(in.op == Opc::kExitProc)) return std::move(result_);
            break;
          case Opc::kDimArray: DimArray(in); break;
          case Opc::kReDim: ReDim(in); break;
          case Opc::kErase: Erase(in); break;
        }
        // clang-format on
      }
    } catch (ScriptError& e) {
      if (Recover(e)) continue;
      vm_.UnwindTo(entry_, sp_);
      vm_.err_.Set(e);
      throw;
    } catch (...) {
      vm_.UnwindTo(entry_, sp_);
      throw;
    }
  }
}

// An error inside the loop: gives it its position, then looks for a frame
// with On Error Resume Next between here and the native entry. True when one
// resumes (the frames above it are gone); false leaves the error to the host.
bool Vm::Interpreter::Recover(ScriptError& e) {
  f_ = &vm_.frames_.back();
  f_->ip = ip_;
  if (e.line == 0) {
    if (const LineEntry* le = f_->proc->EntryAt(ip_ - 1)) {
      e.line = le->line;
      e.column = le->col;
    }
    e.module = f_->proc->module ? f_->proc->module->name : "";
  }
  if (e.number == kErrTimeout) return false;  // a timeout ends the script
  while (true) {
    Frame& fr = vm_.frames_.back();
    if (fr.resume_next) {
      vm_.err_.Set(e);
      Clear(fr.temps, std::max(sp_, fr.temps));
      sp_ = fr.temps;
      const LineEntry* le = fr.proc->EntryAt(fr.ip - 1);
      fr.ip = le && le->resume >= 0 ? le->resume : static_cast<int>(fr.proc->code.size()) - 1;
      Reload();
      return true;
    }
    if (vm_.frames_.size() - 1 == entry_) return false;
    Clear(fr.base - fr.pop_extra, std::max(sp_, fr.temps));
    sp_ = fr.base - fr.pop_extra;
    vm_.frames_.pop_back();
  }
}

// ------------------------------------------------------------------ names and calls

// The variable an instruction names (creating implicit globals).
Value& Vm::Interpreter::Var(const Instr& in, VarKind kind, bool store) {
  switch (kind) {
    case VarKind::kLocal:
      return locals_[in.b];
    case VarKind::kField:
      return Field(in.b);
    case VarKind::kGlobal: {
      auto* s = static_cast<GlobalSlot*>(in.p);
      if (s->kind == SlotKind::kVariable) return s->value;
      if (s->kind == SlotKind::kUndefined) {
        if (f_->proc->option_explicit) ThrowNamed(kErrUndefined, s->name);
        if (store) s->kind = SlotKind::kVariable;
        return s->value;
      }
      if (s->kind == SlotKind::kConst || s->kind == SlotKind::kProc) {
        if (store) ThrowNamed(kErrIllegalAssign, s->name);
      }
      return s->value;
    }
    case VarKind::kDyn: {
      auto* s = static_cast<GlobalSlot*>(in.p);
      if (s->kind == SlotKind::kVariable) return s->value;
      if (s->kind != SlotKind::kUndefined) {
        if (store) ThrowNamed(kErrIllegalAssign, s->name);
        return s->value;
      }
      if (Value* v = ExecuteVar(s->name)) return *v;
      if (f_->proc->option_explicit) ThrowNamed(kErrUndefined, s->name);
      return locals_[in.b];
    }
  }
  return locals_[in.b];
}

// Enters a script procedure without leaving the loop.
// The registers are set from what is known here rather than read back from
// the new frame.
void Vm::Interpreter::Enter(Proc* p, int argc, Value&& me, uint8_t pop_extra) {
  f_->ip = ip_;
  Value* base = sp_ - argc;
  f_ = &vm_.PushFrame(p, base, argc, std::move(me), pop_extra, false);
  code_ = p->code.data();
  ip_ = 0;
  locals_ = base;
  sp_ = base + p->nlocals;
}

// A name that is no variable: a procedure, a host object or member, or
// nothing at all. Consumes `argc` arguments and pushes the result, or enters
// a procedure (whose result arrives later).
void Vm::Interpreter::CallSlot(GlobalSlot* s, int argc, bool statement, bool as_ref) {
  if (s->kind == SlotKind::kProc) {
    Drain();
    Enter(s->proc.get(), argc, Value(), 0);
    return;
  }
  Value* args = sp_ - argc;
  InvokeKind kind = statement ? InvokeKind::kCall : InvokeKind::kGet;
  if (s->kind == SlotKind::kUndefined && vm_.ResolveHost(s)) {
    Ref<Object> o(s->host_object);
    if (s->host_member == kNoMember) {
      if (argc == 0 && !statement) {
        PushResult(args, Value::Obj(o.get()));
      } else {
        PushResult(args, vm_.DefaultCall(o.get(), args, argc, kind));
      }
      return;
    }
    CallArgs ca(args, argc);
    PushResult(args, o->Invoke(s->host_member, kind, ca));
    return;
  }
  if (s->kind == SlotKind::kUndefined) {
    if (argc > 0 || statement) ThrowNamed(kErrTypeMismatch, s->name);
    if (f_->proc->option_explicit) ThrowNamed(kErrUndefined, s->name);
    if (as_ref) {
      s->kind = SlotKind::kVariable;
      PushResult(args, Value::RefTo(&s->value));
    } else {
      PushResult(args, Value());
    }
    return;
  }
  if (as_ref && argc == 0 && s->kind == SlotKind::kVariable) {
    PushResult(args, Value::RefTo(&s->value));
    return;
  }
  PushResult(args, vm_.CallValue(s->value, args, argc, kind));
}

// A member call on an object; script class members run in this loop.
void Vm::Interpreter::MemberCall(const Instr& in, int argc, InvokeKind kind, Value* objp,
                                 Value* valuep) {
  const Value& ov = objp->Deref();
  const std::string& name = f_->proc->names[static_cast<size_t>(in.c)];
  if (ov.tag() != Tag::kObject) {
    // The text names the variable that should hold the object (Nothing too).
    ThrowNamed(kErrObjectRequired, in.p ? *static_cast<const std::string*>(in.p) : name);
  }
  Object* o = ov.obj();
  CallCache* cc = in.b < f_->proc->caches.size() ? &f_->proc->caches[in.b] : nullptr;
  const void* key = o->MemberTableKey();
  int id;
  bool script;
  if (cc && key && cc->key == key) {
    id = cc->id;
    script = cc->script;
  } else {
    auto* ci = dynamic_cast<ClassInstance*>(o);
    script = ci != nullptr;
    id = (ci && (in.a & kMemberPrivate)) ? ci->FindMemberAny(name) : o->FindMember(name);
    if (id == kNoMember) ThrowNamed(kErrNoMember, name);
    if (cc && key) *cc = CallCache{key, id, script};
  }
  if (script && id >= 1) {
    ClassInfo* cls = static_cast<ClassInstance*>(o)->cls();
    ClassMember& m = cls->members[static_cast<size_t>(id - 1)];
    Proc* p = nullptr;
    if (kind == InvokeKind::kLet) {
      p = m.let.get();
    } else if (kind == InvokeKind::kSet) {
      p = m.set.get();
    } else if (m.field < 0) {
      p = m.method ? m.method.get() : m.get.get();
    }
    if (p && !valuep && argc > 0 && p->nparams == 0 && p->kind == ProcKind::kPropertyGet) {
      // obj.Prop(i) on a property without parameters indexes its value.
      Value me = objp->Deref();
      f_->ip = ip_;
      Value v = vm_.RunProc(p, me, nullptr, 0);
      PushResult(objp, vm_.CallValue(v, objp + 1, argc, kind));
      return;
    }
    if (p) {
      Drain();
      // The object's slot below the arguments is cleared when the call
      // returns: the frame takes its reference over instead of a copy.
      Value me = objp->IsObject() ? std::move(*objp) : Value(objp->Deref());
      if (valuep) ++argc;  // the assigned value is the last parameter
      Enter(p, argc, std::move(me), 1);
      return;
    }
  }
  Ref<Object> hold(o);
  if (valuep) ++argc;
  CallArgs ca(objp + 1, argc);
  Value r = o->Invoke(id, kind, ca);
  PushResult(objp, std::move(r));
  // Objects the call released run their Class_Terminate now.
  Drain();
}

// ------------------------------------------------------------------ variables

// kLoadGlobal, kRefGlobal: a module-level name's value, or a reference to
// it for a ByRef argument.
void Vm::Interpreter::LoadGlobal(const Instr& in, bool as_ref) {
  auto* s = static_cast<GlobalSlot*>(in.p);
  if (s->kind == SlotKind::kVariable) {
    Push(as_ref ? Value::RefTo(&s->value) : s->value);
  } else if (s->kind == SlotKind::kConst) {
    Push(s->value);
  } else {
    CallSlot(s, 0, false, as_ref);
  }
}

// kLoadDyn, kRefDyn: as kLoadGlobal, but a name that is nothing at module
// level is one of the locals of the procedure that ran Execute or Eval.
void Vm::Interpreter::LoadDyn(const Instr& in, bool as_ref) {
  auto* s = static_cast<GlobalSlot*>(in.p);
  if (s->kind == SlotKind::kVariable) {
    Push(as_ref ? Value::RefTo(&s->value) : s->value);
  } else if (s->kind != SlotKind::kUndefined || vm_.ResolveHost(s)) {
    CallSlot(s, 0, false, as_ref);
  } else if (Value* v = ExecuteVar(s->name)) {
    Push(as_ref ? Value::RefTo(v) : *v);
  } else {
    if (f_->proc->option_explicit) ThrowNamed(kErrUndefined, s->name);
    if (as_ref) {
      RefLocal(in);
    } else {
      LoadLocal(in);
    }
  }
}

// kStoreLocal, kStoreGlobal, kStoreField, kStoreDyn.
void Vm::Interpreter::Store(const Instr& in) {
  VarKind k = static_cast<VarKind>(static_cast<int>(in.op) - static_cast<int>(Opc::kStoreLocal));
  if (k == VarKind::kGlobal || k == VarKind::kDyn) {
    auto* s = static_cast<GlobalSlot*>(in.p);
    if (s->kind == SlotKind::kUndefined && vm_.ResolveHost(s) && s->host_member != kNoMember) {
      // Assigning to a global member of a host object.
      Ref<Object> o(s->host_object);
      CallArgs ca(sp_ - 1, 1);
      o->Invoke(s->host_member, in.a == kStoreSet ? InvokeKind::kSet : InvokeKind::kLet, ca);
      Pop();
      return;
    }
  }
  Value& dst = Var(in, k, true);
  const Tag t = sp_[-1].tag();
  if (in.a != kStoreSet && t != Tag::kObject && t != Tag::kNothing && t != Tag::kArray) {
    // Numbers and texts: what StoreTo would do, without the call. The old
    // value is released last (releasing it may run a Class_Terminate).
    Value& d = dst.DerefMut();
    if (d.IsCounted()) {
      Value old(std::move(d));
      d = std::move(*--sp_);
    } else {
      d = std::move(*--sp_);
    }
    Drain();
    return;
  }
  Value v = Take();
  if (in.a == kStoreRaw) {
    dst.DerefMut() = std::move(v);
  } else {
    vm_.StoreTo(dst, std::move(v), in.a);
  }
  Drain();
}

void Vm::Interpreter::RefLocal(const Instr& in) {
  Value& l = locals_[in.b];
  Push(l.IsRef() ? l : Value::RefTo(&l));
}

// kCallLocal, kCallField: `name(args)` on a local or a field.
void Vm::Interpreter::CallVariable(const Instr& in) {
  int argc = in.d;
  Value& v = in.op == Opc::kCallLocal ? locals_[in.b] : Field(in.b);
  InvokeKind kind = (in.a & kMemberCall) ? InvokeKind::kCall : InvokeKind::kGet;
  Value r = vm_.CallValue(v, sp_ - argc, argc, kind);
  PushResult(sp_ - argc, std::move(r));
}

// kCallGlobal, kCallDyn: `name(args)` on a module-level name that is no
// script procedure (EnterProc took those).
void Vm::Interpreter::CallName(const Instr& in) {
  auto* s = static_cast<GlobalSlot*>(in.p);
  int argc = in.d;
  bool statement = (in.a & kMemberCall) != 0;
  if (in.op == Opc::kCallDyn && s->kind == SlotKind::kUndefined && !vm_.ResolveHost(s)) {
    if (f_->proc->option_explicit) ThrowNamed(kErrUndefined, s->name);
    Value& l = locals_[in.b];
    if (argc == 0 && statement && l.Deref().IsEmpty()) ThrowNamed(kErrTypeMismatch, s->name);
    Value r = vm_.CallValue(l, sp_ - argc, argc, statement ? InvokeKind::kCall : InvokeKind::kGet);
    PushResult(sp_ - argc, std::move(r));
    return;
  }
  Tick();
  if (s->kind == SlotKind::kVariable) {  // `d(key)`: an object's default member, an array
    Value r = vm_.CallValue(s->value, sp_ - argc, argc,
                            statement ? InvokeKind::kCall : InvokeKind::kGet);
    PushResult(sp_ - argc, std::move(r));
    return;
  }
  CallSlot(s, argc, statement, false);
}

// kRefIndexLocal ... kRefIndexDyn: a reference to an array element (for
// ByRef arguments), or the value `name(args)` gives.
void Vm::Interpreter::RefIndex(const Instr& in) {
  VarKind k = static_cast<VarKind>(static_cast<int>(in.op) - static_cast<int>(Opc::kRefIndexLocal));
  int argc = in.d;
  if (k == VarKind::kGlobal || k == VarKind::kDyn) {
    auto* s = static_cast<GlobalSlot*>(in.p);
    if (s->kind == SlotKind::kProc || (s->kind == SlotKind::kUndefined && vm_.ResolveHost(s))) {
      CallSlot(s, argc, false, false);
      return;
    }
  }
  Value& v = Var(in, k, false).DerefMut();
  if (v.tag() == Tag::kArray) {
    ArrayObj* a = UniqueArray(v);
    size_t off = a->Offset(sp_ - argc, argc);
    PushResult(sp_ - argc, Value::RefElem(a, static_cast<uint32_t>(off)));
  } else {
    Value r = vm_.CallValue(v, sp_ - argc, argc, InvokeKind::kGet);
    PushResult(sp_ - argc, std::move(r));
  }
}

// kStoreIndexLocal ... kStoreIndexDyn: `name(args) = value`.
void Vm::Interpreter::StoreIndexVariable(const Instr& in) {
  VarKind k =
      static_cast<VarKind>(static_cast<int>(in.op) - static_cast<int>(Opc::kStoreIndexLocal));
  int argc = in.d;
  if (k == VarKind::kGlobal || k == VarKind::kDyn) {
    auto* s = static_cast<GlobalSlot*>(in.p);
    if (s->kind == SlotKind::kUndefined && vm_.ResolveHost(s)) {
      Ref<Object> o(s->host_object);
      CallArgs ca(sp_ - argc - 1, argc + 1);
      InvokeKind kind = in.a == kStoreSet ? InvokeKind::kSet : InvokeKind::kLet;
      o->Invoke(s->host_member == kNoMember ? kDefaultMember : s->host_member, kind, ca);
      Clear(sp_ - argc - 1, sp_);
      sp_ -= argc + 1;
      return;
    }
  }
  Value& v = Var(in, k, false);
  Value val = std::move(sp_[-1]);
  vm_.StoreIndexed(v, sp_ - argc - 1, argc, std::move(val), in.a);
  Clear(sp_ - argc - 1, sp_);
  sp_ -= argc + 1;
  Drain();
}

// `value(args)` on a computed value.
void Vm::Interpreter::Index(const Instr& in) {
  int argc = in.d;
  Value* basep = sp_ - argc - 1;
  if ((in.a & kIndexRef) && basep->IsRef() && basep->Deref().IsArray()) {
    ArrayObj* a = UniqueArray(basep->DerefMut());
    size_t off = a->Offset(basep + 1, argc);
    PushResult(basep, Value::RefElem(a, static_cast<uint32_t>(off)));
    return;
  }
  Value target = std::move(*basep);
  InvokeKind kind = (in.a & kMemberCall) ? InvokeKind::kCall : InvokeKind::kGet;
  Value r = vm_.CallValue(target, basep + 1, argc, kind);
  PushResult(basep, std::move(r));
}

// `value(args) = v` on a computed value: its default member.
void Vm::Interpreter::StoreIndexValue(const Instr& in) {
  int argc = in.d;
  Value* basep = sp_ - argc - 2;
  const Value& t = basep->Deref();
  if (t.tag() == Tag::kArray && basep->IsRef()) {
    Value val = std::move(sp_[-1]);
    vm_.StoreIndexed(basep->DerefMut(), basep + 1, argc, std::move(val), in.a);
    Clear(basep, sp_);
    sp_ = basep;
    return;
  }
  // Nothing, like any value that is no object, has no element to set.
  if (t.tag() != Tag::kObject) Throw(kErrTypeMismatch);
  Ref<Object> o(t.obj());
  CallArgs ca(basep + 1, argc + 1);
  o->Invoke(kDefaultMember, in.a == kStoreSet ? InvokeKind::kSet : InvokeKind::kLet, ca);
  Clear(basep, sp_);
  sp_ = basep;
}

// `x = x & piece`, appending in place when the text is the variable's own.
void Vm::Interpreter::Append(const Instr& in) {
  VarKind k = static_cast<VarKind>(static_cast<int>(in.op) - static_cast<int>(Opc::kAppendLocal));
  Value& v = Var(in, k, true).DerefMut();
  Value piece = Take();
  if (std::string* s = v.UniqueText()) {
    AppendText(*s, piece);
    CheckStringSize(s->size());
  } else {
    v = OpConcat(v, piece);
  }
}

// ------------------------------------------------------------------ objects

void Vm::Interpreter::GetMember(const Instr& in) {
  Tick();
  int argc = in.d;
  MemberCall(in, argc, (in.a & kMemberCall) ? InvokeKind::kCall : InvokeKind::kGet, sp_ - argc - 1,
             nullptr);
}

void Vm::Interpreter::PutMember(const Instr& in) {
  int argc = in.d;
  uint8_t mode = in.a & 3;
  Value* objp = sp_ - argc - 2;
  if (mode == kStoreLet && sp_[-1].Deref().IsObjectOrNothing()) {
    // A script class's Property Let receives the object itself and decides;
    // its fields and other objects take the object's default value.
    const Value& target = objp->Deref();
    if (!(target.IsObject() && dynamic_cast<ClassInstance*>(target.obj()))) {
      sp_[-1] = ToPrimitive(sp_[-1]);
    }
  } else if (mode == kStoreSet && !sp_[-1].Deref().IsObjectOrNothing()) {
    Throw(kErrObjectRequired);
  }
  // Leaves one (empty) result, which the next instruction drops.
  MemberCall(in, argc, mode == kStoreSet ? InvokeKind::kSet : InvokeKind::kLet, objp, sp_ - 1);
}

void Vm::Interpreter::New(const Instr& in) {
  const std::string& name = f_->proc->names[static_cast<size_t>(in.c)];
  Module* m = f_->proc->module;
  std::string k = ToLower(name);
  // New RegExp is always the built-in one, even where a script declares a
  // class of that name.
  if (k == "regexp") {
    Push(vm_.CreateObject("VBScript.RegExp"));
    return;
  }
  auto it = m->classes.find(k);
  std::shared_ptr<ClassInfo> cls;
  if (it != m->classes.end()) {
    cls = it->second;
  } else if (Module* g = vm_.FindModule("Global"); g && g != m && g->classes.count(k)) {
    cls = g->classes[k];
  }
  if (!cls) {
    // The name is looked up as a variable first: under Option Explicit an
    // undeclared one is "Variable is undefined" rather than no class.
    if (f_->proc->option_explicit) {
      GlobalSlot* gs = m->Find(k);
      bool declared = gs && gs->kind != SlotKind::kUndefined;
      for (const auto& local : f_->proc->local_names) declared |= EqualsIgnoreCase(local, name);
      if (!declared) ThrowNamed(kErrUndefined, name);
    }
    ThrowNamed(kErrClassNotDefined, name);
  }
  auto* inst = new ClassInstance(&vm_, cls);
  Value obj = Value::Obj(inst);
  if (cls->initialize) {
    f_->ip = ip_;
    vm_.RunProc(cls->initialize.get(), obj, nullptr, 0);
  }
  Push(std::move(obj));
}

void Vm::Interpreter::CallBuiltin(const Instr& in) {
  int argc = in.d;
  const Builtin& b = BuiltinAt(in.c);
  if (argc < b.min_args || argc > b.max_args) ThrowNamed(kErrWrongArgs, b.name);
  f_->ip = ip_;
  CallArgs ca(sp_ - argc, argc);
  Value r = b.fn(vm_, ca);
  // Execute may have defined new names; the frame itself is unchanged.
  f_ = &vm_.frames_.back();
  Value* from = sp_ - argc;
  for (Value* v = from; v < sp_; ++v) v->Reset();
  sp_ = from;
  *sp_++ = std::move(r);
  Drain();
}

// ------------------------------------------------------------------ operators

// Integer and Long sums stay in their type while they fit, as OpAdd does;
// this is the loop counters' and accumulators' fast path.
void Vm::Interpreter::Add() {
  Value& a = sp_[-2];
  const Value& b = sp_[-1];
  if (a.tag() == Tag::kInteger && b.tag() == Tag::kInteger) {
    int64_t r = a.raw_int() + b.raw_int();
    if (r >= -32768 && r <= 32767) {
      a.SetRawInt(Tag::kInteger, r);
    } else {
      a.SetRawInt(Tag::kLong, r);
    }
  } else if ((a.tag() == Tag::kLong || a.tag() == Tag::kInteger) &&
             (b.tag() == Tag::kLong || b.tag() == Tag::kInteger)) {
    int64_t r = a.raw_int() + b.raw_int();
    if (r >= INT32_MIN && r <= INT32_MAX) {
      a.SetRawInt(Tag::kLong, r);
    } else {
      a.SetRawDouble(Tag::kDouble, static_cast<double>(r));
    }
  } else if (FastNumber(a.tag()) && FastNumber(b.tag())) {  // one of them a Double
    SetDoubleResult(a, FastDouble(a) + FastDouble(b));
  } else {
    a = OpAdd(a, b);
  }
  Pop();
}

void Vm::Interpreter::Sub() {
  Value& a = sp_[-2];
  const Value& b = sp_[-1];
  if ((a.tag() == Tag::kLong || a.tag() == Tag::kInteger) &&
      (b.tag() == Tag::kLong || b.tag() == Tag::kInteger)) {
    int64_t r = a.raw_int() - b.raw_int();
    bool both_int = a.tag() == Tag::kInteger && b.tag() == Tag::kInteger;
    if (both_int && r >= -32768 && r <= 32767) {
      a.SetRawInt(Tag::kInteger, r);
    } else if (r >= INT32_MIN && r <= INT32_MAX) {
      a.SetRawInt(Tag::kLong, r);
    } else {
      a.SetRawDouble(Tag::kDouble, static_cast<double>(r));
    }
  } else if (FastNumber(a.tag()) && FastNumber(b.tag())) {  // one of them a Double
    SetDoubleResult(a, FastDouble(a) - FastDouble(b));
  } else {
    a = OpSub(a, b);
  }
  Pop();
}

// kEq ... kGe; a: which side is a literal.
void Vm::Interpreter::Compare(const Instr& in) {
  Value& a = sp_[-2];
  const Value& b = sp_[-1];
  int c;
  if (a.tag() >= Tag::kBoolean && a.tag() <= Tag::kLong && b.tag() >= Tag::kBoolean &&
      b.tag() <= Tag::kLong) {
    c = a.raw_int() < b.raw_int() ? -1 : (a.raw_int() > b.raw_int() ? 1 : 0);
  } else {
    c = CompareValues(a, b, false, static_cast<Literal>(in.a));
  }
  const Instr& next = code_[ip_];
  if (c == kCompareNull) {
    if (next.op == Opc::kJumpFalse || next.op == Opc::kJumpTrue) {
      FusedJump(next, false);  // Null counts as False
      return;
    }
    a = Value::Null();
  } else {
    bool r = false;
    switch (in.op) {
      case Opc::kEq:
        r = c == 0;
        break;
      case Opc::kNe:
        r = c != 0;
        break;
      case Opc::kLt:
        r = c < 0;
        break;
      case Opc::kLe:
        r = c <= 0;
        break;
      case Opc::kGt:
        r = c > 0;
        break;
      default:
        r = c >= 0;
        break;
    }
    if (next.op == Opc::kJumpFalse || next.op == Opc::kJumpTrue) {
      FusedJump(next, r);
      return;
    }
    a = Value::Bool(r);
  }
  Pop();
}

// A comparison followed by the jump that tests it (If, While, Until): the
// jump is taken here rather than through a Boolean on the stack.
void Vm::Interpreter::FusedJump(const Instr& jump, bool truth) {
  Pop();
  Pop();
  ++ip_;
  if (truth == (jump.op == Opc::kJumpTrue)) {
    if (jump.c < ip_) Tick();
    ip_ = jump.c;
  }
}

// ------------------------------------------------------------------ control

// A jump backwards is a loop turning: time to check the clock and to run
// Class_Terminate for objects the last pass released.
void Vm::Interpreter::Jump(const Instr& in) {
  if (in.c < ip_) {
    Tick();
    Drain();
  }
  ip_ = in.c;
}

// kJumpFalse, kJumpTrue: pops the condition; Null counts as False.
void Vm::Interpreter::JumpIf(const Instr& in, bool when) {
  Value v = Take();
  if (Truth(v) == when) {
    if (in.c < ip_) Tick();
    ip_ = in.c;
  }
}

// For: the end and the step go to two hidden locals at d and d + 1.
void Vm::Interpreter::ForInit(const Instr& in) {
  Value step = ToNumber(sp_[-1]);
  Value to = ToNumber(sp_[-2]);
  Value from = ToNumber(sp_[-3]);
  Clear(sp_ - 3, sp_);
  sp_ -= 3;
  locals_[in.d] = std::move(to);
  locals_[in.d + 1] = std::move(step);
  Value& v = Var(in, static_cast<VarKind>(in.a), true);
  v.DerefMut() = std::move(from);
  if (!ForContinues(v, locals_[in.d], locals_[in.d + 1])) ip_ = in.c;
}

void Vm::Interpreter::ForNext(const Instr& in) {
  Tick();
  // The end left Empty: the head failed and the loop never started.
  if (locals_[in.d].tag() == Tag::kEmpty) Throw(kErrForNotInit);
  Value& v = Var(in, static_cast<VarKind>(in.a), true).DerefMut();
  const Value& step = locals_[in.d + 1];
  const Value& to = locals_[in.d];
  if ((v.tag() == Tag::kInteger || v.tag() == Tag::kLong) &&
      (step.tag() == Tag::kInteger || step.tag() == Tag::kLong) && step.tag() <= v.tag()) {
    int64_t r = v.raw_int() + step.raw_int();
    bool fits =
        v.tag() == Tag::kInteger ? (r >= -32768 && r <= 32767) : (r >= INT32_MIN && r <= INT32_MAX);
    if (fits) {
      v.SetRawInt(v.tag(), r);
    } else {
      v = OpAdd(v, step);
    }
  } else {
    v = OpAdd(v, step);
  }
  if (ForContinues(v, to, step)) ip_ = in.c;
  Drain();
}

// For Each: the running enumerator goes to the hidden local d.
void Vm::Interpreter::ForEachInit(const Instr& in) {
  Value coll = Take();
  const Value& c = coll.Deref();
  std::unique_ptr<Enumerator> e;
  if (c.tag() == Tag::kArray) {
    locals_[in.d] = Value::Obj(new EnumHolder(c));
    return;
  }
  if (c.tag() == Tag::kObject) {
    Ref<Object> o(c.obj());
    e = o->NewEnum();
    if (!e) Throw(kErrNotCollection);
  } else if (c.tag() == Tag::kNothing) {
    Throw(kErrObjectNotSet);
  } else {
    Throw(kErrNotCollection);
  }
  locals_[in.d] = Value::Obj(new EnumHolder(std::move(e)));
}

void Vm::Interpreter::ForEachNext(const Instr& in) {
  Tick();
  Drain();
  if (locals_[in.d].tag() != Tag::kObject) Throw(kErrNotCollection);
  auto* h = static_cast<EnumHolder*>(locals_[in.d].obj());
  if (h->NextInto(*sp_)) {
    ++sp_;
  } else {
    ip_ = in.c;
  }
}

// kReturn, kExitProc (which also clears Err). True when the frame that
// returned is the native entry: its result is in result_ then.
bool Vm::Interpreter::Return(bool exit_proc) {
  if (exit_proc) vm_.err_.Clear();
  Value result;
  if (f_->proc->ret_slot >= 0) result = std::move(locals_[f_->proc->ret_slot].DerefMut());
  Value* low = f_->base - f_->pop_extra;
  Clear(low, std::max(sp_, f_->temps));
  bool native = f_->native_entry;
  vm_.frames_.pop_back();
  if (native) {
    if (vm_.pending_ && !vm_.frames_.empty()) vm_.DrainTerminates();
    result_ = std::move(result);
    return true;
  }
  Reload();
  sp_ = low;
  Push(std::move(result));
  Drain();
  return false;
}

// ------------------------------------------------------------------ arrays

void Vm::Interpreter::DimArray(const Instr& in) {
  int n = in.d;
  Value& v = Var(in, static_cast<VarKind>(in.a), true);
  if (v.Deref().IsArray()) {
    // The Dim ran before (in a loop, say): its array stays as it is.
  } else if (n == 0) {
    v = NewArray({});
  } else {
    std::vector<ArrayDim> dims;
    for (int i = 0; i < n; ++i) dims.push_back(DimFor(ToLong(sp_[i - n])));
    Value a = NewArray(std::move(dims));
    a.arr()->fixed = true;
    v.DerefMut() = std::move(a);
  }
  Clear(sp_ - n, sp_);
  sp_ -= n;
}

void Vm::Interpreter::ReDim(const Instr& in) {
  int n = in.d;
  Value& v = Var(in, static_cast<VarKind>(in.a), true);
  vm_.ReDimVar(v, sp_ - n, n, in.c != 0);
  Clear(sp_ - n, sp_);
  sp_ -= n;
}

void Vm::Interpreter::Erase(const Instr& in) {
  Value& v = Var(in, static_cast<VarKind>(in.a), true).DerefMut();
  if (v.tag() != Tag::kArray) Throw(kErrTypeMismatch);
  ArrayObj* a = v.arr();
  if (a->locks > 0) Throw(kErrArrayLocked);
  if (a->fixed) {
    a = UniqueArray(v);
    for (auto& e : a->data) e = Value();
  } else {
    v = NewArray({});
  }
  Drain();
}

#undef VBS_HOT

// ------------------------------------------------------------------ host-facing

void Vm::AddCode(Module& m, std::string_view code) {
  ProgramAst ast = ParseProgram(code);
  std::shared_ptr<Proc> main = CompileProgram(*this, m, ast);
  RunProc(main.get(), Value(), nullptr, 0);
}

Value Vm::CallByName(Module& m, std::string_view name, Value* args, int argc) {
  GlobalSlot* s = m.Find(name);
  if (!s || s->kind != SlotKind::kProc) ThrowNamed(kErrNotDefined, name);
  std::shared_ptr<Proc> keep = s->proc;
  return RunProc(keep.get(), Value(), args, argc);
}

Value Vm::EvalText(Module& m, std::string_view text) {
  ExprPtr e = ParseExpressionText(text);
  auto outer = std::make_shared<Proc>();
  outer->module = &m;
  auto p = vbs::CompileSnippet(*this, m, outer.get(), nullptr, nullptr, e.get());
  return RunProc(p.get(), Value(), nullptr, 0);
}

namespace {

// The arguments of Execute/Eval code run in `caller`: references to its
// locals, then to the variables earlier Execute code made in its frame, in
// the order CompileSnippet declares them.
std::vector<Value> SnippetArgs(Frame& caller) {
  std::vector<Value> refs;
  Value* base = caller.base;
  for (size_t i = 0; i < caller.proc->local_names.size(); ++i) {
    refs.push_back(base[i].IsRef() ? base[i] : Value::RefTo(&base[i]));
  }
  if (caller.execute_vars) {
    for (auto& v : caller.execute_vars->values) refs.push_back(Value::RefTo(&v));
  }
  return refs;
}

// Names Execute code declares or assigns that the caller does not have
// become variables of the caller's frame. True when there were any.
bool AdoptSnippetNames(Frame& caller, const Proc& snippet) {
  bool added = false;
  for (size_t i = static_cast<size_t>(snippet.nparams); i < snippet.local_names.size(); ++i) {
    const std::string& n = snippet.local_names[i];
    if (n.empty()) continue;
    if (!caller.execute_vars) caller.execute_vars = std::make_unique<FrameVars>();
    FrameVars& vars = *caller.execute_vars;
    vars.names.push_back(n);
    vars.looked_up.push_back(std::find(snippet.dyn_slots.begin(), snippet.dyn_slots.end(),
                                       static_cast<int>(i)) != snippet.dyn_slots.end());
    vars.values.emplace_back();
    added = true;
  }
  return added;
}

}  // namespace

void Vm::ExecuteText(std::string_view text, bool global) {
  Module* m = CurrentModule();
  if (global || frames_.empty() || frames_.back().proc->is_main) {
    // Code at the top level of the module.
    ProgramAst ast = ParseProgram(text);
    std::shared_ptr<Proc> main = CompileProgram(*this, *m, ast);
    RunProc(main.get(), Value(), nullptr, 0);
    return;
  }
  Frame& caller = frames_.back();
  ProgramAst ast = ParseProgram(text);
  if (!ast.procs.empty() || !ast.classes.empty()) {
    // Definitions always go to the module.
    ProgramAst defs;
    defs.procs = std::move(ast.procs);
    defs.classes = std::move(ast.classes);
    CompileProgram(*this, *m, defs);
  }
  Proc* outer = caller.proc;
  auto p = vbs::CompileSnippet(*this, *m, outer, caller.execute_vars.get(), &ast, nullptr);
  if (AdoptSnippetNames(caller, *p)) {
    p = vbs::CompileSnippet(*this, *m, outer, caller.execute_vars.get(), &ast, nullptr);
  }
  std::vector<Value> refs = SnippetArgs(caller);
  Value me = caller.me;
  RunProc(p.get(), me, refs.data(), static_cast<int>(refs.size()));
}

Value Vm::EvalInScope(std::string_view text) {
  Module* m = CurrentModule();
  ExprPtr e = ParseExpressionText(text);
  if (frames_.empty() || frames_.back().proc->is_main) {
    auto outer = std::make_shared<Proc>();
    outer->module = m;
    auto p = vbs::CompileSnippet(*this, *m, outer.get(), nullptr, nullptr, e.get());
    return RunProc(p.get(), Value(), nullptr, 0);
  }
  Frame& caller = frames_.back();
  auto p = vbs::CompileSnippet(*this, *m, caller.proc, caller.execute_vars.get(), nullptr, e.get());
  std::vector<Value> refs = SnippetArgs(caller);
  Value me = caller.me;
  return RunProc(p.get(), me, refs.data(), static_cast<int>(refs.size()));
}

Value Vm::GetRef(std::string_view name) {
  Module* m = CurrentModule();
  GlobalSlot* s = m->Find(name);
  if (!s || s->kind != SlotKind::kProc) Throw(kErrInvalidCall);
  return Value::Obj(new ProcRef(this, s->proc));
}

void Vm::Log(std::string_view kind, std::string_view text) {
  if (engine_ && engine_->log_sink()) engine_->log_sink()(kind, text);
}

}  // namespace corvane::vbs
