' Fixed and dynamic arrays, ReDim Preserve, Erase, multi-dimensional
' arrays and the value semantics of assigning an array.
Dim fixed(2), dyn(), m(1, 2), a, b
fixed(0) = "x"
WScript.Echo UBound(fixed), LBound(fixed), fixed(0), IsEmpty(fixed(1)), IsArray(fixed), IsArray(dyn)
ReDim dyn(1)
dyn(0) = 1 : dyn(1) = 2
ReDim Preserve dyn(3)
dyn(3) = 4
WScript.Echo UBound(dyn), dyn(0), dyn(1), IsEmpty(dyn(2)), dyn(3)
ReDim dyn(1)
WScript.Echo IsEmpty(dyn(0))
m(1, 2) = "corner"
WScript.Echo UBound(m), UBound(m, 1), UBound(m, 2), m(1, 2)
For Each v In m
  If Not IsEmpty(v) Then WScript.Echo "each:", v
Next
a = Array(1, 2, 3)
b = a
b(0) = 99
WScript.Echo a(0), b(0)
Sub ChangeArr(arr)
  arr(1) = "changed"
End Sub
ChangeArr a
WScript.Echo a(1)
Sub ChangeByVal(ByVal arr)
  arr(2) = "no"
End Sub
ChangeByVal a
WScript.Echo a(2)
Function MakeArr()
  MakeArr = Array("r", "s")
End Function
WScript.Echo MakeArr()(1), UBound(MakeArr)
Erase fixed
WScript.Echo UBound(fixed), IsEmpty(fixed(0))
Erase dyn
On Error Resume Next
For Each tryStmt In Array("WScript.Echo UBound(dyn)", "WScript.Echo a(5)", "ReDim fixed(5)")
  Err.Clear
  Execute tryStmt
  WScript.Echo tryStmt & " =>", Err.Number, Err.Description
Next
Err.Clear
On Error GoTo 0
Dim big
ReDim big(99999)
big(99999) = 1
WScript.Echo UBound(big), big(99999)
Dim grid()
ReDim grid(2, 1)
grid(2, 1) = "g"
ReDim Preserve grid(2, 3)
WScript.Echo grid(2, 1), UBound(grid, 2)
WScript.Echo UBound(Array())

' ReDim of a fixed array is error 10 before its bounds are looked at.
Sub ReDimFixed()
  On Error Resume Next
  Dim fixed(4)
  ReDim fixed("abc")
  WScript.Echo "ReDim fixed(""abc"")", Err.Number
End Sub
ReDimFixed

' A fixed array exists once its Dim has run; a Dim that runs again (in a
' loop) keeps the array and its elements.
WScript.Echo "before its Dim:", TypeName(later)
Dim later(2)
WScript.Echo "after its Dim:", TypeName(later), UBound(later)
For i = 1 To 2
  Dim kept(1)
  kept(i - 1) = i
Next
WScript.Echo "kept:", kept(0), kept(1)

' An array held in an array element is changed in place.
nested = Array(Array("a", 0))
nested(0)(1) = 5
WScript.Echo "nested:", nested(0)(1)
On Error Resume Next
nested = Array(Nothing)
nested(0)(0) = 5
WScript.Echo "Nothing(0) = 5:", Err.Number
On Error GoTo 0
' An element of a nested array passes by reference; a copied array stays apart.
Sub Bump(ByRef v) : v = v + 1 : End Sub
outer = Array(Array(1, 2), 3)
copied = outer
Bump outer(0)(1)
z3 = Array(Array(Array(0)))
z3(0)(0)(0) = 9 : Bump z3(0)(0)(0)
WScript.Echo "nested ByRef:", outer(0)(1), copied(0)(1), z3(0)(0)(0)
