' Err.Raise: the values of arguments given and left out.
On Error Resume Next
Err.Raise 11, "MySource", "My text", "help.chm", 42
WScript.Echo Err.Number, Err.Source, Err.Description, Err.HelpFile, Err.HelpContext
Err.Clear
Err.Raise 9, , , "other.chm"
WScript.Echo Err.Number, Err.Source, Err.Description, Err.HelpFile, Err.HelpContext
Err.Clear
' Numbers in VBScript's own HRESULT range read back as the plain number.
Err.Raise &H800A0035
WScript.Echo Err.Number, Err.Description
Err.Clear
Err.Raise vbObjectError + 7, "App"
WScript.Echo Err.Number - vbObjectError, Err.Source, Err.Description
Err.Clear
Err.Raise 0
WScript.Echo Err.Number, Err.Description
Err.Clear
Err.Raise "not a number"
WScript.Echo Err.Number, Err.Description
Err.Clear
' A new error replaces every value of the last one.
Err.Raise 5, "First", "first", "first.chm", 1
x = 1 / 0
WScript.Echo Err.Number, Err.Source, Err.Description, "[" & Err.HelpFile & "]", Err.HelpContext
