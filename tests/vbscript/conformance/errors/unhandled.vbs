WScript.Echo "before"
Sub Deep
  Dim a
  a = CLng("abc")
End Sub
Deep
WScript.Echo "never"
