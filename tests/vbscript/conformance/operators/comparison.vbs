' String/number comparison: a number literal reads a text variable as a
' number; two variables of different kinds compare number < text.
Dim s, n, e
s = "10"
n = 10
WScript.Echo s = 10, s = "10", n = "10", n = s, n < s, s > 9
WScript.Echo "abc" < "abd", "B" < "a", "a" = "A", StrComp("a", "A"), StrComp("a", "A", 1)
WScript.Echo e = 0, e = "", e = Empty, IsNull(Null = Null), IsNull(1 < Null)
WScript.Echo 1 = 1.0, CInt(1) = CLng(1), #1/1/2000# = 36526, True = -1, True = 1
WScript.Echo "a" <> "b", 2 >= 2, 3 <= 2, 2 => 1, 1 =< 1
Dim o1, o2
Set o1 = CreateObject("Scripting.Dictionary")
Set o2 = o1
WScript.Echo o1 Is o2, o1 Is Nothing, Nothing Is Nothing
' A Single meets a Double at the Single's precision.
WScript.Echo CSng(0.001 * 0.001) = 0.000001, CSng(0.1) = 0.1, CSng(0.1) < 0.1, CDbl(CSng(0.1)) = 0.1
' A number written in place reads text as a number (error 13 when it is
' none); text written in place compares as text; Booleans, Bytes and
' Currency meet text as their own text.
WScript.Echo 9 < "10", "10" > 100, "True" = True, "-1" = True, "true" = True, "10" > CByte(5)
Dim five : five = 5
Const FIVE_C = 5
WScript.Echo "abc" = five, "010" = (5 + 5), "abc" = -5, "abc" = FIVE_C
On Error Resume Next
x = ("abc" = 5) : WScript.Echo """abc"" = 5:", Err.Number : Err.Clear
x = ("" > 0) : WScript.Echo """"" > 0:", Err.Number : Err.Clear
On Error GoTo 0
