' Classes: fields, Property Get/Let/Set, a default member, Me, New, and
' Class_Initialize / Class_Terminate run as references come and go.
Class Point
  Public X, Y
  Private Sub Class_Initialize() : X = 0 : Y = 0 : End Sub
  Public Function ToString()
    ToString = "(" & X & "," & Y & ")"
  End Function
  Public Function Moved(dx, dy)
    Dim p
    Set p = New Point
    p.X = X + dx : p.Y = Me.Y + dy
    Set Moved = p
  End Function
End Class

Class Bag
  Private items_
  Private name_
  Private owner_
  Private Sub Class_Initialize()
    Set items_ = CreateObject("Scripting.Dictionary")
    WScript.Echo "Bag created"
  End Sub
  Private Sub Class_Terminate()
    WScript.Echo "Bag " & name_ & " terminated with " & items_.Count & " items"
  End Sub
  Public Property Get Name() : Name = name_ : End Property
  Public Property Let Name(v) : name_ = UCase(v) : End Property
  Public Property Get Owner() : Set Owner = owner_ : End Property
  Public Property Set Owner(o) : Set owner_ = o : End Property
  Public Default Property Get Item(k)
    Item = items_(k)
  End Property
  Public Property Let Item(k, v)
    items_(k) = v
  End Property
  Public Sub Add(k, v) : Item(k) = v : End Sub
  Public Property Get Count() : Count = items_.Count : End Property
  Private Function Secret() : Secret = "s" : End Function
  Public Function Reveal() : Reveal = Secret() & Me.Count : End Function
End Class

Dim p, q
Set p = New Point
p.X = 3
Set q = p.Moved(1, 2)
WScript.Echo p.ToString(), q.ToString, TypeName(p), IsObject(p), p Is q
Dim b
Set b = New Bag
b.Name = "groceries"
b.Add "apples", 3
b("pears") = 5
WScript.Echo b.Name, b("apples"), b.Item("pears"), b.Count, b.Reveal()
Set b.Owner = p
WScript.Echo b.Owner.X
On Error Resume Next
WScript.Echo b.Secret()
WScript.Echo Err.Number, Err.Description
Err.Clear
x = p.Nope
WScript.Echo Err.Number
Err.Clear
Set r = New Undefined
WScript.Echo Err.Number, Err.Description
Err.Clear
On Error GoTo 0
Set b = Nothing
WScript.Echo "after release"
Sub Scope
  Dim local
  Set local = New Bag
  local.Name = "local"
End Sub
Scope
WScript.Echo "after scope"
Class Node
  Public NextNode
  Public Value
End Class
Dim head, n, i
Set head = Nothing
For i = 1 To 3
  Set n = New Node
  n.Value = i
  Set n.NextNode = head
  Set head = n
Next
Set n = head
Do Until n Is Nothing
  WScript.Echo "node", n.Value
  Set n = n.NextNode
Loop
Set b = New Bag
b.Name = "last"
WScript.Echo "end of script"

' A script may declare a class named RegExp, but New RegExp still makes the
' built-in regular expression.
Class RegExp
  Public Property Get Global()
    Global = "script class"
  End Property
End Class
Dim builtin_re
Set builtin_re = New RegExp
WScript.Echo "New RegExp:", TypeName(builtin_re), builtin_re.Global
