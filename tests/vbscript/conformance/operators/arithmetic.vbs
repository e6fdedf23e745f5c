' Integer division and Mod round their operands half to even first.
WScript.Echo 7 \ 2, -7 \ 2, 2.5 \ 1, 3.5 \ 1, 5.5 Mod 2, 6.5 Mod 4, -7 Mod 3, 7 Mod -3
' A sign binds before "^": -2 ^ 2 is (-2) ^ 2.
WScript.Echo 2 ^ 3 ^ 2, -2 ^ 2, 2 ^ -1, 10 / 4, 9 / 3, 2 * 3 + 4, 2 + 3 * 4, (2 + 3) * 4
WScript.Echo 1 + 2 & 3, "a" & 1 + 2, 5 - -3, - -4
WScript.Echo "1" + "2", "1" + 2, 1 + "2", "3" - "1", "2" * "3"
WScript.Echo 1 + Empty, Empty + "x", Empty & "y", Empty - 1
WScript.Echo #1/1/2020# + 1, #1/2/2020# - #1/1/2020#, TypeName(#1/2/2020# - #1/1/2020#), TypeName(#1/1/2020# + 1)
WScript.Echo CCur(1.23456) * 2, CCur(10) / 4, TypeName(CCur(1) + 1)
' Currency and Single keep their subtype; Null passes through every operator.
WScript.Echo CCur(-1.5), -CCur(2), CCur(1.5) + CCur(2), CCur(1) < CCur(2), TypeName(CSng(1.5) * CSng(2)), TypeName(CSng(3) / CSng(2)), TypeName(-CSng(1)), CSng(1) < CDbl(2), 1 < CSng(2), TypeName(CSng(3e38) * CSng(10))
x = Null
WScript.Echo TypeName(x + 1), TypeName(1 - x), TypeName(x * 2), TypeName(x / 2), TypeName(2 / x), TypeName(x \ 2), TypeName(2 Mod x), TypeName(x ^ 2), TypeName(-x)
WScript.Echo TypeName(CByte(1) \ CByte(1)), -CByte(3), -True, -#1/1/2000#, TypeName(-Empty), CInt(True) + CByte(2)
' Failures, each with its number and text.
Dim expr
For Each expr In Array("1 / 0", "0 / 0", "5 \ 0", "5 Mod 0", """abc"" + 1", "CInt(40000)", _
    "CByte(-1)", "CBool(""#TRUE"")")
  On Error Resume Next
  Err.Clear
  x = Eval(expr)
  WScript.Echo expr & " => " & Err.Number & " " & Err.Description
  On Error GoTo 0
Next
On Error Resume Next
x = 2147483647 \ 1 + 2147483647 \ 1
WScript.Echo Err.Number, x
