// The objects scripts create: Scripting.Dictionary, Scripting.FileSystemObject
// (with its files, folders and text streams), VBScript.RegExp and
// WScript.Shell, plus what GetRef gives. Each built-in class lists its
// members in a MemberTable: name -> member function, so a reader finds the
// code of `fso.GetFile` under the name GetFile. Objects that can hold script
// values are TrackedObjects, which the engine clears when it goes away so
// reference cycles through them do not leak.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "vbscript/runtime.h"

namespace corvane::vbs {

// Whether a member call assigns (the value is then the last argument).
inline bool IsAssignment(InvokeKind kind) {
  return kind == InvokeKind::kLet || kind == InvokeKind::kSet;
}

// The members of a built-in class T, like the function table: each name with
// the handler that runs it (reading, calling and assigning alike; `kind`
// tells them apart). Member id = position + 1; the VM caches ids per call
// site, keyed by the table's address. Names match in any letter case.
template <typename T>
class MemberTable {
 public:
  using Handler = Value (T::*)(InvokeKind kind, CallArgs& args);
  struct Member {
    const char* name;
    Handler handler;
  };
  // `default_name`: the member used for `obj` and `obj(args)`, if any.
  MemberTable(std::initializer_list<Member> members, const char* default_name = nullptr)
      : members_(members), default_id_(default_name ? Find(default_name) : kNoMember) {}
  int Find(std::string_view name) const {
    for (size_t i = 0; i < members_.size(); ++i) {
      if (EqualsIgnoreCase(name, members_[i].name)) return static_cast<int>(i) + 1;
    }
    return kNoMember;
  }
  // Runs member `id` (kDefaultMember: the default one) on `self`; error 438
  // when there is no such member.
  Value Call(T& self, int id, InvokeKind kind, CallArgs& args) const {
    if (id == kDefaultMember) id = default_id_;
    if (id < 1 || id > static_cast<int>(members_.size())) Throw(kErrNoMember);
    return (self.*members_[static_cast<size_t>(id - 1)].handler)(kind, args);
  }

 private:
  std::vector<Member> members_;
  int default_id_;
};

// An engine-made object that may hold script values: the engine clears it
// when it goes away, so reference cycles through it do not leak.
class TrackedObject : public Object {
 public:
  explicit TrackedObject(Vm* vm) : vm_(vm) {
    if (vm_) vm_->Track(this);
  }
  ~TrackedObject() override {
    if (vm_) vm_->Untrack(this);
  }
  void Detach() { vm_ = nullptr; }

 protected:
  Vm* vm_;
};

// A built-in object whose members are the handlers in a MemberTable<T>.
template <typename T>
class BuiltinObject : public TrackedObject {
 public:
  BuiltinObject(Vm* vm, const MemberTable<T>& members) : TrackedObject(vm), members_(members) {}
  int FindMember(std::string_view name) override { return members_.Find(name); }
  const void* MemberTableKey() const override { return &members_; }
  Value Invoke(int id, InvokeKind kind, CallArgs& args) override {
    return members_.Call(static_cast<T&>(*this), id, kind, args);
  }

 private:
  const MemberTable<T>& members_;
};

// What GetRef("name") gives: calling its default member runs the procedure.
class ProcRef : public TrackedObject {
 public:
  ProcRef(Vm* vm, std::shared_ptr<Proc> proc) : TrackedObject(vm), proc_(std::move(proc)) {}
  std::string TypeName() const override { return "Object"; }
  int FindMember(std::string_view) override { return kNoMember; }
  Value Invoke(int id, InvokeKind kind, CallArgs& args) override;
  void ClearReferences() override { proc_.reset(); }

 private:
  std::shared_ptr<Proc> proc_;
};

// `obj.Prop(args)` for a property without parameters: the arguments go to
// the default member of the object the property gives.
Value ApplyToDefault(Value result, CallArgs& args);

// Creates a built-in object by ProgID; Empty when the ProgID is unknown.
Value CreateBuiltinObject(Vm& vm, std::string_view prog_id);
Value NewDictionary(Vm& vm);
Value NewRegExp(Vm& vm);
Value NewFileSystemObject(Vm& vm);
Value NewShell(Vm& vm);

// Collects values into a For Each enumerator.
std::unique_ptr<Enumerator> EnumerateValues(std::vector<Value> items);

}  // namespace corvane::vbs
