' Unbounded recursion is run-time error 28, never a crash.
Function Down(n)
  Down = Down(n + 1)
End Function
Class Looper
  Public Default Property Get Value()
    Value = Me + 1
  End Property
End Class
On Error Resume Next
Down 1
WScript.Echo Err.Number, Err.Description
Err.Clear
Set o = New Looper
x = o + 1
WScript.Echo Err.Number, Err.Description
Err.Clear
Sub EvalDeep(n)
  Eval "EvalDeep(" & (n + 1) & ")"
End Sub
EvalDeep 1
WScript.Echo Err.Number
Err.Clear
On Error GoTo 0
Down 1
