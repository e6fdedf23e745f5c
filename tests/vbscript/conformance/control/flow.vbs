' Loops, Select Case, If forms, With and Exit.
Dim i, s, n
s = ""
For i = 1 To 3 : s = s & i : Next
For i = 10 To 1 Step -4 : s = s & "," & i : Next
For i = 1 To 0 : s = s & "never" : Next
WScript.Echo s, i
n = 3
For i = 1 To n
  n = 10
Next
WScript.Echo i
For i = 0.5 To 2 Step 0.5 : s = s & ";" & i : Next
WScript.Echo s
For i = 1 To 10
  If i = 4 Then Exit For
Next
WScript.Echo "exit for at", i
i = 0
Do
  i = i + 1
  If i >= 5 Then Exit Do
Loop
WScript.Echo "do", i
Do While i > 0 : i = i - 2 : Loop
WScript.Echo i
Do Until i >= 3 : i = i + 1 : Loop
WScript.Echo i
Do : i = i + 1 : Loop While i < 7
WScript.Echo i
Do : i = i + 1 : Loop Until True
WScript.Echo i
While i > 5 : i = i - 1 : Wend
WScript.Echo i
For Each x In Array("a", "b")
  For Each y In Array(1, 2)
    s = x & y
  Next
Next
WScript.Echo s
Function Classify(v)
  Select Case v
    Case 1, 2, 3 : Classify = "small"
    Case 4 To 9 : Classify = "medium"
    Case Is >= 10 : Classify = "large"
    Case Else : Classify = "other"
  End Select
End Function
WScript.Echo Classify(2), Classify(5), Classify(50), Classify(-1), Classify("5")
Select Case "Apple"
  Case "apple" : WScript.Echo "case-insensitive?"
  Case "Apple" : WScript.Echo "exact"
End Select
If 1 = 1 Then WScript.Echo "one" : WScript.Echo "two"
If 1 = 2 Then WScript.Echo "no" Else WScript.Echo "else" : WScript.Echo "else2"
If False Then
ElseIf 2 > 1 Then
  WScript.Echo "elseif"
End If
If Null Then WScript.Echo "null true" Else WScript.Echo "null false"
If Not Null Then WScript.Echo "not null true" Else WScript.Echo "not null false"
Dim d
Set d = CreateObject("Scripting.Dictionary")
With d
  .Add "k", "v"
  With New RegExp
  End With
  WScript.Echo .Count, .Item("k")
End With
Sub Early(x)
  If x Then Exit Sub
  WScript.Echo "not early"
End Sub
Early True
Early False
Function Eval1()
  Eval1 = 1
  Exit Function
  Eval1 = 2
End Function
WScript.Echo Eval1()

' For Each that runs out leaves its variable Empty; Exit For keeps the
' element; a declared array without bounds has no element to visit.
Dim item, visits, noBounds()
For Each item In Array(1, 2, 3) : Next
WScript.Echo "after For Each:", TypeName(item)
For Each item In Array(1, 2, 3)
  If item = 2 Then Exit For
Next
WScript.Echo "after Exit For:", item
visits = 0
For Each item In noBounds : visits = visits + 1 : Next
WScript.Echo "visits of Dim a():", visits
