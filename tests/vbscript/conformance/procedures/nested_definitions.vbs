' Procedures written inside a block of the main code are defined for the
' whole script, whether or not the block runs, and before it is reached.
Dim hits
hits = ""
Early
If False Then
  Sub Early
    hits = hits & "early "
  End Sub
End If
For i = 1 To 1
  Public Function Twice(n)
    Twice = n * 2
  End Function
Next
Do
  Private Sub Inner()
    hits = hits & "inner "
  End Sub
  Exit Do
Loop
Inner
WScript.Echo hits & Twice(21)
