' Bounds, counts and sizes far outside what fits give errors ("Out of
' memory" for huge values), never an overflow or a crash.
Dim stmt
For Each stmt In Array("ReDim b(2147483647)", "x = DateAdd(""m"", 1E+300, Now)", _
    "x = DateAdd(""s"", -1E+300, Now)", "s = Space(2000000000)", "ReDim a(2000000000)", _
    "ReDim c(10, 10, 10, 10, 10, 10, 10, 10)")
  On Error Resume Next
  Err.Clear
  Execute stmt
  WScript.Echo stmt & " => " & Err.Number & " " & Err.Description
  On Error GoTo 0
Next
WScript.Echo Len(String(1000000, "y"))
