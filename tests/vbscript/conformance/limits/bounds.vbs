' Bounds and counts far outside what fits give errors, not overflows.
On Error Resume Next
ReDim b(2147483647)
WScript.Echo Err.Number
Err.Clear
x = DateAdd("m", 1E+300, Now)
WScript.Echo Err.Number
Err.Clear
x = DateAdd("s", -1E+300, Now)
WScript.Echo Err.Number
