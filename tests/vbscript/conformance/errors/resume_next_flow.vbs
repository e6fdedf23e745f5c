' Where On Error Resume Next goes on after a statement head fails: the next
' statement in the text, which for loops and Case tests is the body.
Function Fail(n)
  Err.Raise n
End Function

Function FailFirst(n)
  If n = 0 Then Err.Raise 5
  FailFirst = False
End Function

Sub Heads()
  On Error Resume Next
  Dim x, y
  x = 6 : y = 0
  For x = Fail(5) To 100
    y = y + 1
    WScript.Echo "For body", Err.Number, x
  Next
  WScript.Echo "after For", y, x, Err.Number
  Err.Clear
  x = 2 : y = 0
  For Each x In Fail(5)
    y = y + 1
    WScript.Echo "For Each body", Err.Number
  Next
  WScript.Echo "after For Each", y, x, Err.Number
  Err.Clear
  y = 0
  For Each x In Empty
    y = y + 1
  Next
  WScript.Echo "For Each Empty", y, Err.Number
  Err.Clear
  x = False
  Do While Fail(5)
    x = True
    Exit Do
  Loop
  WScript.Echo "Do While", x, Err.Number
  Err.Clear
  y = 0
  While FailFirst(y)
    y = y + 1
  Wend
  WScript.Echo "While", y
  Err.Clear
  Select Case Fail(5)
    Case Else
      WScript.Echo "Select head: no case runs"
  End Select
  WScript.Echo "after Select", Err.Number
  Err.Clear
  Select Case False
    Case True
      WScript.Echo "wrong case"
    Case Fail(5)
      WScript.Echo "failed Case test runs its body"
    Case Else
      WScript.Echo "wrong else"
  End Select
End Sub
Heads

' A loop run twice: the second run whose head fails does not reuse the
' first run's end.
Sub Twice()
  On Error Resume Next
  Dim i, k, n
  For k = 1 To 2
    n = 0
    If k = 1 Then
      For i = 1 To 2 : n = n + 1 : Next
    Else
      For i = Fail(7) To 2 : n = n + 1 : Next
    End If
    WScript.Echo "run", k, n, Err.Number
    Err.Clear
  Next
End Sub
Twice

' With wants an object; Nothing fails only once a member is used.
Sub Withs()
  On Error Resume Next
  Dim v
  For Each v In Array(42, "text", Empty, Null, True, Array(1))
    Err.Clear
    With v
    End With
    WScript.Echo "With " & TypeName(v), Err.Number
  Next
  Err.Clear
  With Nothing
  End With
  WScript.Echo "With Nothing", Err.Number
  With Nothing
    .Prop = 1
  End With
  WScript.Echo "With Nothing .Prop", Err.Number
  Err.Clear
  Dim o
  Set o = Nothing
  o.Prop
  WScript.Echo "Nothing.Prop", Err.Number
  Err.Clear
  Set o.Child = Nothing
  WScript.Echo "Set Nothing.Child", Err.Number
End Sub
Withs

' RegExp reads a Boolean argument as its number.
Dim re
Set re = New RegExp
re.Pattern = "\[(\w+)\]"
WScript.Echo re.Replace("- [x] -", True), re.Replace("- [x] -", 6), re.Test(True)
