Sub Needs(a, b)
End Sub
On Error Resume Next
Needs 1
WScript.Echo Err.Number, Err.Description
Err.Clear
Undefined 1
WScript.Echo Err.Number
On Error GoTo 0
Needs 1, 2, 3
