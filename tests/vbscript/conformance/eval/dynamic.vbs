' Eval, Execute, ExecuteGlobal and GetRef.
Dim x
x = 10
WScript.Echo Eval("x * 2"), Eval("x = 10"), TypeName(Eval("""text""")), Eval("Len(""abc"") + 1")
Execute "x = x + 5"
WScript.Echo x
Execute "Dim y : y = 3" & vbCrLf & "x = x + y"
WScript.Echo x
ExecuteGlobal "Function Square(n) : Square = n * n : End Function"
WScript.Echo Square(7)
Sub UsesLocals
  Dim local
  local = 2
  Execute "local = local * 21"
  WScript.Echo "local", local, Eval("local + 1")
End Sub
UsesLocals
Class Holder
  Public V
  Public Function Twice() : Twice = Eval("V * 2") : End Function
End Class
Set h = New Holder
h.V = 8
WScript.Echo h.Twice()
Function Greet(name)
  Greet = "hello " & name
End Function
Set fn = GetRef("Greet")
WScript.Echo fn("world"), TypeName(fn)
Sub Callback(n)
  WScript.Echo "callback", n
End Sub
Set cb = GetRef("Callback")
cb 42
On Error Resume Next
Eval "1 +"
WScript.Echo Err.Number, Err.Description
Err.Clear
Set bad = GetRef("NoSuchProc")
WScript.Echo Err.Number
Err.Clear
' Eval returns a value that is no text as it is; Execute and GetRef need text.
WScript.Echo Eval(123), IsNull(Eval(Null)), IsEmpty(Eval(Empty)), Err.Number
Execute 123 : WScript.Echo "Execute 123:", Err.Number : Err.Clear
ExecuteGlobal Null : WScript.Echo "ExecuteGlobal Null:", Err.Number : Err.Clear
Set bad = GetRef(Empty) : WScript.Echo "GetRef(Empty):", Err.Number : Err.Clear
Execute "x = " : WScript.Echo "Execute ""x = "":", Err.Number, Err.Description : Err.Clear
On Error GoTo 0
' A variable Execute declares inside a procedure belongs to that procedure.
Sub DeclaresThroughExecute
  Execute "Dim made : made = 20"
  WScript.Echo "made:", made
End Sub
DeclaresThroughExecute
WScript.Echo "made outside:", IsEmpty(made)
