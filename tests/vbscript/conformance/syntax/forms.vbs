' Statement forms the language accepts: procedures without parentheses,
' statements sharing a line with Case and End, comparison spellings,
' keywords used as names and parenthesised callees.
Sub Main
  WScript.Echo "Main runs"
End Sub
Function Answer
  Answer = 42
End Function
Main
WScript.Echo Answer, Answer()

' A statement may share a line with its Case, and End Sub / End Function /
' End Property / End Class may follow a statement without a colon.
Function Pick(n)
  Select Case n
  Case 1  Pick = "one"
  Case 2, 3 Pick = "two or three" : Pick = Pick & "!"
  Case Is > 10 Pick = "big"
  Case Else Pick = "other"
  End Select
End Function
WScript.Echo Pick(1), Pick(3), Pick(11), Pick(5)
Function One : One = 1 End Function
Sub Shout : WScript.Echo "shout" End Sub
Sub Twice(x)
  x = x * 2 End Sub
Class Bare
  Public v End Class
Class Boxed
  Private m
  Property Get V : V = m End Property
  Property Let V(x) : m = x End Property
End Class
Dim n : n = 4 : Twice n
Set b = New Boxed : b.V = 7
WScript.Echo One, n, b.V, TypeName(New Bare)
Shout
Sub Inline : If 1 Then WScript.Echo "inline if" End Sub
Inline
Function Pick2(a) : If a Then Pick2 = 1 Else Pick2 = 2 End Function
WScript.Echo Pick2(0), Pick2(1)
If 1 Then WScript.Echo "a" : WScript.Echo "b" End If

' Comparison spellings.
WScript.Echo 1 >< 2, 2 >< 2, 1 =< 2, 3 =< 2, 1 => 2, 2 => 2

' Words that are keywords only in some places are names elsewhere.
Dim Property, Default, Error, Explicit, Get, Preserve, Resume, Step
Property = 1 : Default = 2 : Error = 3 : Explicit = 4
Get = 5 : Preserve = 6 : Resume = 7 : Step = 8
WScript.Echo Property, Default, Error, Explicit, Get, Preserve, Resume, Step
For Step = 1 To 5 Step 2 : Next
WScript.Echo Step
Sub Report(Get) : WScript.Echo "report", Get End Sub
Report 1
Call Report(2)
Class Words
  Public Property
  Public Get, Step
  Public Function Error(Default) : Error = Default * 2 : End Function
End Class
Set w = New Words
w.Property = 8 : w.Get = 9
WScript.Echo w.Property, w.Get, w.Error(4)
With w : .Step = 10 : WScript.Echo .Step : End With

' Parentheses around a callee only group it.
Function Double(x)
  Double = x * 2
End Function
Call (((Double))) ((3))
y = (Double)(4) : z = ((Double))(5)
arr = Array(7, 8)
WScript.Echo y, z, ((arr))(0) + (arr)(1)

' Other forms.
Dim [my var] : [my var] = 10 : WScript.Echo [my var]
If 1 Then a = 1 : c = 2 Else d = 3
WScript.Echo a, c, IsEmpty(d)
If 1 Then If 0 Then e = 1 Else e = 2
WScript.Echo e
Select Case 3 : Case 1 : f = 1 : Case 3 : f = 3 : End Select
WScript.Echo f
Select Case 3
End Select
Do : Exit Do : Loop
WScript.Echo .5, 1., &HFF&, &O17, &17, TypeName(1.)
WScript.Echo -2 ^ 2, 2 ^ -1, Not 1 = 2

' ".member" outside any With is valid text that fails when it runs.
On Error Resume Next
x = .Missing
WScript.Echo Err.Number, Err.Description

' "(...)" right after a Sub's name, followed by more, opens its argument;
' a member chain goes on after a line continuation; End If may follow a
' statement on its line.
Sub ShowArg(a) : WScript.Echo "arg:", a : End Sub
ShowArg(10 \ 2) + 1
Set chained = CreateObject("Scripting.Dictionary")
chained.Add "k", 1
WScript.Echo chained _
  .Count
If False Then
  y = 2
Else y = 3 End If
WScript.Echo "y:", y
