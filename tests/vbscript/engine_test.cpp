// The engine as a host uses it: modules, procedures by name, host objects,
// ByRef write-back, errors with positions, the time-out and reset.
#include "vbscript/engine.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "vbscript/ops.h"

namespace corvane::vbs {
namespace {

// The script error `work` raises; a test failure when it raises none.
template <typename F>
ScriptError ErrorOf(F work) {
  try {
    work();
  } catch (const ScriptError& err) {
    return err;
  }
  ADD_FAILURE() << "no script error";
  return ScriptError(0, "", "");
}

TEST(EngineTest, ModulesHoldProceduresFoundByNameInAnyCase) {
  Engine e;
  e.AddCode("Main",
            "Function Main(tag)\n Main = \"got \" & tag\nEnd Function\nSub Tick\nEnd Sub\n");
  auto procs = e.Procedures("Main");
  ASSERT_EQ(procs.size(), 2u);
  EXPECT_EQ(std::tie(procs[0].name, procs[0].arg_count, procs[0].has_return_value),
            std::make_tuple("Main", 1, true));
  EXPECT_EQ(std::tie(procs[1].name, procs[1].arg_count, procs[1].has_return_value),
            std::make_tuple("Tick", 0, false));
  EXPECT_EQ(ToText(e.Call("Main", "MAIN", {Value::Str("kitchen")})), "got kitchen");
  EXPECT_TRUE(e.FindProcedure("main", "tick").has_value());
  EXPECT_FALSE(e.FindProcedure("Main", "Missing").has_value());
  // Modules do not see each other's names.
  e.AddCode("M1", "Function Main(x)\n Main = x * 2\nEnd Function\n");
  EXPECT_EQ(ToLong(e.Call("M1", "main", {Value::Long(21)})), 42);
  EXPECT_EQ(ToText(e.Call("Main", "main", {Value::Str("a")})), "got a");
  EXPECT_EQ(ErrorOf([&] { e.Call("Main", "Nope"); }).number, kErrNotDefined);
}

TEST(EngineTest, SyntaxErrorsCarryNumberLineAndColumnAndRunNothing) {
  Engine e;
  const ScriptError err =
      ErrorOf([&] { e.AddCode("Main", "x = 1\nIf x Then\n  y = 2 +\nEnd If\n"); });
  EXPECT_TRUE(err.compile);
  EXPECT_EQ(err.number, kErrExpectedExpression);
  EXPECT_EQ(err.description, "Expected expression");
  // Where the expression should have started: the end of line 3.
  EXPECT_EQ(err.line, 3);
  EXPECT_EQ(err.column, 10);
  EXPECT_EQ(err.source, "Microsoft VBScript compilation error");
  // Nothing of the failed text was defined or run.
  EXPECT_TRUE(e.Procedures("Main").empty());
  EXPECT_TRUE(e.Eval("Main", "IsEmpty(x)").raw_bool());
  const ScriptError open = ErrorOf([&] { e.AddCode("Main", "s = \"open\n"); });
  EXPECT_EQ(open.number, kErrUnterminatedString);
  EXPECT_EQ(open.line, 1);
  EXPECT_EQ(open.column, 5);
}

// Text the language rejects: the number and text of each compilation error
// (Execute and Eval report every one of these as 1002 "Syntax error").
TEST(EngineTest, RejectedTextGivesItsCompilationError) {
  struct Case {
    const char* code;
    int32_t number;  // 0: the text is accepted
    const char* text;
    int line = 0;  // 0: not checked
  };
  static const std::string deep = "x = " + std::string(300, '(') + "1";
  const Case cases[] = {
      {"Dim x As Integer", 1025, "Expected end of statement"},
      {"Function F(a,)\nEnd Function", 1010, "Expected identifier"},
      {"Sub S(a b)\nEnd Sub", 1006, "Expected ')'"},
      {"x = ", 1023, "Expected expression"},
      {"x = (1", 1006, "Expected ')'"},
      {"If 1 Then\nx = 1", 1014, "Expected 'End'", 2},
      {"For i = 1 To 2\nx = 1", 1020, "Expected 'Next'", 2},
      {"Do\nx = 1", 1019, "Expected 'Loop'"},
      {"While 1\nx = 1", 1018, "Expected 'Wend'"},
      {"Loop", 1038, "'loop' without 'do'", 1},
      {"Next\n", 1055, "Unexpected 'Next'", 1},
      {"Foo 1,\nSub Foo(a, b) : End Sub\nFoo(1, 2)\n", 1044,
       "Cannot use parentheses when calling a Sub", 3},
      {"Dim 5\n", 1010, "Expected identifier", 1},
      {"x = 1 2\n", 1025, "Expected end of statement", 1},
      {"Sub A\n Sub B\n End Sub\nEnd Sub\n", 1002, "Syntax error", 2},
      {"Class C\n Public Default Sub A : End Sub\n Public Default Sub B : End Sub\nEnd Class\n",
       1052, "Cannot have multiple default property/method in a Class", 3},
      {"Select Case x\n Case 1\n", 1014, "Expected 'End'", 3},
      {deep.c_str(), 28, "Out of stack space", 1},
      {"Exit For", 1039, "Invalid 'exit' statement"},
      {"Const c = x + 1", 1045, "Expected literal constant"},
      {"Const p = (1), n = -2, q = p", 0, ""},
      {"Call 1", 1010, "Expected identifier"},
      {"Dim a(n)", 1026, "Expected integer constant"},
      {"Dim a(\"3\")", 1026, "Expected integer constant"},
      {"Dim q, q", 1041, "Name redefined"},
      {"Dim r\nIf 1 Then Dim r", 1041, "Name redefined"},
      {"Dim Shared\nFunction Shared\nEnd Function", 1041, "Name redefined"},
      {"Sub TwoA(a, a)\nEnd Sub", 1041, "Name redefined"},
      {"Sub HasA(a)\nDim a\nEnd Sub", 1041, "Name redefined"},
      {"x = \"abc", 1033, "Unterminated string constant"},
      {"x = 1 $", 1032, "Invalid character"},
      {"f(1, 2)", 1044, "Cannot use parentheses when calling a Sub"},
      {"Class A\nSub Class_Initialize(x)\nEnd Sub\nEnd Class", 1053,
       "Class initialize or terminate do not have arguments"},
      {"Class A\nProperty Let P()\nEnd Property\nEnd Class", 1054,
       "Property Set or Let must have at least one argument"},
      {"Class A\nPublic Default Property Let P(x)\nEnd Property\nEnd Class", 1058,
       "'Default' specification can only be on Property Get"},
      {"Property Get P\nEnd Property", 1048, "Must be defined inside a Class"},
      {"Class A\nProperty Get P(a) : End Property\nProperty Let P(v) : End Property\nEnd Class",
       1051, "Number of arguments must be consistent across properties specification"},
      {"Class A\nProperty Let P(a, v) : End Property\nProperty Set P(v) : End Property\nEnd Class",
       1051, "Number of arguments must be consistent across properties specification"},
      {"Class A\nProperty Get P(a) : End Property\nProperty Let P(a, v) : End Property\nProperty "
       "Set P(a, v) : End Property\nEnd Class",
       0, ""},
      {"Sub S\nx = 1\nEnd Function", 1016, "Expected 'Sub'"},
      {"Function F\nEnd Sub", 1015, "Expected 'Function'"},
      {"Sub S\nIf 1 Then\nEnd Sub", 1012, "Expected 'If'"},
      {"Select Case 1\nCase 1\nEnd If", 1022, "Expected 'Select'"},
      {"With x\nEnd Select", 1029, "Expected 'With'"},
      {"For i = 1 To 2\nEnd If", 1020, "Expected 'Next'"},
      {"Do\nEnd Sub", 1019, "Expected 'Loop'"},
      {"While 1\nEnd With", 1018, "Expected 'Wend'"},
      {"Class A\nProperty Get P\nEnd Sub\nEnd Class", 1050, "Expected 'Property'"},
      {"End If", 1024, "Expected statement"},
      {"Dim ok1(3, &H4), ok2()", 0, ""},
      {"Sub A1(v) : Dim w : End Sub\nSub A2(v) : Dim w : End Sub", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    Engine e;
    if (c.number == 0) {
      e.AddCode("Main", c.code);
      continue;
    }
    const ScriptError err = ErrorOf([&] { e.AddCode("Main", c.code); });
    EXPECT_EQ(err.number, c.number);
    EXPECT_EQ(err.description, c.text);
    EXPECT_TRUE(err.compile);
    if (c.line) {
      EXPECT_EQ(err.line, c.line);
    }
  }
}

TEST(EngineTest, RuntimeErrorsReportWhereTheyHappened) {
  Engine e;
  e.AddCode("Main", "Sub Main(t)\n  Dim a\n  a = 1\n  a = a / 0\nEnd Sub\n");
  const ScriptError err = ErrorOf([&] { e.Call("Main", "Main", {Value::Str("")}); });
  EXPECT_FALSE(err.compile);
  EXPECT_EQ(err.number, kErrDivByZero);
  EXPECT_EQ(err.line, 4);
  EXPECT_EQ(err.column, 3);
  EXPECT_EQ(err.module, "Main");
  // The engine goes on working after an error.
  e.AddCode("Main", "Function Ok() : Ok = 1 : End Function");
  EXPECT_EQ(ToLong(e.Call("Main", "ok")), 1);
}

TEST(EngineTest, HostObjectWithGlobalMembersAndByRefArguments) {
  Engine e;
  std::vector<std::string> written;
  bool saw_ref = false, saw_value = true;
  auto app = MakeRef<HostObject>("Application");
  app->AddMethod("WriteLog", [&](CallArgs& a) {
    written.push_back(ToText(a[0]) + ":" + ToText(a[1]));
    return Value();
  });
  app->AddMethod("Fill", [&](CallArgs& a) {
    saw_ref = a.IsRef(0);
    saw_value = a.IsRef(1);
    a.Set(0, Value::Str("filled"));
    a.Set(1, Value::Str("ignored"));
    return Value();
  });
  app->AddProperty("Version", [](CallArgs&) { return Value::Str("1.6.174"); });
  int level = 0;
  app->AddProperty(
      "Level", [&](CallArgs&) { return Value::Long(level); },
      [&](CallArgs& a) {
        level = ToLong(a[a.size() - 1]);
        return Value();
      });
  e.AddObject("xap", app, true);
  e.AddCode("Main",
            "Sub Main(t)\n"
            "  WriteLog \"Corvane\", \"from \" & t\n"
            "  xap.WriteLog \"c\", Version\n"
            "  Dim v : v = \"before\"\n"
            "  Fill v, (t)\n"
            "  xap.WriteLog \"v\", v\n"
            "  xap.Level = 7\n"
            "  Level = Level + 1\n"
            "End Sub\n");
  e.Call("Main", "main", {Value::Str("kitchen")});
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(written[0], "Corvane:from kitchen");
  EXPECT_EQ(written[1], "c:1.6.174");
  EXPECT_EQ(written[2], "v:filled");
  EXPECT_TRUE(saw_ref);
  EXPECT_FALSE(saw_value);
  EXPECT_EQ(level, 8);
}

TEST(EngineTest, HostCallsWithByRefArgumentsSeeScriptChanges) {
  Engine e;
  e.AddCode("Main", "Sub Twice(n)\n n = n * 2\nEnd Sub\n");
  Value n = Value::Long(21);
  e.Call("Main", "Twice", {Value::RefTo(&n)});
  EXPECT_EQ(ToLong(n), 42);
  Value m = Value::Long(1);
  e.Call("Main", "Twice", {m});
  EXPECT_EQ(ToLong(m), 1);
}

TEST(EngineTest, HostCollectionsAndDefaultMembers) {
  Engine e;
  auto list = MakeRef<HostObject>("Items");
  std::vector<std::string> names = {"a", "b", "c"};
  list->AddMethod("Item", [&](CallArgs& a) { return Value::Str(names.at(ToLong(a[0]))); });
  list->AddProperty("Count", [&](CallArgs&) { return Value::Long(3); });
  list->SetDefault("Item");
  list->SetEnumeration([&] {
    std::vector<Value> v;
    for (auto& n : names) v.push_back(Value::Str(n));
    return v;
  });
  e.AddObject("Items", list);
  EXPECT_EQ(ToText(e.Eval("", "Items(1) & Items.Item(2) & Items.Count")), "bc3");
  e.AddCode("", "Function All()\n For Each x In Items : All = All & x : Next\nEnd Function\n");
  EXPECT_EQ(ToText(e.Call("", "All")), "abc");
}

TEST(EngineTest, ResetDropsCodeAndRunsTerminate) {
  Engine e;
  std::vector<std::string> log;
  auto out = MakeRef<HostObject>("Out");
  out->AddMethod("Say", [&](CallArgs& a) {
    log.push_back(ToText(a[0]));
    return Value();
  });
  e.AddObject("Out", out);
  e.AddCode("",
            "Class Res\n Private Sub Class_Terminate() : Out.Say \"bye\" : End Sub\nEnd Class\n"
            "Class Cyc\n Public Other\nEnd Class\n"
            "Set keep = New Res\n"
            "Set a = New Cyc : Set b = New Cyc : Set a.Other = b : Set b.Other = a\n"
            "Function F() : F = 1 : End Function\n");
  EXPECT_TRUE(log.empty());
  e.Reset();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "bye");
  EXPECT_TRUE(e.Procedures("").empty());
  // Published objects are gone too.
  e.AddCode("", "x = IsEmpty(Out)");
  EXPECT_TRUE(e.Eval("", "x").raw_bool());
}

TEST(EngineTest, ResetFromInsideARunningScriptIsSafe) {
  Engine e;
  auto host = MakeRef<HostObject>("Host");
  host->AddMethod("Restart", [&](CallArgs&) {
    e.Reset();
    e.AddCode("Main", "Function Main(t) : Main = \"new \" & t : End Function");
    return Value();
  });
  e.AddObject("Host", host, true);
  e.AddCode("Main",
            "Function Main(t)\n Dim before : before = \"old\"\n Restart\n"
            " Main = before & \" code still ran\"\nEnd Function\n");
  EXPECT_EQ(ToText(e.Call("Main", "Main", {Value::Str("x")})), "old code still ran");
  EXPECT_EQ(ToText(e.Call("Main", "Main", {Value::Str("x")})), "new x");
}

TEST(EngineTest, MsgBoxAndInputBoxGoToTheLog) {
  Engine e;
  std::vector<std::string> log;
  e.SetLogSink([&](std::string_view kind, std::string_view text) {
    log.push_back(std::string(kind) + "|" + std::string(text));
  });
  Value r = e.Eval("", "MsgBox(\"Sure?\", vbYesNo, \"Ask\") & InputBox(\"Name\", \"T\", \"dflt\")");
  EXPECT_EQ(ToText(r), "6dflt");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "MsgBox|Ask: Sure?");
  EXPECT_EQ(log[1], "InputBox|Name");
}

TEST(EngineTest, InjectedClockDrivesNow) {
  EngineOptions o;
  o.clock = [] { return 46362.25; };  // 12/6/2026 6:00 AM
  Engine e(o);
  EXPECT_EQ(ToText(e.Eval("", "Now")), "12/6/2026 6:00:00 AM");
  EXPECT_EQ(ToText(e.Eval("", "Date & \" \" & Time")), "12/6/2026 6:00:00 AM");
}

TEST(EngineTest, ProgIdsRegisteredByTheHost) {
  Engine e;
  int made = 0;
  e.RegisterProgId("Corvane.Thing", [&] {
    ++made;
    auto o = MakeRef<HostObject>("Thing");
    o->AddProperty("Kind", [](CallArgs&) { return Value::Str("thing"); });
    return Ref<Object>(o);
  });
  EXPECT_EQ(ToText(e.Eval("", "CreateObject(\"corvane.thing\").Kind")), "thing");
  EXPECT_EQ(made, 1);
  EXPECT_EQ(ErrorOf([&] { e.Eval("", "CreateObject(\"No.Such\")"); }).number, kErrCantCreate);
}

TEST(EngineTest, ScriptTextIsReadInUtf8AndBothUtf16ByteOrders) {
  // "A", U+20AC and U+1F600 (a surrogate pair in UTF-16).
  const std::string want = "A\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(DecodeScriptText(std::string("\xFF\xFE"
                                         "A\0"
                                         "\xAC\x20"
                                         "\x3D\xD8\x00\xDE",
                                         10)),
            want);
  EXPECT_EQ(DecodeScriptText(std::string("\xFE\xFF"
                                         "\0A"
                                         "\x20\xAC"
                                         "\xD8\x3D\xDE\x00",
                                         10)),
            want);
  EXPECT_EQ(DecodeScriptText("\xEF\xBB\xBF" + want), want);
  // A lone surrogate stays a character of its own instead of ending the text.
  EXPECT_EQ(DecodeScriptText(std::string("\xFF\xFE"
                                         "\x3D\xD8"
                                         "B\0",
                                         6)),
            "\xED\xA0\xBD"
            "B");
}

TEST(EngineTest, GetRefGivesTheHostACallableObject) {
  Engine e;
  e.AddCode("", "Function Handler(x) : Handler = \"handled \" & x : End Function");
  Value ref = e.Eval("", "GetRef(\"Handler\")");
  ASSERT_TRUE(ref.IsObject());
  Value arg = Value::Str("event");
  CallArgs args(&arg, 1);
  EXPECT_EQ(ToText(ref.obj()->Invoke(kDefaultMember, InvokeKind::kGet, args)), "handled event");
}

}  // namespace
}  // namespace corvane::vbs
