' On Error state belongs to each procedure; an error in a callee without a
' handler abandons the callee and resumes after the call in the caller.
Function Risky(n)
  Risky = "start"
  Risky = 10 / n
  Risky = Risky & " done"
End Function
Sub Guarded
  On Error Resume Next
  x = 1 / 0
  WScript.Echo "guarded continues", Err.Number
End Sub
On Error Resume Next
r = "unset"
r = Risky(0)
WScript.Echo r, Err.Number, Err.Description
Err.Clear
Guarded
WScript.Echo "back", Err.Number
If 1 / 0 > 1 Then
  WScript.Echo "then branch after error in condition"
Else
  WScript.Echo "else branch"
End If
Err.Clear
Err.Raise 5
WScript.Echo Err.Number, Err.Description, Err.Source
Err.Raise vbObjectError + 1, "MyApp", "custom"
WScript.Echo Err.Number, Err.Number - vbObjectError, Err.Source, Err.Description
Err.Raise 12345
WScript.Echo Err.Number, Err.Description
Err.Clear
WScript.Echo Err.Number, "[" & Err.Description & "]", Err
Err.Number = 7
WScript.Echo Err.Description, Err.Number
On Error GoTo 0
WScript.Echo "handler off", Err.Number
Sub Inner
  Err.Raise 1000, "inner", "from inner"
End Sub
Sub Outer
  On Error Resume Next
  Inner
  WScript.Echo "outer sees", Err.Number, Err.Description
  Exit Sub
End Sub
Outer
WScript.Echo "after outer", Err.Number
On Error Resume Next
Dim arr(2)
For i = 0 To 4
  arr(i) = i
  If Err.Number <> 0 Then WScript.Echo "error at", i : Err.Clear
Next
Set o = Nothing
For Each tryStmt In Array("o.Method", "n = Nothing", "Set s = ""text""")
  Err.Clear
  Execute tryStmt
  WScript.Echo tryStmt & " =>", Err.Number, Err.Description
Next
Err.Clear
WScript.Echo "x" + 1
WScript.Echo Err.Number
