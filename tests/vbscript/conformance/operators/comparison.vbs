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
