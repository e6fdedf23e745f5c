// The VBScript engine as a host sees it: modules of code, procedures called
// by name, host objects published by name, a time-out and a reset.
//
//   vbs::Engine engine;
//   engine.AddObject("xap", app, /*global_members=*/true);
//   engine.AddCode("Main", text);                  // throws vbs::ScriptError
//   for (auto& p : engine.Procedures("Main")) ...  // name, argument count, result
//   vbs::Value r = engine.Call("Main", "main", {vbs::Value::Str("kitchen")});
//
// Everything runs on the caller's thread; an Engine is not shared between
// threads.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vbscript/error.h"
#include "vbscript/value.h"

namespace corvane::vbs {

class Vm;

struct ProcedureInfo {
  std::string name;  // as written in the script
  int arg_count = 0;
  bool has_return_value = false;  // Function (or Property Get)
};

struct EngineOptions {
  // A call into the engine (AddCode, Call, Eval) that runs longer than this
  // ends with run-time error kErrTimeout; 0 means no limit.
  int timeout_ms = 0;
  // Nested procedure calls beyond this give "Out of stack space".
  int max_call_depth = 3000;
  size_t max_string_bytes = size_t{256} << 20;
  size_t max_array_elements = size_t{32} << 20;
  // The local date and time for Now, Date, Time and Timer (a date value);
  // the system clock when empty.
  std::function<double()> clock;
  // Whether scripts may create Scripting.FileSystemObject and WScript.Shell
  // (off for untrusted text, such as fuzzing input).
  bool allow_system_objects = true;
  // Called from inside a running script about as often as the time-out is
  // checked, so a host can serve its other work while a script runs long.
  // It may throw ScriptError to end the script.
  std::function<void()> on_time_check;
};

// Creates an object for CreateObject("prog.id").
using ObjectFactory = std::function<Ref<Object>()>;
// Receives what MsgBox and InputBox would have shown ("MsgBox", text).
using LogSink = std::function<void(std::string_view kind, std::string_view text)>;

class Engine {
 public:
  explicit Engine(EngineOptions options = {});
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Modules hold code with its own global names. "Global" always exists;
  // AddCode creates a module it does not know yet.
  void AddModule(std::string_view name);
  bool HasModule(std::string_view name) const;

  // Compiles `code` into the module and runs its top-level statements. A
  // syntax error throws ScriptError with `compile` set and nothing of the
  // code is run; a run-time error in the top-level code throws after the
  // procedures have been defined.
  void AddCode(std::string_view module, std::string_view code);

  // The procedures of a module in the order they were added.
  std::vector<ProcedureInfo> Procedures(std::string_view module) const;
  std::optional<ProcedureInfo> FindProcedure(std::string_view module, std::string_view name) const;

  // Calls a procedure (any letter case). Arguments are passed by value;
  // pass Value::RefTo(&v) for a ByRef argument the script may change.
  // Throws ScriptError for run-time errors, kErrNotDefined when there is no
  // such procedure.
  Value Call(std::string_view module, std::string_view name, std::vector<Value> args = {});

  // Evaluates an expression / runs statements in a module's global scope.
  Value Eval(std::string_view module, std::string_view expression);
  void Execute(std::string_view module, std::string_view statements);

  // Publishes `object` under `name`. With `global_members`, scripts may also
  // call its members without the prefix ("WriteLog" for "xap.WriteLog").
  void AddObject(std::string_view name, Ref<Object> object, bool global_members = false);
  // Makes CreateObject(prog_id) give objects from `factory` (any letter case).
  void RegisterProgId(std::string_view prog_id, ObjectFactory factory);

  void SetTimeout(int milliseconds);
  int Timeout() const;
  void SetLogSink(LogSink sink);
  const LogSink& log_sink() const { return log_; }

  // Drops all code, modules, variables and published objects.
  void Reset();

 private:
  std::unique_ptr<Vm> vm_;
  LogSink log_;
};

// Script file bytes as the engine's UTF-8 text: a UTF-8 byte-order mark is
// dropped, UTF-16 (with its mark, as Windows editors save "Unicode") is
// converted, and text that is not valid UTF-8 is read as Windows-1252, the
// code page scripts written on Windows use.
std::string DecodeScriptText(std::string_view bytes);

// A host object whose members are plain C++ functions: the easy way to give
// scripts an object.
//
//   auto obj = MakeRef<HostObject>("Application");
//   obj->AddMethod("WriteLog", [](CallArgs& a) { ...; return Value(); });
//   obj->AddProperty("Version", [](CallArgs&) { return Value::Str("1.0"); });
class HostObject : public Object {
 public:
  using Fn = std::function<Value(CallArgs& args)>;
  explicit HostObject(std::string type_name) : type_name_(std::move(type_name)) {}

  // A method (also readable as a property). Arguments arrive as the script
  // passed them; args.IsRef(i) tells whether args.Set(i, v) reaches a
  // variable of the caller.
  HostObject& AddMethod(std::string_view name, Fn fn);
  // A property: `get` reads it; `let` receives the assigned value as the last
  // argument (after any index arguments). Without `let` it is read-only.
  // A property that is not `indexed` takes no arguments: `obj.Prop(i)` reads
  // the property and then calls its value's default member with (i).
  HostObject& AddProperty(std::string_view name, Fn get, Fn let = nullptr, bool indexed = false);
  // The member used for `obj` and `obj(args)`.
  HostObject& SetDefault(std::string_view name);
  // Makes the object a collection for For Each.
  HostObject& SetEnumeration(std::function<std::vector<Value>()> items);

  std::string TypeName() const override { return type_name_; }
  int FindMember(std::string_view name) override;
  Value Invoke(int id, InvokeKind kind, CallArgs& args) override;
  std::unique_ptr<Enumerator> NewEnum() override;
  const void* MemberTableKey() const override { return this; }

 private:
  struct Member {
    std::string name;
    Fn get, let;
    bool plain_property = false;
  };
  Value InvokeMember(int id, InvokeKind kind, CallArgs& args);

  std::string type_name_;
  std::vector<Member> members_;
  int default_ = -1;
  std::function<std::vector<Value>()> items_;
};

}  // namespace corvane::vbs
