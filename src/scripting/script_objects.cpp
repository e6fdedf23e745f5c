#include "scripting/script_objects.h"

#include "core/text.h"
#include "vbscript/ops.h"
#include "xap/xap_message.h"

namespace corvane {

using vbs::CallArgs;
using vbs::Value;

std::string ArgText(CallArgs& a, int i) {
  if (!a.Has(i)) return "";
  const Value& v = a[i];
  if (v.tag() == vbs::Tag::kNull || v.tag() == vbs::Tag::kEmpty) return "";
  return vbs::ToText(v);
}

void CheckArgCount(CallArgs& a, int min, int max) {
  if (a.size() < min || a.size() > max) vbs::Throw(vbs::kErrWrongArgs);
}

namespace {

std::vector<Value> Texts(const std::vector<std::string>& items) {
  std::vector<Value> out;
  out.reserve(items.size());
  for (const auto& s : items) out.push_back(Value::Str(s));
  return out;
}

}  // namespace

Value MakeKeyedList(KeyedTexts items) {
  auto data = std::make_shared<KeyedTexts>(std::move(items));
  auto find = [data](std::string_view key) -> const std::string* {
    for (const auto& [k, v] : *data) {
      if (EqualsIgnoreCase(k, key)) return &v;
    }
    return nullptr;
  };
  auto keys = [data] {
    std::vector<std::string> out;
    for (const auto& kv : *data) out.push_back(kv.first);
    return out;
  };
  auto o = vbs::MakeRef<vbs::HostObject>("Dictionary");
  o->AddProperty(
      "Item",
      [find](CallArgs& a) {
        CheckArgCount(a, 1, 1);
        const std::string* v = find(ArgText(a, 0));
        return v ? Value::Str(*v) : Value();
      },
      nullptr, true);
  o->AddProperty("Count",
                 [data](CallArgs&) { return Value::Long(static_cast<int32_t>(data->size())); });
  o->AddMethod("Exists", [find](CallArgs& a) {
    CheckArgCount(a, 1, 1);
    return Value::Bool(find(ArgText(a, 0)) != nullptr);
  });
  o->AddMethod("Keys", [keys](CallArgs&) { return vbs::ArrayFromValues(Texts(keys())); });
  o->AddMethod("Items", [data](CallArgs&) {
    std::vector<std::string> out;
    for (const auto& kv : *data) out.push_back(kv.second);
    return vbs::ArrayFromValues(Texts(out));
  });
  o->SetDefault("Item");
  o->SetEnumeration([keys] { return Texts(keys()); });
  return Value::Obj(o.get());
}

Value MakeTextList(std::vector<std::string> items) {
  auto data = std::make_shared<std::vector<std::string>>(std::move(items));
  auto o = vbs::MakeRef<vbs::HostObject>("Collection");
  o->AddProperty(
      "Item",
      [data](CallArgs& a) {
        CheckArgCount(a, 1, 1);
        const int32_t i = vbs::ToLong(a[0]);
        if (i < 1 || static_cast<size_t>(i) > data->size()) vbs::Throw(vbs::kErrSubscript);
        return Value::Str((*data)[static_cast<size_t>(i - 1)]);
      },
      nullptr, true);
  o->AddProperty("Count",
                 [data](CallArgs&) { return Value::Long(static_cast<int32_t>(data->size())); });
  o->SetDefault("Item");
  o->SetEnumeration([data] { return Texts(*data); });
  return Value::Obj(o.get());
}

Value MakeXapMessageObject(std::shared_ptr<const XapMessage> message) {
  if (!message) return Value::Nothing();
  auto m = message;
  auto o = vbs::MakeRef<vbs::HostObject>("XapMessage");
  o->AddProperty("MsgClass", [m](CallArgs&) { return Value::Str(m->MsgClass()); });
  o->AddProperty("MsgSource", [m](CallArgs&) { return Value::Str(m->MsgSource()); });
  o->AddProperty("MsgTarget", [m](CallArgs&) { return Value::Str(m->MsgTarget()); });
  o->AddProperty("MsgUID", [m](CallArgs&) { return Value::Str(m->MsgUID()); });
  o->AddMethod("GetItem", [m](CallArgs& a) {
    CheckArgCount(a, 2, 2);
    return Value::Str(m->GetItem(ArgText(a, 0), ArgText(a, 1)));
  });
  o->AddMethod("CompareClass", [m](CallArgs& a) {
    CheckArgCount(a, 1, 1);
    return Value::Bool(m->CompareClass(ArgText(a, 0)));
  });
  o->AddMethod("CompareSource", [m](CallArgs& a) {
    CheckArgCount(a, 1, 1);
    return Value::Bool(m->CompareSource(ArgText(a, 0)));
  });
  o->AddMethod("CompareTarget", [m](CallArgs& a) {
    CheckArgCount(a, 1, 1);
    return Value::Bool(m->CompareTarget(ArgText(a, 0)));
  });
  o->AddMethod("CompareAddress", [m](CallArgs& a) {
    CheckArgCount(a, 2, 2);
    return Value::Bool(m->CompareAddress(ArgText(a, 0), ArgText(a, 1)));
  });
  return Value::Obj(o.get());
}

}  // namespace corvane
