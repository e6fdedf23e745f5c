#include "wsh.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "core/text.h"
#include "vbscript/ops.h"

namespace corvane::vbs {

namespace {

std::string JoinEcho(CallArgs& a) {
  std::string out;
  for (int i = 0; i < a.size(); ++i) {
    if (i) out += ' ';
    if (!a[i].IsMissing()) AppendText(out, a[i]);
  }
  return out;
}

Ref<Object> MakeStream(std::ostream& os) {
  auto s = MakeRef<HostObject>("TextStream");
  std::ostream* out = &os;
  s->AddMethod("Write", [out](CallArgs& a) {
    if (a.size() > 0) *out << ToText(a[0]);
    out->flush();
    return Value();
  });
  s->AddMethod("WriteLine", [out](CallArgs& a) {
    if (a.size() > 0) *out << ToText(a[0]);
    *out << "\n";
    out->flush();
    return Value();
  });
  s->AddMethod("WriteBlankLines", [out](CallArgs& a) {
    int n = a.size() > 0 ? ToLong(a[0]) : 1;
    for (int i = 0; i < n; ++i) *out << "\n";
    return Value();
  });
  s->AddMethod("Close", [](CallArgs&) { return Value(); });
  return s;
}

Ref<Object> MakeStdIn() {
  auto s = MakeRef<HostObject>("TextStream");
  s->AddMethod("ReadLine", [](CallArgs&) {
    std::string line;
    if (!std::getline(std::cin, line)) Throw(kErrPastEnd);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return Value::Str(line);
  });
  s->AddMethod("ReadAll", [](CallArgs&) {
    std::ostringstream ss;
    ss << std::cin.rdbuf();
    return Value::Str(ss.str());
  });
  s->AddProperty("AtEndOfStream", [](CallArgs&) {
    return Value::Bool(std::cin.peek() == std::char_traits<char>::eof());
  });
  return s;
}

// A list of texts as WSH collections show them: Item (the default; by
// position unless `item` is given), Count, Length and For Each.
Ref<HostObject> MakeTextList(const std::vector<std::string>& list, HostObject::Fn item = nullptr) {
  auto obj = MakeRef<HostObject>("Object");
  if (!item) {
    item = [list](CallArgs& a) {
      if (a.size() < 1) Throw(kErrArgNotOptional);
      int32_t i = ToLong(a[0]);
      if (i < 0 || static_cast<size_t>(i) >= list.size()) Throw(kErrSubscript);
      return Value::Str(list[static_cast<size_t>(i)]);
    };
  }
  obj->AddMethod("Item", std::move(item));
  auto count = [list](CallArgs&) { return Value::Long(static_cast<int32_t>(list.size())); };
  obj->AddProperty("Count", count);
  obj->AddProperty("Length", count);
  obj->SetDefault("Item");
  obj->SetEnumeration([list]() {
    std::vector<Value> v;
    for (const auto& s : list) v.push_back(Value::Str(s));
    return v;
  });
  return obj;
}

// WScript.Arguments: every argument as given, plus Named ("/name:value" or
// the switch "/name", names in any letter case) and Unnamed (the others).
Ref<Object> MakeArguments(const std::vector<std::string>& all) {
  std::vector<std::string> unnamed, names;
  std::vector<std::pair<std::string, std::string>> named;
  for (const auto& arg : all) {
    if (arg.size() < 2 || arg[0] != '/') {
      unnamed.push_back(arg);
      continue;
    }
    const size_t colon = arg.find(':');
    named.emplace_back(arg.substr(1, colon == std::string::npos ? std::string::npos : colon - 1),
                       colon == std::string::npos ? "" : arg.substr(colon + 1));
    names.push_back(named.back().first);
  }
  auto find = [named](const Value& key) -> const std::string* {
    const std::string k = ToText(key);
    for (const auto& [n, v] : named) {
      if (EqualsIgnoreCase(n, k)) return &v;
    }
    return nullptr;
  };
  Ref<HostObject> named_obj = MakeTextList(names, [find](CallArgs& a) {
    if (a.size() < 1) Throw(kErrArgNotOptional);
    const std::string* v = find(a[0]);
    return v ? Value::Str(*v) : Value();
  });
  named_obj->AddMethod("Exists", [find](CallArgs& a) {
    if (a.size() < 1) Throw(kErrArgNotOptional);
    return Value::Bool(find(a[0]) != nullptr);
  });
  Ref<HostObject> args = MakeTextList(all);
  Ref<Object> named_ref = named_obj;
  Ref<Object> unnamed_ref = MakeTextList(unnamed);
  args->AddProperty("Named", [named_ref](CallArgs&) { return Value::Obj(named_ref.get()); });
  args->AddProperty("Unnamed", [unnamed_ref](CallArgs&) { return Value::Obj(unnamed_ref.get()); });
  return args;
}

}  // namespace

Ref<Object> MakeWScript(Engine& engine, const WshContext& ctx) {
  auto w = MakeRef<HostObject>("Object");
  namespace fs = std::filesystem;
  std::string full = fs::absolute(ctx.script_path).lexically_normal().string();
  std::string name = fs::path(ctx.script_path).filename().string();

  Ref<Object> args_obj = MakeArguments(ctx.args);
  Ref<Object> out = MakeStream(std::cout);
  Ref<Object> err = MakeStream(std::cerr);
  Ref<Object> in = MakeStdIn();
  Engine* eng = &engine;

  w->AddMethod("Echo", [](CallArgs& a) {
    std::cout << JoinEcho(a) << "\n";
    std::cout.flush();
    return Value();
  });
  w->AddMethod("Quit", [](CallArgs& a) -> Value {
    std::cout.flush();
    throw QuitRequest{a.Has(0) ? ToLong(a[0]) : 0};
  });
  w->AddMethod("Sleep", [](CallArgs& a) {
    int32_t ms = a.size() > 0 ? ToLong(a[0]) : 0;
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return Value();
  });
  w->AddMethod("CreateObject", [eng](CallArgs& a) {
    if (a.size() < 1) Throw(kErrArgNotOptional);
    std::string prog = ToText(a[0]);
    return eng->Eval("", "CreateObject(\"" + ReplaceAll(prog, "\"", "\"\"") + "\")");
  });
  w->AddProperty("Arguments", [args_obj](CallArgs&) { return Value::Obj(args_obj.get()); });
  w->AddProperty("ScriptName", [name](CallArgs&) { return Value::Str(name); });
  w->AddProperty("ScriptFullName", [full](CallArgs&) { return Value::Str(full); });
  w->AddProperty("Name", [](CallArgs&) { return Value::Str("Windows Script Host"); });
  w->AddProperty("Version", [](CallArgs&) { return Value::Str("5.8"); });
  w->AddProperty("FullName", [](CallArgs&) { return Value::Str("/usr/bin/vbs"); });
  w->AddProperty("Path", [](CallArgs&) { return Value::Str("/usr/bin"); });
  w->AddProperty("Interactive", [](CallArgs&) { return Value::Bool(false); });
  // Seconds the script may run (0: no limit), counted from its start.
  w->AddProperty(
      "Timeout", [eng](CallArgs&) { return Value::Long(eng->Timeout() / 1000); },
      [eng](CallArgs& a) {
        const int32_t seconds = ToLong(a[a.size() - 1]);
        if (seconds < 0 || seconds > INT32_MAX / 1000) Throw(kErrInvalidCall);
        eng->SetTimeout(seconds * 1000);
        return Value();
      });
  w->AddProperty("StdOut", [out](CallArgs&) { return Value::Obj(out.get()); });
  w->AddProperty("StdErr", [err](CallArgs&) { return Value::Obj(err.get()); });
  w->AddProperty("StdIn", [in](CallArgs&) { return Value::Obj(in.get()); });
  return w;
}

namespace {

std::string ReadWhole(const std::string& path, bool& ok) {
  std::ifstream f(path, std::ios::binary);
  ok = static_cast<bool>(f);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// The value of attribute `name` in a tag's text, or "".
std::string Attribute(std::string_view tag, std::string_view name) {
  size_t p = 0;
  while ((p = FindIgnoreCase(tag, name, p)) != std::string_view::npos) {
    size_t q = p + name.size();
    while (q < tag.size() && tag[q] == ' ') ++q;
    if (q < tag.size() && tag[q] == '=') {
      ++q;
      while (q < tag.size() && tag[q] == ' ') ++q;
      if (q < tag.size() && (tag[q] == '"' || tag[q] == '\'')) {
        char quote = tag[q];
        size_t end = tag.find(quote, q + 1);
        if (end != std::string_view::npos) return std::string(tag.substr(q + 1, end - q - 1));
      }
    }
    p = q;
  }
  return "";
}

}  // namespace

bool ReadWsf(const std::string& path, std::vector<ScriptBlock>& blocks, std::string& error) {
  namespace fs = std::filesystem;
  bool ok = false;
  std::string text = DecodeScriptText(ReadWhole(path, ok));
  if (!ok) {
    error = "Cannot open " + path;
    return false;
  }
  fs::path dir = fs::path(path).parent_path();
  size_t job_end = FindIgnoreCase(text, "</job>");
  if (job_end != std::string::npos) text = text.substr(0, job_end);
  size_t pos = 0;
  while ((pos = FindIgnoreCase(text, "<script", pos)) != std::string::npos) {
    size_t tag_end = text.find('>', pos);
    if (tag_end == std::string::npos) break;
    std::string_view tag(text.data() + pos, tag_end - pos + 1);
    std::string lang = Attribute(tag, "language");
    std::string src = Attribute(tag, "src");
    bool self_closing = tag_end > 0 && text[tag_end - 1] == '/';
    size_t body_end = tag_end + 1;
    std::string body;
    if (!self_closing) {
      size_t close = FindIgnoreCase(text, "</script>", tag_end);
      if (close == std::string::npos) close = text.size();
      body = text.substr(tag_end + 1, close - tag_end - 1);
      body_end = close;
    }
    pos = body_end;
    if (!lang.empty() && !EqualsIgnoreCase(lang, "VBScript")) continue;
    if (!src.empty()) {
      std::string p = ReplaceAll(src, "\\", "/");
      fs::path full = fs::path(p).is_absolute() ? fs::path(p) : dir / p;
      bool sok = false;
      std::string code = ReadWhole(full.lexically_normal().string(), sok);
      if (!sok) {
        error = "Cannot open " + full.lexically_normal().string();
        return false;
      }
      blocks.push_back(ScriptBlock{full.lexically_normal().string(), DecodeScriptText(code)});
    }
    size_t cdata = body.find("<![CDATA[");
    if (cdata != std::string::npos) {
      size_t cend = body.rfind("]]>");
      body =
          body.substr(cdata + 9, cend == std::string::npos ? std::string::npos : cend - cdata - 9);
    }
    if (!TrimWhite(body).empty()) blocks.push_back(ScriptBlock{path, body});
  }
  return true;
}

}  // namespace corvane::vbs
