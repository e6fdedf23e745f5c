' Scripts that build huge values get "Out of memory", not a crash.
On Error Resume Next
s = Space(2000000000)
WScript.Echo Err.Number, Err.Description
Err.Clear
ReDim a(2000000000)
WScript.Echo Err.Number
Err.Clear
s = ""
ReDim b(10, 10, 10, 10, 10, 10, 10, 10)
WScript.Echo Err.Number
Err.Clear
WScript.Echo Len(String(1000000, "y"))
