' The interpreter's fast paths give what the general operators give.
Dim x, n, r, o
On Error Resume Next
x = 1E308 : x = x + x : WScript.Echo "add", Err.Number, x : Err.Clear
x = -1E308 : x = x - 1E308 : WScript.Echo "sub", Err.Number, x : Err.Clear
On Error GoTo 0
WScript.Echo 2147483647 + 1, TypeName(2147483647 + 1), 32767 + 1, TypeName(32767 + 1)
WScript.Echo 1.5 + 2, 2 + 1.5, 1 - 0.25, TypeName(CInt(1) - 0.5)
x = Null
If x > 1 Then WScript.Echo "then" Else WScript.Echo "else"
n = 0
Do : n = n + 1 : Loop Until n >= 3
WScript.Echo n
Class Holder
  Public Sub DropSelf()
    Set o = Nothing
    WScript.Echo "still running"
  End Sub
  Private Sub Class_Terminate()
    WScript.Echo "terminated"
  End Sub
End Class
Set o = New Holder
o.DropSelf
WScript.Echo "after", TypeName(o)
