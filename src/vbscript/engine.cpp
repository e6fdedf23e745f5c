// The host's side of the engine: Engine's operations forwarded to the Vm,
// the reading of script files in their encodings (DecodeScriptText), and
// HostObject, which lets a host give scripts an object made of C++ functions
// (members_: name, getter, setter; member id = position + 1).
#include "vbscript/engine.h"

#include "core/text.h"
#include "vbscript/objects.h"
#include "vbscript/ops.h"
#include "vbscript/runtime.h"

namespace corvane::vbs {

Engine::Engine(EngineOptions options) : vm_(std::make_unique<Vm>(this, std::move(options))) {}

Engine::~Engine() = default;

void Engine::AddModule(std::string_view name) {
  vm_->GetModule(name, true);
}

bool Engine::HasModule(std::string_view name) const {
  return vm_->FindModule(name) != nullptr;
}

void Engine::AddCode(std::string_view module, std::string_view code) {
  Module& m = vm_->GetModule(module.empty() ? "Global" : module, true);
  vm_->AddCode(m, code);
}

std::vector<ProcedureInfo> Engine::Procedures(std::string_view module) const {
  std::vector<ProcedureInfo> out;
  Module* m = vm_->FindModule(module.empty() ? "Global" : module);
  if (!m) return out;
  for (const auto& name : m->proc_order) {
    GlobalSlot* s = m->Find(name);
    if (!s || s->kind != SlotKind::kProc) continue;
    out.push_back(ProcedureInfo{s->proc->name, s->proc->nparams, s->proc->HasReturnValue()});
  }
  return out;
}

std::optional<ProcedureInfo> Engine::FindProcedure(std::string_view module,
                                                   std::string_view name) const {
  Module* m = vm_->FindModule(module.empty() ? "Global" : module);
  if (!m) return std::nullopt;
  GlobalSlot* s = m->Find(name);
  if (!s || s->kind != SlotKind::kProc) return std::nullopt;
  return ProcedureInfo{s->proc->name, s->proc->nparams, s->proc->HasReturnValue()};
}

Value Engine::Call(std::string_view module, std::string_view name, std::vector<Value> args) {
  Module* m = vm_->FindModule(module.empty() ? "Global" : module);
  if (!m)
    Throw(kErrNotDefined, std::string(ErrorText(kErrNotDefined)) + ": '" + std::string(name) + "'");
  return vm_->CallByName(*m, name, args.data(), static_cast<int>(args.size()));
}

Value Engine::Eval(std::string_view module, std::string_view expression) {
  Module& m = vm_->GetModule(module.empty() ? "Global" : module, true);
  return vm_->EvalText(m, expression);
}

void Engine::Execute(std::string_view module, std::string_view statements) {
  Module& m = vm_->GetModule(module.empty() ? "Global" : module, true);
  vm_->AddCode(m, statements);
}

void Engine::AddObject(std::string_view name, Ref<Object> object, bool global_members) {
  for (auto& item : vm_->host_items_) {
    if (EqualsIgnoreCase(item.name, name)) {
      item.object = std::move(object);
      item.global_members = global_members;
      ++vm_->host_generation_;
      return;
    }
  }
  vm_->host_items_.push_back(Vm::HostItem{std::string(name), std::move(object), global_members});
  ++vm_->host_generation_;
}

void Engine::RegisterProgId(std::string_view prog_id, ObjectFactory factory) {
  vm_->factories_[std::string(prog_id)] = std::move(factory);
}

void Engine::SetTimeout(int milliseconds) {
  vm_->SetTimeout(milliseconds);
}
int Engine::Timeout() const {
  return vm_->options().timeout_ms;
}
void Engine::SetLogSink(LogSink sink) {
  log_ = std::move(sink);
}

void Engine::Reset() {
  vm_->Reset();
}

// ------------------------------------------------------------------ script text

std::string DecodeScriptText(std::string_view b) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(b[i]); };
  if (b.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    return std::string(b.substr(3));
  }
  if (b.size() >= 2 &&
      ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
    return Utf16ToUtf8(b.substr(2), byte(0) == 0xFF);
  }
  bool valid = true;
  for (size_t i = 0; i < b.size() && valid;) {
    if (byte(i) < 0x80) {
      ++i;
      continue;
    }
    size_t len = 1;
    DecodeChar(b, i, &len);
    if (len == 1) valid = false;
    i += len;
  }
  if (valid) return std::string(b);
  std::string out;
  out.reserve(b.size() + b.size() / 4);
  for (size_t i = 0; i < b.size(); ++i) AppendCodePoint(out, AnsiToUnicode(byte(i)));
  return out;
}

// ------------------------------------------------------------------ HostObject

HostObject& HostObject::AddMethod(std::string_view name, Fn fn) {
  members_.push_back(Member{std::string(name), std::move(fn), nullptr, false});
  return *this;
}

HostObject& HostObject::AddProperty(std::string_view name, Fn get, Fn let, bool indexed) {
  members_.push_back(Member{std::string(name), std::move(get), std::move(let), !indexed});
  return *this;
}

HostObject& HostObject::SetDefault(std::string_view name) {
  default_ = FindMember(name);
  return *this;
}

HostObject& HostObject::SetEnumeration(std::function<std::vector<Value>()> items) {
  items_ = std::move(items);
  return *this;
}

int HostObject::FindMember(std::string_view name) {
  for (size_t i = 0; i < members_.size(); ++i) {
    if (EqualsIgnoreCase(members_[i].name, name)) return static_cast<int>(i) + 1;
  }
  return kNoMember;
}

Value HostObject::Invoke(int id, InvokeKind kind, CallArgs& args) {
  try {
    return InvokeMember(id, kind, args);
  } catch (ScriptError& e) {
    // A host may fail with a system HRESULT; scripts see its run-time error.
    e.number = ErrorNumberOf(e.number);
    throw;
  }
}

Value HostObject::InvokeMember(int id, InvokeKind kind, CallArgs& args) {
  if (id == kDefaultMember) {
    if (default_ == kNoMember) Throw(kErrNoMember);
    id = default_;
  }
  if (id < 1 || id > static_cast<int>(members_.size())) Throw(kErrNoMember);
  Member& m = members_[static_cast<size_t>(id - 1)];
  if (kind == InvokeKind::kLet || kind == InvokeKind::kSet) {
    if (!m.let) Throw(kErrIllegalAssign);
    return m.let(args);
  }
  if (!m.get) Throw(kErrNoMember);
  if (m.plain_property && args.size() > 0) {
    CallArgs none(args.raw(), 0);
    return ApplyToDefault(m.get(none), args);
  }
  return m.get(args);
}

std::unique_ptr<Enumerator> HostObject::NewEnum() {
  if (!items_) return nullptr;
  return EnumerateValues(items_());
}

}  // namespace corvane::vbs
