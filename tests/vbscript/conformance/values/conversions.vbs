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
' A number conversion called as a statement: the result it cannot hand back
' is error 458 once the conversion itself succeeded; its own errors come first.
Dim stmt
For Each stmt In Array("Call CInt(1)", "CLng 1", "Call CDate(1)", "Call CCur(""-1"")", _
    "Call CByte(""258"")", "Call CInt(32767.5)", "Call CDate(Null)")
  On Error Resume Next
  Err.Clear
  Execute stmt
  WScript.Echo stmt & " => " & Err.Number
  On Error GoTo 0
Next
' Numbers in texts (blanks, signs, exponents, &H and &O); letter case beyond ASCII.
WScript.Echo CDbl(vbTab & " -1.5" & vbCrLf), CDbl("&o17"), CDbl("&hfffff"), CDbl("&hFe"), CDbl("1D3"), CDbl("1e+3"), CDbl("1E-3"), CBool("false"), CBool(" 0 ")
WScript.Echo IsNumeric("&h1FFFFFFFF"), IsNumeric("&h8g"), IsNumeric("&O8"), IsNumeric("1e"), IsNumeric("1e999"), IsNumeric(Date)
WScript.Echo UCase("aàéþΩαжѐāă"), LCase("AÀÉÞΩЖЀĀĂ"), StrComp("Äb", "äB", 1)
