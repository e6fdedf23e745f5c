#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

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
class ArrayEnum : public Enumerator {
 public:
  explicit ArrayEnum(Value arr) : arr_(std::move(arr)) {}
  bool Next(Value& out) override {
    ArrayObj* a = arr_.arr();
    if (i_ >= a->data.size()) return false;
    out = a->data[i_++];
    return true;
  }

 private:
  Value arr_;
  size_t i_ = 0;
};

// Holds a running For Each in a hidden local.
class EnumHolder : public Object {
 public:
  explicit EnumHolder(std::unique_ptr<Enumerator> e) : e_(std::move(e)) {}
  std::string TypeName() const override { return "Enumerator"; }
  int FindMember(std::string_view) override { return kNoMember; }
  Value Invoke(int, InvokeKind, CallArgs&) override { Throw(kErrNoMember); }
  Enumerator* get() { return e_.get(); }

 private:
  std::unique_ptr<Enumerator> e_;
};

// The dimension for an upper bound given in Dim or ReDim: -1 gives an empty
// dimension; more elements than the limit allows is "Out of memory".
ArrayDim DimFor(int32_t upper) {
  if (upper < -1) Throw(kErrSubscript);
  if (static_cast<int64_t>(upper) + 1 > static_cast<int64_t>(CurrentLimits().max_array_elements)) {
    Throw(kErrOutOfMemory);
  }
  return ArrayDim{0, upper + 1};
}

inline void Clear(Value* from, Value* to) {
  for (Value* v = from; v < to; ++v) {
    if (!v->IsEmpty()) *v = Value();
  }
}

bool ForContinues(const Value& var, const Value& to, const Value& step) {
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

void Vm::PushFrame(Proc* proc, Value* base, int argc, const Value& me, uint8_t pop_extra,
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
  frames_.push_back(Frame{proc, 0, base, base + proc->nlocals, me, pop_extra, false, native});
}

Value Vm::RunProc(Proc* proc, const Value& me, Value* args, int argc) {
  CheckNativeStack();
  bool outermost = frames_.empty();
  if (outermost) {
    if (options_.timeout_ms > 0) {
      has_deadline_ = true;
      deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.timeout_ms);
    } else {
      has_deadline_ = false;
    }
    budget_ = kTimeCheckInterval;
    saved_limits_ = CurrentLimits();
    CurrentLimits().max_string_bytes = options_.max_string_bytes;
    CurrentLimits().max_array_elements = options_.max_array_elements;
  }
  struct LimitsRestore {
    Vm* vm;
    bool on;
    ~LimitsRestore() {
      if (on) CurrentLimits() = vm->saved_limits_;
    }
  } restore{this, outermost};
  Value* base = StackTop();
  if (base + argc + 1 >= stack_end_) Throw(kErrOutOfStack);
  for (int i = 0; i < argc; ++i) base[i] = args[i];
  try {
    PushFrame(proc, base, argc, me, 0, true);
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
    if (kind == InvokeKind::kLet || kind == InvokeKind::kSet) {
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
    proc = m.set ? m.set.get() : (m.let ? m.let.get() : nullptr);
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
  if (target.tag() == Tag::kArray) {
    if (argc == 0) return target;
    return ArrayElement(target.arr(), args, argc);
  }
  if (target.tag() == Tag::kObject) {
    Ref<Object> hold(target.obj());
    return DefaultCall(hold.get(), args, argc, kind);
  }
  if (target.tag() == Tag::kNothing) Throw(kErrObjectNotSet);
  if (argc == 0) return target;
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

#define VBS_POP() (*--sp)

Value Vm::Execute() {
  const size_t entry = frames_.size() - 1;
  Frame* f = &frames_.back();
  Value* sp = f->temps;
  const Instr* code = f->proc->code.data();
  int ip = f->ip;
  Value* locals = f->base;

  auto reload = [&]() {
    f = &frames_.back();
    code = f->proc->code.data();
    ip = f->ip;
    locals = f->base;
  };
  // Enters a script procedure without leaving the loop.
  auto enter = [&](Proc* p, int argc, const Value& me, uint8_t pop_extra) {
    f->ip = ip;
    PushFrame(p, sp - argc, argc, me, pop_extra, false);
    reload();
    sp = f->temps;
  };
  auto field = [&](int i) -> Value& {
    return static_cast<ClassInstance*>(f->me.obj())->fields()[static_cast<size_t>(i)];
  };
  // The variable an instruction names (creating implicit globals).
  auto var = [&](const Instr& in, VarKind kind, bool store) -> Value& {
    switch (kind) {
      case VarKind::kLocal:
        return locals[in.b];
      case VarKind::kField:
        return field(in.b);
      case VarKind::kGlobal: {
        auto* s = static_cast<GlobalSlot*>(in.p);
        if (s->kind == SlotKind::kVariable) return s->value;
        if (s->kind == SlotKind::kUndefined) {
          if (f->proc->option_explicit) ThrowNamed(kErrUndefined, s->name);
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
        if (f->proc->option_explicit) ThrowNamed(kErrUndefined, s->name);
        return locals[in.b];
      }
    }
    return locals[in.b];
  };
  auto push_result = [&](Value* from, Value&& r) {
    Clear(from, sp);
    sp = from;
    *sp++ = std::move(r);
  };
  // A name that is no variable: a procedure, a host object or member, or
  // nothing at all. Consumes `argc` arguments and pushes the result, or enters
  // a procedure (whose result arrives later).
  auto call_slot = [&](GlobalSlot* s, int argc, bool statement, bool as_ref) {
    if (s->kind == SlotKind::kProc) {
      if (pending_) DrainTerminates();
      enter(s->proc.get(), argc, Value(), 0);
      return;
    }
    Value* args = sp - argc;
    if (s->kind == SlotKind::kUndefined && ResolveHost(s)) {
      Ref<Object> o(s->host_object);
      InvokeKind kind = statement ? InvokeKind::kCall : InvokeKind::kGet;
      if (s->host_member == kNoMember) {
        if (argc == 0 && !statement) {
          push_result(args, Value::Obj(o.get()));
        } else {
          push_result(args, DefaultCall(o.get(), args, argc, kind));
        }
        return;
      }
      CallArgs ca(args, argc);
      push_result(args, o->Invoke(s->host_member, kind, ca));
      return;
    }
    if (s->kind == SlotKind::kUndefined) {
      if (argc > 0 || statement) ThrowNamed(kErrTypeMismatch, s->name);
      if (f->proc->option_explicit) ThrowNamed(kErrUndefined, s->name);
      if (as_ref) {
        s->kind = SlotKind::kVariable;
        push_result(args, Value::RefTo(&s->value));
      } else {
        push_result(args, Value());
      }
      return;
    }
    if (as_ref && argc == 0 && s->kind == SlotKind::kVariable) {
      push_result(args, Value::RefTo(&s->value));
      return;
    }
    push_result(args,
                CallValue(s->value, args, argc, statement ? InvokeKind::kCall : InvokeKind::kGet));
  };

  // A member call on an object; script class members run in this loop.
  auto member_call = [&](const Instr& in, int argc, InvokeKind kind, Value* objp, Value* valuep) {
    const Value& ov = objp->Deref();
    const std::string& name = f->proc->names[static_cast<size_t>(in.c)];
    if (ov.tag() != Tag::kObject) {
      if (ov.tag() == Tag::kNothing) Throw(kErrObjectNotSet);
      ThrowNamed(kErrObjectRequired, name);
    }
    Object* o = ov.obj();
    CallCache* cc = in.b < f->proc->caches.size() ? &f->proc->caches[in.b] : nullptr;
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
        p = m.set ? m.set.get() : m.let.get();
      } else if (m.field < 0) {
        p = m.method ? m.method.get() : m.get.get();
      }
      if (p && !valuep && argc > 0 && p->nparams == 0 && p->kind == ProcKind::kPropertyGet) {
        // obj.Prop(i) on a property without parameters indexes its value.
        Value me = objp->Deref();
        f->ip = ip;
        Value v = RunProc(p, me, nullptr, 0);
        push_result(objp, CallValue(v, objp + 1, argc, kind));
        return;
      }
      if (p) {
        if (pending_) DrainTerminates();
        Value me = objp->Deref();
        if (valuep) ++argc;  // the assigned value is the last parameter
        enter(p, argc, me, 1);
        return;
      }
    }
    Ref<Object> hold(o);
    if (valuep) ++argc;
    CallArgs ca(objp + 1, argc);
    Value r = o->Invoke(id, kind, ca);
    push_result(objp, std::move(r));
    // Objects the call released run their Class_Terminate now.
    if (pending_) DrainTerminates();
  };

  while (true) {
    try {
      for (;;) {
        const Instr& in = code[ip++];
        switch (in.op) {
          case Opc::kPushConst:
            *sp++ = f->proc->consts[static_cast<size_t>(in.c)];
            break;
          case Opc::kPushInt:
            *sp++ = in.a == static_cast<uint8_t>(Tag::kInteger)
                        ? Value::Integer(static_cast<int16_t>(in.c))
                        : Value::Long(in.c);
            break;
          case Opc::kPushEmpty:
            ++sp;
            break;
          case Opc::kPushNull:
            *sp++ = Value::Null();
            break;
          case Opc::kPushNothing:
            *sp++ = Value::Nothing();
            break;
          case Opc::kPushTrue:
            *sp++ = Value::Bool(true);
            break;
          case Opc::kPushFalse:
            *sp++ = Value::Bool(false);
            break;
          case Opc::kPushMissing:
            *sp++ = Value::Missing();
            break;
          case Opc::kPushMe:
            *sp++ = f->me;
            break;
          case Opc::kPop:
            VBS_POP() = Value();
            break;

          case Opc::kLoadLocal:
            *sp++ = locals[in.b].Deref();
            break;
          case Opc::kLoadField:
            *sp++ = field(in.b);
            break;
          case Opc::kLoadGlobal: {
            auto* s = static_cast<GlobalSlot*>(in.p);
            if (s->kind == SlotKind::kVariable || s->kind == SlotKind::kConst) {
              *sp++ = s->value;
            } else {
              call_slot(s, 0, false, false);
            }
            break;
          }
          case Opc::kLoadDyn: {
            auto* s = static_cast<GlobalSlot*>(in.p);
            if (s->kind == SlotKind::kVariable) {
              *sp++ = s->value;
            } else if (s->kind != SlotKind::kUndefined || ResolveHost(s)) {
              call_slot(s, 0, false, false);
            } else {
              if (f->proc->option_explicit) ThrowNamed(kErrUndefined, s->name);
              *sp++ = locals[in.b].Deref();
            }
            break;
          }
          case Opc::kStoreLocal:
          case Opc::kStoreGlobal:
          case Opc::kStoreField:
          case Opc::kStoreDyn: {
            VarKind k =
                static_cast<VarKind>(static_cast<int>(in.op) - static_cast<int>(Opc::kStoreLocal));
            if (k == VarKind::kGlobal || k == VarKind::kDyn) {
              auto* s = static_cast<GlobalSlot*>(in.p);
              if (s->kind == SlotKind::kUndefined && ResolveHost(s) &&
                  s->host_member != kNoMember) {
                // Assigning to a global member of a host object.
                Ref<Object> o(s->host_object);
                CallArgs ca(sp - 1, 1);
                o->Invoke(s->host_member, in.a == kStoreSet ? InvokeKind::kSet : InvokeKind::kLet,
                          ca);
                VBS_POP() = Value();
                break;
              }
            }
            Value& dst = var(in, k, true);
            Value v = std::move(VBS_POP());
            if (in.a == kStoreRaw) {
              dst.DerefMut() = std::move(v);
            } else {
              StoreTo(dst, std::move(v), in.a);
            }
            if (pending_) DrainTerminates();
            break;
          }
          case Opc::kRefLocal:
            if (locals[in.b].IsRef()) {
              *sp++ = locals[in.b];
            } else {
              *sp++ = Value::RefTo(&locals[in.b]);
            }
            break;
          case Opc::kRefField:
            *sp++ = Value::RefTo(&field(in.b));
            break;
          case Opc::kRefGlobal: {
            auto* s = static_cast<GlobalSlot*>(in.p);
            if (s->kind == SlotKind::kVariable) {
              *sp++ = Value::RefTo(&s->value);
            } else if (s->kind == SlotKind::kConst) {
              *sp++ = s->value;
            } else {
              call_slot(s, 0, false, true);
            }
            break;
          }
          case Opc::kRefDyn: {
            auto* s = static_cast<GlobalSlot*>(in.p);
            if (s->kind == SlotKind::kVariable) {
              *sp++ = Value::RefTo(&s->value);
            } else if (s->kind != SlotKind::kUndefined || ResolveHost(s)) {
              call_slot(s, 0, false, true);
            } else {
              if (f->proc->option_explicit) ThrowNamed(kErrUndefined, s->name);
              Value& l = locals[in.b];
              *sp++ = l.IsRef() ? l : Value::RefTo(&l);
            }
            break;
          }

          case Opc::kCallLocal:
          case Opc::kCallField: {
            int argc = in.d;
            Value& v = in.op == Opc::kCallLocal ? locals[in.b] : field(in.b);
            InvokeKind kind = (in.a & kMemberCall) ? InvokeKind::kCall : InvokeKind::kGet;
            Value r = CallValue(v, sp - argc, argc, kind);
            push_result(sp - argc, std::move(r));
            break;
          }
          case Opc::kCallGlobal:
          case Opc::kCallDyn: {
            auto* s = static_cast<GlobalSlot*>(in.p);
            int argc = in.d;
            bool statement = (in.a & kMemberCall) != 0;
            if (in.op == Opc::kCallDyn && s->kind == SlotKind::kUndefined && !ResolveHost(s)) {
              if (f->proc->option_explicit) ThrowNamed(kErrUndefined, s->name);
              Value& l = locals[in.b];
              if (argc == 0 && statement && l.Deref().IsEmpty())
                ThrowNamed(kErrTypeMismatch, s->name);
              Value r =
                  CallValue(l, sp - argc, argc, statement ? InvokeKind::kCall : InvokeKind::kGet);
              push_result(sp - argc, std::move(r));
              break;
            }
            if (budget_-- <= 0) CheckTime();
            call_slot(s, argc, statement, false);
            break;
          }
          case Opc::kRefIndexLocal:
          case Opc::kRefIndexGlobal:
          case Opc::kRefIndexField:
          case Opc::kRefIndexDyn: {
            VarKind k = static_cast<VarKind>(static_cast<int>(in.op) -
                                             static_cast<int>(Opc::kRefIndexLocal));
            int argc = in.d;
            if (k == VarKind::kGlobal || k == VarKind::kDyn) {
              auto* s = static_cast<GlobalSlot*>(in.p);
              if (s->kind == SlotKind::kProc ||
                  (s->kind == SlotKind::kUndefined && ResolveHost(s))) {
                call_slot(s, argc, false, false);
                break;
              }
            }
            Value& v = var(in, k, false).DerefMut();
            if (v.tag() == Tag::kArray) {
              ArrayObj* a = UniqueArray(v);
              size_t off = a->Offset(sp - argc, argc);
              push_result(sp - argc, Value::RefElem(a, static_cast<uint32_t>(off)));
            } else {
              Value r = CallValue(v, sp - argc, argc, InvokeKind::kGet);
              push_result(sp - argc, std::move(r));
            }
            break;
          }
          case Opc::kStoreIndexLocal:
          case Opc::kStoreIndexGlobal:
          case Opc::kStoreIndexField:
          case Opc::kStoreIndexDyn: {
            VarKind k = static_cast<VarKind>(static_cast<int>(in.op) -
                                             static_cast<int>(Opc::kStoreIndexLocal));
            int argc = in.d;
            if (k == VarKind::kGlobal || k == VarKind::kDyn) {
              auto* s = static_cast<GlobalSlot*>(in.p);
              if (s->kind == SlotKind::kUndefined && ResolveHost(s)) {
                Ref<Object> o(s->host_object);
                CallArgs ca(sp - argc - 1, argc + 1);
                InvokeKind kind = in.a == kStoreSet ? InvokeKind::kSet : InvokeKind::kLet;
                if (s->host_member == kNoMember) {
                  o->Invoke(kDefaultMember, kind, ca);
                } else {
                  o->Invoke(s->host_member, kind, ca);
                }
                Clear(sp - argc - 1, sp);
                sp -= argc + 1;
                break;
              }
            }
            Value& v = var(in, k, false);
            Value val = std::move(sp[-1]);
            StoreIndexed(v, sp - argc - 1, argc, std::move(val), in.a);
            Clear(sp - argc - 1, sp);
            sp -= argc + 1;
            if (pending_) DrainTerminates();
            break;
          }
          case Opc::kIndex: {
            int argc = in.d;
            Value* basep = sp - argc - 1;
            Value target = std::move(*basep);
            InvokeKind kind = (in.a & kMemberCall) ? InvokeKind::kCall : InvokeKind::kGet;
            Value r = CallValue(target, basep + 1, argc, kind);
            push_result(basep, std::move(r));
            break;
          }
          case Opc::kStoreIndex: {
            int argc = in.d;
            Value* basep = sp - argc - 2;
            const Value& t = basep->Deref();
            if (t.tag() != Tag::kObject)
              Throw(t.tag() == Tag::kNothing ? kErrObjectNotSet : kErrTypeMismatch);
            Ref<Object> o(t.obj());
            CallArgs ca(basep + 1, argc + 1);
            o->Invoke(kDefaultMember, in.a == kStoreSet ? InvokeKind::kSet : InvokeKind::kLet, ca);
            Clear(basep, sp);
            sp = basep;
            break;
          }
          case Opc::kGetMember: {
            if (budget_-- <= 0) CheckTime();
            int argc = in.d;
            member_call(in, argc, (in.a & kMemberCall) ? InvokeKind::kCall : InvokeKind::kGet,
                        sp - argc - 1, nullptr);
            break;
          }
          case Opc::kPutMember: {
            int argc = in.d;
            uint8_t mode = in.a & 3;
            Value* objp = sp - argc - 2;
            if (mode == kStoreLet && sp[-1].Deref().IsObjectOrNothing()) {
              sp[-1] = ToPrimitive(sp[-1]);
            } else if (mode == kStoreSet && !sp[-1].Deref().IsObjectOrNothing()) {
              Throw(kErrObjectRequired);
            }
            // Leaves one (empty) result, which the next instruction drops.
            member_call(in, argc, mode == kStoreSet ? InvokeKind::kSet : InvokeKind::kLet, objp,
                        sp - 1);
            break;
          }
          case Opc::kNew: {
            const std::string& name = f->proc->names[static_cast<size_t>(in.c)];
            Module* m = f->proc->module;
            std::string k = ToLower(name);
            auto it = m->classes.find(k);
            std::shared_ptr<ClassInfo> cls;
            if (it != m->classes.end()) {
              cls = it->second;
            } else if (Module* g = FindModule("Global"); g && g != m && g->classes.count(k)) {
              cls = g->classes[k];
            }
            if (!cls) {
              if (k == "regexp") {
                *sp++ = CreateObject("VBScript.RegExp");
                break;
              }
              ThrowNamed(kErrClassNotDefined, name);
            }
            auto* inst = new ClassInstance(this, cls);
            Value obj = Value::Obj(inst);
            if (cls->initialize) {
              f->ip = ip;
              RunProc(cls->initialize.get(), obj, nullptr, 0);
            }
            *sp++ = std::move(obj);
            break;
          }
          case Opc::kCallBuiltin: {
            int argc = in.d;
            const Builtin& b = BuiltinAt(in.c);
            if (argc < b.min_args || argc > b.max_args) ThrowNamed(kErrWrongArgs, b.name);
            f->ip = ip;
            CallArgs ca(sp - argc, argc);
            Value r = b.fn(*this, ca);
            // Execute may have defined new names; the frame itself is unchanged.
            f = &frames_.back();
            push_result(sp - argc, std::move(r));
            if (pending_) DrainTerminates();
            break;
          }
          case Opc::kAppendLocal:
          case Opc::kAppendGlobal:
          case Opc::kAppendField:
          case Opc::kAppendDyn: {
            VarKind k =
                static_cast<VarKind>(static_cast<int>(in.op) - static_cast<int>(Opc::kAppendLocal));
            Value& v = var(in, k, true).DerefMut();
            Value piece = std::move(VBS_POP());
            if (std::string* s = v.UniqueText()) {
              AppendText(*s, piece);
              CheckStringSize(s->size());
            } else {
              v = OpConcat(v, piece);
            }
            break;
          }

          case Opc::kAdd: {
            Value& a = sp[-2];
            const Value& b = sp[-1];
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
            } else if (a.tag() == Tag::kDouble && b.tag() == Tag::kDouble) {
              a.SetRawDouble(Tag::kDouble, a.raw_double() + b.raw_double());
            } else {
              a = OpAdd(a, b);
            }
            VBS_POP() = Value();
            break;
          }
          case Opc::kSub: {
            Value& a = sp[-2];
            const Value& b = sp[-1];
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
            } else {
              a = OpSub(a, b);
            }
            VBS_POP() = Value();
            break;
          }
          case Opc::kMul:
            sp[-2] = OpMul(sp[-2], sp[-1]);
            VBS_POP() = Value();
            break;
          case Opc::kDiv:
            sp[-2] = OpDiv(sp[-2], sp[-1]);
            VBS_POP() = Value();
            break;
          case Opc::kIntDiv:
            sp[-2] = OpIntDiv(sp[-2], sp[-1]);
            VBS_POP() = Value();
            break;
          case Opc::kMod:
            sp[-2] = OpMod(sp[-2], sp[-1]);
            VBS_POP() = Value();
            break;
          case Opc::kPow:
            sp[-2] = OpPow(sp[-2], sp[-1]);
            VBS_POP() = Value();
            break;
          case Opc::kConcat:
            sp[-2] = OpConcat(sp[-2], sp[-1]);
            VBS_POP() = Value();
            break;
          case Opc::kEq:
          case Opc::kNe:
          case Opc::kLt:
          case Opc::kLe:
          case Opc::kGt:
          case Opc::kGe: {
            Value& a = sp[-2];
            const Value& b = sp[-1];
            int c;
            if (a.tag() >= Tag::kBoolean && a.tag() <= Tag::kLong && b.tag() >= Tag::kBoolean &&
                b.tag() <= Tag::kLong) {
              c = a.raw_int() < b.raw_int() ? -1 : (a.raw_int() > b.raw_int() ? 1 : 0);
            } else {
              c = CompareValues(a, b, false, static_cast<Literal>(in.a));
            }
            if (c == kCompareNull) {
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
              a = Value::Bool(r);
            }
            VBS_POP() = Value();
            break;
          }
          case Opc::kIs:
            sp[-2] = Value::Bool(OpIs(sp[-2], sp[-1]));
            VBS_POP() = Value();
            break;
          case Opc::kAnd:
            sp[-2] = OpAnd(sp[-2], sp[-1]);
            VBS_POP() = Value();
            break;
          case Opc::kOr:
            sp[-2] = OpOr(sp[-2], sp[-1]);
            VBS_POP() = Value();
            break;
          case Opc::kXor:
            sp[-2] = OpXor(sp[-2], sp[-1]);
            VBS_POP() = Value();
            break;
          case Opc::kEqv:
            sp[-2] = OpEqv(sp[-2], sp[-1]);
            VBS_POP() = Value();
            break;
          case Opc::kImp:
            sp[-2] = OpImp(sp[-2], sp[-1]);
            VBS_POP() = Value();
            break;
          case Opc::kNeg:
            sp[-1] = OpNeg(sp[-1]);
            break;
          case Opc::kNot:
            sp[-1] = OpNot(sp[-1]);
            break;

          case Opc::kJump:
            if (in.c < ip) {
              if (budget_-- <= 0) CheckTime();
              if (pending_) DrainTerminates();
            }
            ip = in.c;
            break;
          case Opc::kJumpFalse: {
            Value v = std::move(VBS_POP());
            if (!Truth(v)) {
              if (in.c < ip && budget_-- <= 0) CheckTime();
              ip = in.c;
            }
            break;
          }
          case Opc::kJumpTrue: {
            Value v = std::move(VBS_POP());
            if (Truth(v)) {
              if (in.c < ip && budget_-- <= 0) CheckTime();
              ip = in.c;
            }
            break;
          }
          case Opc::kForInit: {
            Value step = ToNumber(sp[-1]);
            Value to = ToNumber(sp[-2]);
            Value from = ToNumber(sp[-3]);
            Clear(sp - 3, sp);
            sp -= 3;
            locals[in.d] = std::move(to);
            locals[in.d + 1] = std::move(step);
            Value& v = var(in, static_cast<VarKind>(in.a), true);
            v.DerefMut() = std::move(from);
            if (!ForContinues(v, locals[in.d], locals[in.d + 1])) ip = in.c;
            break;
          }
          case Opc::kForNext: {
            if (budget_-- <= 0) CheckTime();
            Value& v = var(in, static_cast<VarKind>(in.a), true).DerefMut();
            const Value& step = locals[in.d + 1];
            const Value& to = locals[in.d];
            if ((v.tag() == Tag::kInteger || v.tag() == Tag::kLong) &&
                (step.tag() == Tag::kInteger || step.tag() == Tag::kLong) &&
                step.tag() <= v.tag()) {
              int64_t r = v.raw_int() + step.raw_int();
              bool fits = v.tag() == Tag::kInteger ? (r >= -32768 && r <= 32767)
                                                   : (r >= INT32_MIN && r <= INT32_MAX);
              if (fits) {
                v.SetRawInt(v.tag(), r);
              } else {
                v = OpAdd(v, step);
              }
            } else {
              v = OpAdd(v, step);
            }
            if (ForContinues(v, to, step)) ip = in.c;
            if (pending_) DrainTerminates();
            break;
          }
          case Opc::kForEachInit: {
            Value coll = std::move(VBS_POP());
            const Value& c = coll.Deref();
            std::unique_ptr<Enumerator> e;
            if (c.tag() == Tag::kArray) {
              e = std::make_unique<ArrayEnum>(c);
            } else if (c.tag() == Tag::kObject) {
              Ref<Object> o(c.obj());
              e = o->NewEnum();
              if (!e) Throw(kErrNotCollection);
            } else if (c.tag() == Tag::kNothing) {
              Throw(kErrObjectNotSet);
            } else {
              Throw(kErrNotCollection);
            }
            locals[in.d] = Value::Obj(new EnumHolder(std::move(e)));
            break;
          }
          case Opc::kForEachNext: {
            if (budget_-- <= 0) CheckTime();
            if (pending_) DrainTerminates();
            auto* h = static_cast<EnumHolder*>(locals[in.d].obj());
            Value item;
            if (h->get()->Next(item)) {
              *sp++ = std::move(item);
            } else {
              ip = in.c;
            }
            break;
          }
          case Opc::kClearLocal:
            locals[in.b] = Value();
            break;
          case Opc::kOnError:
            f->resume_next = in.a != 0;
            err_.Clear();
            break;
          case Opc::kExitProc:
            err_.Clear();
            [[fallthrough]];
          case Opc::kReturn: {
            Value result;
            if (f->proc->ret_slot >= 0) result = std::move(locals[f->proc->ret_slot].DerefMut());
            Value* low = f->base - f->pop_extra;
            Clear(low, std::max(sp, f->temps));
            bool native = f->native_entry;
            frames_.pop_back();
            if (native) {
              if (pending_ && frames_.size() > 0) DrainTerminates();
              return result;
            }
            reload();
            sp = low;
            *sp++ = std::move(result);
            if (pending_) DrainTerminates();
            break;
          }
          case Opc::kDimArray: {
            int n = in.d;
            Value& v = var(in, static_cast<VarKind>(in.a), true);
            if (n == 0) {
              v = NewArray({});
            } else {
              std::vector<ArrayDim> dims;
              for (int i = 0; i < n; ++i) {
                dims.push_back(DimFor(ToLong(sp[i - n])));
              }
              Value a = NewArray(std::move(dims));
              a.arr()->fixed = true;
              v.DerefMut() = std::move(a);
            }
            Clear(sp - n, sp);
            sp -= n;
            break;
          }
          case Opc::kReDim: {
            int n = in.d;
            Value& v = var(in, static_cast<VarKind>(in.a), true);
            ReDimVar(v, sp - n, n, in.c != 0);
            Clear(sp - n, sp);
            sp -= n;
            break;
          }
          case Opc::kErase: {
            Value& v = var(in, static_cast<VarKind>(in.a), true).DerefMut();
            if (v.tag() != Tag::kArray) Throw(kErrTypeMismatch);
            ArrayObj* a = v.arr();
            if (a->locks > 0) Throw(kErrArrayLocked);
            if (a->fixed) {
              a = UniqueArray(v);
              for (auto& e : a->data) e = Value();
            } else {
              v = NewArray({});
            }
            if (pending_) DrainTerminates();
            break;
          }
        }
      }
    } catch (ScriptError& e) {
      f = &frames_.back();
      f->ip = ip;
      if (e.line == 0) {
        const LineEntry* le = f->proc->EntryAt(ip - 1);
        if (le) {
          e.line = le->line;
          e.column = le->col;
        }
        e.module = f->proc->module ? f->proc->module->name : "";
      }
      bool resumed = false;
      if (e.number != kErrTimeout) {
        while (true) {
          Frame& fr = frames_.back();
          if (fr.resume_next) {
            err_.Set(e);
            Clear(fr.temps, std::max(sp, fr.temps));
            sp = fr.temps;
            const LineEntry* le = fr.proc->EntryAt(fr.ip - 1);
            fr.ip = le && le->resume >= 0 ? le->resume : static_cast<int>(fr.proc->code.size()) - 1;
            resumed = true;
            break;
          }
          if (frames_.size() - 1 == entry) break;
          Clear(fr.base - fr.pop_extra, std::max(sp, fr.temps));
          sp = fr.base - fr.pop_extra;
          frames_.pop_back();
        }
      }
      if (resumed) {
        reload();
        continue;
      }
      UnwindTo(entry, sp);
      err_.Set(e);
      throw;
    } catch (...) {
      f = &frames_.back();
      UnwindTo(entry, sp);
      throw;
    }
  }
}

#undef VBS_POP

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
  auto p = vbs::CompileSnippet(*this, m, outer.get(), nullptr, e.get());
  return RunProc(p.get(), Value(), nullptr, 0);
}

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
  auto p = vbs::CompileSnippet(*this, *m, outer, &ast, nullptr);
  std::vector<Value> refs;
  refs.reserve(outer->local_names.size());
  Value* base = caller.base;
  for (size_t i = 0; i < outer->local_names.size(); ++i) {
    refs.push_back(base[i].IsRef() ? base[i] : Value::RefTo(&base[i]));
  }
  Value me = caller.me;
  RunProc(p.get(), me, refs.data(), static_cast<int>(refs.size()));
}

Value Vm::EvalInScope(std::string_view text) {
  Module* m = CurrentModule();
  ExprPtr e = ParseExpressionText(text);
  if (frames_.empty() || frames_.back().proc->is_main) {
    auto outer = std::make_shared<Proc>();
    outer->module = m;
    auto p = vbs::CompileSnippet(*this, *m, outer.get(), nullptr, e.get());
    return RunProc(p.get(), Value(), nullptr, 0);
  }
  Frame& caller = frames_.back();
  Proc* outer = caller.proc;
  auto p = vbs::CompileSnippet(*this, *m, outer, nullptr, e.get());
  std::vector<Value> refs;
  Value* base = caller.base;
  for (size_t i = 0; i < outer->local_names.size(); ++i) {
    refs.push_back(base[i].IsRef() ? base[i] : Value::RefTo(&base[i]));
  }
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
