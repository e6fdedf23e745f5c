' script-args: one "two words" 3
' WScript members of the vbs tool.
Dim a
WScript.Echo WScript.Arguments.Count, WScript.Arguments(0), WScript.Arguments.Item(1)
For Each a In WScript.Arguments
  WScript.Echo "arg", a
Next
WScript.Echo WScript.ScriptName, Right(WScript.ScriptFullName, 13)
WScript.Echo "several", "values", 1, True
WScript.Echo
WScript.StdOut.WriteLine "stdout line"
WScript.StdOut.Write "no newline"
WScript.StdOut.WriteLine
WScript.Sleep 1
MsgBox "to the log", vbYesNo
WScript.Echo MsgBox("x", vbYesNo + vbDefaultButton2), InputBox("prompt", "title", "default")
WScript.Quit 3
WScript.Echo "not reached"
