' Err.Raise: the values of arguments given and left out; numbers in
' VBScript's own HRESULT range read back as the plain number; none at all,
' 0, a text, past 65535 and system HRESULTs.
Dim stmt
For Each stmt In Array("Err.Raise 11, ""MySource"", ""My text"", ""help.chm"", 42", _
    "Err.Raise 9, , , ""other.chm""", "Err.Raise &H800A0035", "Err.Raise vbObjectError + 7, ""App""", _
    "Err.Raise 0", "Err.Raise ""not a number""", "Err.Raise", "Err.Raise &h10000&", _
    "Err.Raise -3000000000", "Err.Raise &h8007000E&")
  On Error Resume Next
  Err.Clear
  Execute stmt
  WScript.Echo stmt & " =>", Err.Number, Err.Source, Err.Description, Err.HelpFile, Err.HelpContext
  On Error GoTo 0
Next
' A new error replaces every value of the last one.
On Error Resume Next
Err.Raise 5, "First", "first", "first.chm", 1
x = 1 / 0
WScript.Echo Err.Number, Err.Source, Err.Description, "[" & Err.HelpFile & "]", Err.HelpContext

' The fields Raise keeps from an error not yet cleared.
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
