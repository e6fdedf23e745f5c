' Built-in functions with bad arguments: Null, Empty, texts that are no
' numbers, out-of-range numbers, objects and arrays. Each line shows the
' result and its subtype, or the error number.
Class NoDefault : Public x : End Class
Class WithDefault
  Public Default Property Get Value : Value = "12.5" : End Property
End Class
Set nd = New NoDefault
Set wd = New WithDefault
Dim arr : arr = Array(1, 2)
Sub Show(src)
  On Error Resume Next
  Dim r : r = Eval(src)
  If Err.Number <> 0 Then
    WScript.Echo src & " => error " & Err.Number
  ElseIf IsArray(r) Then
    WScript.Echo src & " => array to " & UBound(r)
  Else
    WScript.Echo src & " => " & TypeName(r) & " " & r
  End If
End Sub
For Each s In Array( _
  "Len()", "Len(1, 2)", "Len(arr)", "Len(nd)", "Len(wd)", "Len(Nothing)", _
  "Left(Null, 1)", "Left(""abc"", -1)", "Left(""abc"", Null)", "Left(nd, 1)", _
  "Mid(""abc"", 0)", "Mid(Null, 1)", "Mid(""abc"", 1, -1)", "Mid(wd, 2)", _
  "Len(Mid(""abc"", 0))", "Len(Mid(Null, 1))", "Len(Mid(""abc"", 1, Null))", "Len(Mid(wd, 2))", _
  "LCase(Null)", "UCase(wd)", "Trim(Null)", "Space(-1)", "Space(Null)", _
  "String(-1, ""a"")", "String(3, """")", "String(Null, ""a"")", "String(3, Null)", "String(2, wd)", _
  "InStr(""a"", Null)", "InStr(0, ""a"", ""b"")", "InStr(Null, ""a"", ""b"")", "InStrRev(""abc"", ""b"", 0)", "InStrRev(Null, ""b"")", _
  "Replace(Null, ""a"", ""b"")", "Replace(""abc"", ""a"", ""b"", 0)", "Replace(""abc"", ""a"", ""b"", 1, -2)", "StrReverse(Null)", _
  "Asc("""")", "Asc(Null)", "Chr(-1)", "Chr(256)", "Chr(Null)", "ChrW(65536)", "AscW("""")", _
  "Split(Null)", "Join(5)", "Join(Null)", "Join(nd)", "Join(Array(1, Null))", "Join(Array(Array(1)))", "Randomize(0)", "Join(Array(1, 2), Null)", "Join(Array(wd, 1))", "Join(Array(nd, 1))", _
  "Abs(""abc"")", "Abs(Empty)", "Abs(-32768)", "Abs(True)", "Abs(wd)", "Abs(nd)", "Abs(arr)", _
  "Int(Null)", "Fix(Null)", "Int(""2.5"")", "Int(-2.5)", "Int(True)", "Fix(Empty)", _
  "Sqr(-1)", "Log(0)", "Exp(1000)", "Sin(""x"")", "Round(Null)", "Round(1.5, -1)", "Round(""abc"")", "Round(wd)", _
  "Hex(Null)", "Hex(Empty)", "Hex(""abc"")", _
  "CInt(""abc"")", "CInt(Null)", "CInt(Empty)", "CLng(2147483648)", "CStr(Null)", "CStr(Empty)", "CStr(nd)", "CStr(arr)", _
  "CByte(256)", "CByte(-0.5)", "CBool(Null)", "CDate(""abc"")", "CSng(wd)", _
  "UBound(5)", "UBound(Array(1), 2)", "UBound(Array(1), 0)", "UBound(Array(1), Null)", _
  "Year(Null)", "Year(""abc"")", "MonthName(0)", "MonthName(13)", "WeekdayName(8)", "Weekday(Date, 8)", _
  "DateAdd(""x"", 1, #1/1/2000#)", "DateAdd(""d"", 1, Null)", "DateDiff(""x"", #1/1/2000#, #1/1/2000#)", "DatePart(""x"", #1/1/2000#)", _
  "DateSerial(Null, 1, 1)", "DateSerial(100000, 1, 1)", "DateValue(""abc"")", "DateValue(Null)", _
  "CreateObject(""No.Such"")", "GetRef(""NoSuchProcedure"")", "Rnd(Null)", "RGB(300, -1, 0)", "RGB(Null, 0, 0)", _
  "VarType(wd)", "VarType(nd)", "TypeName(wd)", "IsNumeric(wd)", "IsNumeric(nd)", _
  "InStr(2, ""abcd"", ""bc"", 10)", "InStrRev(""abcd"", ""bc"", 2, 10)", "InStrRev(""abcd"", Null, 2, 0)", "Split(""a-b"", ""-"", -1, 2)", "Split(""a-b"", ""-"", -42, 0)", _
  "Mid(""test"", ""a"", Null)", "Mid(Null, -1, -1)", "Mid(""test"", 0, Null)", "Mid(""test"", ""a"", Empty)", "Mid(Null, 1, 1)", "Right(Null, -1)", "Left(Null, -1)", "Right(Null, 1)", _
  "Weekday(Null, -1)", "Weekday(Null, Null)", "Weekday(Null, ""a"")", "Weekday(Null, 1)", "MonthName(""a"", Null)")
  Show s
Next
