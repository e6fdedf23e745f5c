' Statements at run time: what each does with unusual operands and the
' error each misuse raises.
Sub Try(src)
  On Error Resume Next
  Execute src
  If Err.Number <> 0 Then WScript.Echo src & " => " & Err.Number & " " & Err.Description
End Sub
' Dim, ReDim, Erase.
Try "Dim a(2) : ReDim a(3)"
Try "Dim a : ReDim a(2, 2) : ReDim Preserve a(3, 3)"
Try "Dim a : ReDim a(2, 2) : ReDim Preserve a(2, 4) : WScript.Echo ""preserve last"", UBound(a, 2)"
Try "Dim a : ReDim a(-1) : WScript.Echo ""empty array"", UBound(a)"
Try "Dim a : ReDim a(-2)"
Try "Dim a(2) : a(1) = 5 : Erase a : WScript.Echo ""erase fixed"", UBound(a), IsEmpty(a(1))"
Try "Dim a : ReDim a(2) : Erase a : WScript.Echo IsArray(a) : WScript.Echo UBound(a)"
Try "Dim a : a = 5 : Erase a"
Try "Dim a(2) : WScript.Echo a(3)"
Try "Dim a(2) : WScript.Echo a(1, 1)"
' Loops.
Try "For i = ""a"" To 2 : Next"
Try "n = 0 : For i = 1 To 3 Step 0 : n = n + 1 : If n > 4 Then Exit For" & vbLf & "Next : WScript.Echo ""step 0 loops"", n"
Try "For i = 3 To 1 : WScript.Echo ""never"" : Next : WScript.Echo ""no pass"", i"
Try "For Each x In 5 : Next"
Try "For Each x In Array() : Next : WScript.Echo ""no element"", IsEmpty(x)"
Try "For Each c In ""abc"" : Next"
' Conditions.
Try "Select Case Null : Case Null : WScript.Echo ""null case"" : Case Else : WScript.Echo ""Null matches no case"" : End Select"
Try "Do While Null : Loop : WScript.Echo ""Null ends Do While"""
Try "If Null Then WScript.Echo 1 Else WScript.Echo ""Null takes Else"""
Try "If ""abc"" Then WScript.Echo 1"
Try "If ""true"" Then WScript.Echo ""text True is true"""
Try "While ""x"" : Wend"
' Assignments.
Try "Set x = 5"
Try "Set x = Nothing : x.foo = 1"
Try "x = Nothing"
Try "Const K = 1 : K = 2"
Try "Set d = CreateObject(""Scripting.Dictionary"") : d = 5 : WScript.Echo ""replaced"", d"
' Calls.
Try "Sub Q(a) : End Sub : Q"
Try "Sub Q2(a) : End Sub : Q2 1, 2"
Try "Function Q3() : End Function : x = Q3(1)"
Try "x = UnknownFn(1)"
Try "Call UnknownSub"
Try "Set o = New NoSuchClass"
Try "Randomize ""x"""
Try "Randomize Null"
Try "Stop : WScript.Echo ""Stop goes on"""

' A variable that holds no object, named alone as a statement: 13.
On Error Resume Next
plainVar = 42
plainVar
WScript.Echo "plain variable as a statement:", Err.Number
On Error GoTo 0
