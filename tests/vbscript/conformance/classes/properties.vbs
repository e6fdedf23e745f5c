' Array fields, properties giving arrays, single-line procedures, Else If.
Class List
  Private items_()
  Private n_
  Public Tags(2)
  Private Sub Class_Initialize() : n_ = 0 : ReDim items_(-1) : End Sub
  Public Sub Push(v)
    n_ = n_ + 1
    ReDim Preserve items_(n_ - 1)
    items_(n_ - 1) = v
  End Sub
  Public Property Get Items() : Items = items_ : End Property
  Public Property Get Count() : Count = n_ : End Property
End Class
Set l = New List
l.Push "a" : l.Push "b"
WScript.Echo l.Count, l.Items(1), UBound(l.Items), Join(l.Items, "+")
l.Tags(1) = "t1"
WScript.Echo l.Tags(1), UBound(l.Tags)
x = 5
If x > 3 Then ' comment after Then
  WScript.Echo "gt"
Else If x > 1 Then
    WScript.Echo "gt1"
  End If
End If
Sub S1 : WScript.Echo "s1" : End Sub
S1
Class Account
  Private balance_
  Public Property Get Balance() : Balance = balance_ : End Property
  Public Property Let Balance(v)
    If v < 0 Then Err.Raise 5, "Account", "negative balance"
    balance_ = v
  End Property
  Public Function Deposit(amount)
    Balance = Balance + amount
    Deposit = Me.Balance
  End Function
End Class
Set acc = New Account
acc.Balance = 10
WScript.Echo acc.Deposit(5), acc.Balance
On Error Resume Next
acc.Balance = -1
WScript.Echo Err.Number, Err.Source, Err.Description, acc.Balance
On Error GoTo 0
Set a2 = acc
a2.Balance = 100
WScript.Echo acc.Balance, TypeName(acc), VarType(acc), IsObject(acc)

' Property Let receives an object as it is; Set needs a Property Set (438);
' a field that holds a plain value has no index (438).
Class Holder
  Public kind, plain
  Public Property Let Item(v)
    kind = TypeName(v)
  End Property
End Class
Class Valued
  Public Default Property Get Value : Value = 42 : End Property
End Class
Set h = New Holder
h.Item = New Valued
WScript.Echo "Let got:", h.kind
h.plain = 1
On Error Resume Next
Set h.Item = New Valued : WScript.Echo "Set without Property Set:", Err.Number : Err.Clear
x = h.plain(0) : WScript.Echo "plain(0):", Err.Number : Err.Clear
h.plain(0) = 5 : WScript.Echo "plain(0) = 5:", Err.Number : Err.Clear
On Error GoTo 0
