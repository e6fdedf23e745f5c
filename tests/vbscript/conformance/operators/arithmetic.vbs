' Integer division and Mod round their operands half to even first.
WScript.Echo 7 \ 2, -7 \ 2, 2.5 \ 1, 3.5 \ 1, 5.5 Mod 2, 6.5 Mod 4, -7 Mod 3, 7 Mod -3
' A sign binds before "^": -2 ^ 2 is (-2) ^ 2.
WScript.Echo 2 ^ 3 ^ 2, -2 ^ 2, 2 ^ -1, 10 / 4, 9 / 3, 2 * 3 + 4, 2 + 3 * 4, (2 + 3) * 4
WScript.Echo 1 + 2 & 3, "a" & 1 + 2, 5 - -3, - -4
WScript.Echo "1" + "2", "1" + 2, 1 + "2", "3" - "1", "2" * "3"
WScript.Echo 1 + Empty, Empty + "x", Empty & "y", Empty - 1
WScript.Echo #1/1/2020# + 1, #1/2/2020# - #1/1/2020#, TypeName(#1/2/2020# - #1/1/2020#), TypeName(#1/1/2020# + 1)
WScript.Echo CCur(1.23456) * 2, CCur(10) / 4, TypeName(CCur(1) + 1)
On Error Resume Next
x = 1 / 0
WScript.Echo Err.Number, Err.Description
Err.Clear
x = 0 / 0
WScript.Echo Err.Number, Err.Description
Err.Clear
x = 5 \ 0
WScript.Echo Err.Number
Err.Clear
x = 5 Mod 0
WScript.Echo Err.Number
Err.Clear
x = "abc" + 1
WScript.Echo Err.Number, Err.Description
Err.Clear
x = CInt(40000)
WScript.Echo Err.Number, Err.Description
Err.Clear
x = 2147483647 \ 1 + 2147483647 \ 1
WScript.Echo Err.Number, x
