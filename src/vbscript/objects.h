// The objects scripts create: Scripting.Dictionary, Scripting.FileSystemObject
// (with its files, folders and text streams), VBScript.RegExp and
// WScript.Shell, plus what GetRef gives.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vbscript/runtime.h"

namespace corvane::vbs {

// Member names of a built-in class; member id = position + 1.
class MemberTable {
 public:
  MemberTable(std::initializer_list<const char*> names, int default_id = kNoMember)
      : names_(names), default_id_(default_id) {}
  int Find(std::string_view name) const;
  // The id behind `id` (resolves the default member, 438 when there is none).
  int Resolve(int id) const;
  const char* Name(int id) const { return names_[static_cast<size_t>(id - 1)]; }

 private:
  std::vector<const char*> names_;
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

// A built-in object with a static member table.
class BuiltinObject : public TrackedObject {
 public:
  BuiltinObject(Vm* vm, const MemberTable& table) : TrackedObject(vm), table_(table) {}
  int FindMember(std::string_view name) override { return table_.Find(name); }
  const void* MemberTableKey() const override { return &table_; }
  Value Invoke(int id, InvokeKind kind, CallArgs& args) override {
    return Call(table_.Resolve(id), kind, args);
  }

 protected:
  virtual Value Call(int id, InvokeKind kind, CallArgs& args) = 0;
  const MemberTable& table_;
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
