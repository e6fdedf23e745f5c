' ByRef and ByVal: an argument in its own parentheses is passed by value.
Sub Inc(a)
  a = a + 1
End Sub
Sub IncVal(ByVal a)
  a = a + 1
End Sub
Dim x, arr(1)
x = 1
Inc x
WScript.Echo x
Inc (x)
WScript.Echo x
Call Inc(x)
WScript.Echo x
Call Inc((x))
WScript.Echo x
IncVal x
WScript.Echo x
Inc x + 0
WScript.Echo x
arr(0) = 10
Inc arr(0)
WScript.Echo arr(0)
Function AddOne(ByRef v)
  v = v + 1
  AddOne = v * 10
End Function
WScript.Echo AddOne(x), x
y = AddOne((x))
WScript.Echo y, x
Sub Two(a, b)
  a = "A" : b = "B"
End Sub
Dim p, q
Two p, q
WScript.Echo p, q
Two (p), q
Function NoArgs
  NoArgs = "called"
End Function
WScript.Echo NoArgs, NoArgs()
Function Fact(n)
  If n <= 1 Then
    Fact = 1
  Else
    Fact = n * Fact(n - 1)
  End If
End Function
WScript.Echo Fact(10), Fact(20)
Function Self()
  Self = 5
  Self = Self + 1
End Function
WScript.Echo Self()
Sub Swap(a, b)
  Dim t : t = a : a = b : b = t
End Sub
Dim m, n : m = "first" : n = "second"
Swap m, n
WScript.Echo m, n
Dim g : g = "global"
Sub Shadow
  Dim g : g = "local"
End Sub
Shadow
WScript.Echo g
Sub Implicit
  implicitVar = "set inside"
  g = "changed"
End Sub
Implicit
WScript.Echo "[" & implicitVar & "]", g
Function Opt(a, b)
  Opt = TypeName(b)
End Function
WScript.Echo Opt(1, Empty)
