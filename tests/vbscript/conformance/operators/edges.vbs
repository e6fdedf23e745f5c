' Operators at their edges: Null in logic, result subtypes of bit operators,
' overflow and invalid operands.
Sub Show(src)
  On Error Resume Next
  Dim r : r = Eval(src)
  If Err.Number <> 0 Then WScript.Echo src & " => error " & Err.Number : Exit Sub
  WScript.Echo src & " => " & TypeName(r) & " " & r
End Sub
For Each s In Array("Null And False", "Null And True", "Null Or True", "Null Or False", "Not Null", _
  "Null Xor True", "Null Eqv True", "Null Imp True", "False Imp Null", "True Imp Null", _
  "True And 3", "CByte(1) And CByte(3)", "CByte(1) Or 256", "Empty And True", "2.5 And 1", """a"" And 1", _
  "1 Is 1", "Nothing Is Nothing", "2 ^ 1024", "(-8) ^ (1 / 3)", "5 Mod 0.4", "-5 Mod 3", "5 \ -2", _
  "CCur(5) \ 2", "&H80000000 \ -1", "1E308 * 10", "32767 * 2", "#1/1/2000# - 1", "#1/1/2000# + #1/1/2000#")
  Show s
Next
