' Conversions with unusual inputs, subtypes of results and named constants.
WScript.Echo CBool("#TRUE#"), CBool("#false#"), CBool(" True "), CByte(True), CByte(False)
WScript.Echo TypeName(Round(True)), Round(True), TypeName(Round(2.5)), TypeName(Round("2.5"))
WScript.Echo CSng(0.001 * 0.001), CSng(1 / 3), CSng(123456789), TypeName(CSng(1))
Class WithDefault
  Public Default Property Get Value : Value = 2.5 : End Property
End Class
Class Plain
  Public x
End Class
Set o = New WithDefault
WScript.Echo CSng(o), TypeName(CSng(o)), VarType(o), TypeName(o)
WScript.Echo VarType(New Plain), VarType(CreateObject("Scripting.Dictionary")), VarType(Nothing)
' Colours and the MsgBox help flag are Long; the other MsgBox values Integer.
WScript.Echo VarType(vbBlack), VarType(vbRed), VarType(vbWhite), VarType(vbMsgBoxHelpButton)
WScript.Echo VarType(vbOKOnly), VarType(vbYes), VarType(vbLong), VarType(vbObjectError)
On Error Resume Next
x = CByte(-1)
WScript.Echo Err.Number, Err.Description
Err.Clear
x = CBool("#TRUE")
WScript.Echo Err.Number, Err.Description
