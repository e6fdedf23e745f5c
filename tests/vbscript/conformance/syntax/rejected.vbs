' Text the language rejects, compiled through Execute so each error is seen:
' the number and text of each compilation error.
Sub Try(src)
  On Error Resume Next
  Execute src
  WScript.Echo Replace(src, vbLf, "|") & " => " & Err.Number & " " & Err.Description
End Sub
Try "Dim x As Integer"
Try "x = "
Try "x = (1"
Try "If 1 Then" & vbLf & "x = 1"
Try "For i = 1 To 2" & vbLf & "x = 1"
Try "Do" & vbLf & "x = 1"
Try "While 1" & vbLf & "x = 1"
Try "Loop"
Try "Exit For"
Try "Const c = x + 1"
Try "Dim a(n)"
Try "Dim a(""3"")"
Try "Dim q, q"
Try "Dim r" & vbLf & "If 1 Then Dim r"
Try "Dim Shared" & vbLf & "Function Shared" & vbLf & "End Function"
Try "Sub TwoA(a, a)" & vbLf & "End Sub"
Try "Sub HasA(a)" & vbLf & "Dim a" & vbLf & "End Sub"
Try "x = ""abc"
Try "x = 1 $"
Try "f(1, 2)"
Try "Class A" & vbLf & "Sub Class_Initialize(x)" & vbLf & "End Sub" & vbLf & "End Class"
Try "Class A" & vbLf & "Property Let P()" & vbLf & "End Property" & vbLf & "End Class"
Try "Class A" & vbLf & "Public Default Property Let P(x)" & vbLf & "End Property" & vbLf & "End Class"
Try "Property Get P" & vbLf & "End Property"
Try "Class A" & vbLf & "Property Get P(a) : End Property" & vbLf & "Property Let P(v) : End Property" & vbLf & "End Class"
Try "Class A" & vbLf & "Property Let P(a, v) : End Property" & vbLf & "Property Set P(v) : End Property" & vbLf & "End Class"
Try "Class A" & vbLf & "Property Get P(a) : End Property" & vbLf & "Property Let P(a, v) : End Property" & vbLf & "Property Set P(a, v) : End Property" & vbLf & "End Class"
' "End" that does not close the innermost block: its closer is expected.
Try "Sub S" & vbLf & "x = 1" & vbLf & "End Function"
Try "Function F" & vbLf & "End Sub"
Try "Sub S" & vbLf & "If 1 Then" & vbLf & "End Sub"
Try "Select Case 1" & vbLf & "Case 1" & vbLf & "End If"
Try "With x" & vbLf & "End Select"
Try "For i = 1 To 2" & vbLf & "End If"
Try "Do" & vbLf & "End Sub"
Try "While 1" & vbLf & "End With"
Try "Class A" & vbLf & "Property Get P" & vbLf & "End Sub" & vbLf & "End Class"
Try "End If"
' Accepted: a fixed array with literal bounds, names declared in separate
' procedures, a dynamic array.
Try "Dim ok1(3, &H4), ok2()"
Try "Sub A1(v) : Dim w : End Sub" & vbLf & "Sub A2(v) : Dim w : End Sub"
