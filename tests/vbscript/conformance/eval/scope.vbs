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
