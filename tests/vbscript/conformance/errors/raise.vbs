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

' Raise's numbers: none at all, past 65535, system HRESULTs; and the fields it
' keeps from an error not yet cleared.
On Error Resume Next
Err.Clear
Err.Raise
WScript.Echo "no number", Err.Number
Err.Clear
Err.Raise &h10000&
WScript.Echo "65536", Err.Number
Err.Clear
Err.Raise -3000000000
WScript.Echo "too small", Err.Number
Err.Clear
Err.Raise &h8007000E&
WScript.Echo "E_OUTOFMEMORY", Err.Number, Err.Description, Err.Source
Err.Clear
Err.Raise 1, 2, "desc", "hf", 1
Err.Raise 5
WScript.Echo "kept", Err.Number, Err.Source, Err.Description, Err.HelpFile, Err.HelpContext
Err.Clear
Err.Raise 1, "test"
Err.Raise &h8007000E&
WScript.Echo "kept source", Err.Number, Err.Source, Err.Description
Err.Clear
WScript.Echo "Rnd(0) first", Rnd(0) * 16777216
On Error GoTo 0

' System HRESULTs raised read back as the run-time error they stand for;
' others stay as they are.
On Error Resume Next
For Each h In Array(&H80004001, &H80020008, &H80030002, &H800706BA, &H80080005, &H80080008)
  Err.Clear
  Err.Raise h
  WScript.Echo Hex(h), Err.Number
Next
On Error GoTo 0
