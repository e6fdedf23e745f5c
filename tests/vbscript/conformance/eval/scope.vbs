' Names Execute and Eval see inside a procedure: the procedure's locals, the
' globals and host objects it uses, and variables it shares with the code.
Dim shared
shared = "global"
Sub UsesHostAndGlobals
  On Error Resume Next
  Execute "WScript.Echo ""host object seen"", shared"
  WScript.Echo Err.Number, TypeName(WScript)
  Execute "shared = shared & "" changed"""
  WScript.Echo Eval("shared"), shared
End Sub
UsesHostAndGlobals
WScript.Echo shared
Sub CreatesLocal
  Execute "made = 5"
  WScript.Echo "made", made, Eval("made * 2")
End Sub
CreatesLocal
WScript.Echo "outside", IsEmpty(made)
Sub GlobalFromInside
  ExecuteGlobal "madeGlobal = 9"
End Sub
GlobalFromInside
WScript.Echo madeGlobal
' Variables Execute creates inside a procedure are its locals: later Execute
' and Eval code in the same call sees them, other calls and the top level do not.
Sub MakesLocals(tag)
  Execute "Dim fixed(2) : fixed(1) = tag"
  Execute "counter = counter + 1"
  Execute "WScript.Echo ""made"", fixed(1), counter, UBound(fixed)"
  WScript.Echo Eval("fixed(1) & counter")
End Sub
MakesLocals "first"
MakesLocals "second"
WScript.Echo IsEmpty(counter), IsEmpty(fixed)
Function Depth(n)
  Execute "level" & n & " = n"
  If n < 3 Then
    Depth = Depth(n + 1)
  Else
    Depth = Eval("IsEmpty(level1) & "" "" & level3")
  End If
End Function
WScript.Echo Depth(1)
' Inside a function, Execute and Eval code sees the function's name as its
' result, as the function's own code does.
Function Result
  Result = 5
  Result = Eval("Result + 1")
  Execute "Result = Result * 10"
End Function
WScript.Echo Result()
Class Holder
  Public Property Get Made
    Execute "Set Made = New Holder"
  End Property
End Class
Set h = New Holder
WScript.Echo TypeName(h.Made)
