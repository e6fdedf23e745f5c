' Scripting.Dictionary: every member, key kinds, order and CompareMode.
Dim d, k
Set d = CreateObject("Scripting.Dictionary")
d.Add "b", 2
d.Add "a", 1
d.Add 3, "three"
d("c") = "via default"
WScript.Echo d.Count, d("b"), d.Item("a"), d(3), d.Exists("c"), d.Exists("C"), d.Exists(3), d.Exists("3")
For Each k In d
  WScript.Echo "key", k, TypeName(k), d(k)
Next
WScript.Echo Join(d.Keys, ","), d.Items()(0)
d.Key("b") = "bb"
WScript.Echo Join(d.Keys, ","), d("bb")
d.Remove "a"
WScript.Echo Join(d.Keys, ","), d.Count
x = d("missing")
WScript.Echo d.Count, d.Exists("missing"), IsEmpty(x)
d.Item("missing") = "now set"
WScript.Echo d("missing")
d.RemoveAll
WScript.Echo d.Count, UBound(d.Keys)
d.CompareMode = vbTextCompare
d.Add "Key", 1
WScript.Echo d.Exists("KEY"), d("key"), d.CompareMode
On Error Resume Next
For Each tryStmt In Array("d.Add ""KEY"", 2", "d.Remove ""nothing""", "d.CompareMode = 0")
  Err.Clear
  Execute tryStmt
  WScript.Echo tryStmt & " =>", Err.Number, Err.Description
Next
Err.Clear
On Error GoTo 0
Dim n
Set n = CreateObject("Scripting.Dictionary")
n.Add 1, "int"
n.Add 1.5, "double"
WScript.Echo n(CLng(1)), n(1.5), n.Exists(CDbl(1)), n.Count
Set inner = CreateObject("Scripting.Dictionary")
inner.Add "x", 10
n.Add "obj", inner
WScript.Echo n("obj")("x"), n.Item("obj").Item("x")
n("obj")("x") = 20
WScript.Echo inner("x")
Set n(inner) = inner
WScript.Echo n.Exists(inner), n(inner)("x")
Dim big, i
Set big = CreateObject("Scripting.Dictionary")
For i = 1 To 5000
  big.Add "k" & i, i
Next
For i = 1 To 5000 Step 2
  big.Remove "k" & i
Next
WScript.Echo big.Count, big("k5000"), big.Keys()(0), big.Exists("k1")
' Keys added after removals (the table is rebuilt) follow the remaining ones.
For i = 1 To 2000
  big.Add "m" & i, i
Next
WScript.Echo big.Count, big.Keys()(2499), big.Keys()(2500), big("m2000")
' Text mode folds letters beyond ASCII as well.
Set t = CreateObject("Scripting.Dictionary")
t.CompareMode = vbTextCompare
t.Add "Été", 1
WScript.Echo t.Exists("éTÉ"), t("ÉTÉ"), t.Count
