WScript.Echo "this must not run"
If x Then
  y = (1 + 2
End If
