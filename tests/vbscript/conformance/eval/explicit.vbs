Option Explicit
Dim declared
declared = 1
Sub UsesUndeclared
  WScript.Echo "in sub"
  undeclared = 5
End Sub
On Error Resume Next
UsesUndeclared
WScript.Echo Err.Number, Err.Description
On Error GoTo 0
WScript.Echo declared
other = 2
