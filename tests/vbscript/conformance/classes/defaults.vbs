' Default members: called through the object, through Me, through array
' elements holding the object, and assigned with an index.
Class Store
  Public Arr
  Private items(3)
  Sub Class_Initialize : Arr = Array(1, 2, 3) : End Sub
  Public Default Property Get Item(i) : Item = items(i) : End Property
  Public Property Let Item(i, v) : items(i) = v : End Property
  Function Twice(n) : Twice = Me(n) * 2 : End Function
  Sub Fill : Me(0) = 5 : Me.Item(1) = 6 : End Sub
End Class
Set o = New Store
o.Fill
WScript.Echo o(0), o.Item(1), o.Twice(1)
o(2) = 7
WScript.Echo o(2), VarType(o(2))
o.Arr(1) = 20
WScript.Echo o.Arr(1)
Dim list(1)
Set list(0) = o
list(0)(3) = 4
WScript.Echo list(0)(3), list(0).Item(3)
Class Number
  Public Default Property Get Value : Value = 2.5 : End Property
End Class
Set n = New Number
WScript.Echo n + 1, n & "!", VarType(n), TypeName(n), CSng(n), TypeName(CSng(n))
