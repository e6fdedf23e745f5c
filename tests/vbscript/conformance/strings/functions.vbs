' The string functions, with Null handling and optional compare arguments.
WScript.Echo Len("hello"), Len(""), Len(123), IsNull(Len(Null)), Len(Empty)
WScript.Echo Left("hello", 2), Left("hi", 10), Right("hello", 3), Mid("hello", 2, 3), Mid("hello", 4), "[" & Mid("hi", 5) & "]"
WScript.Echo Len(Mid("hello", 2, 3)), Len(Mid("hello", 9)), Len(Mid("h" & ChrW(233) & "llo", 2, 3)), Len(Mid(12345, 2)), IsNull(Len(Mid(Null, 2)))
WScript.Echo InStr("hello", "l"), InStr(4, "hello", "l"), InStr("hello", "z"), InStr("hello", ""), InStr(1, "HELLO", "l", vbTextCompare), IsNull(InStr(Null, "a"))
WScript.Echo InStrRev("hello", "l"), InStrRev("hello", "l", 3), InStrRev("abcabc", "abc"), InStrRev("hello", "x")
WScript.Echo InStr(1, "x" & ChrW(196) & "b", ChrW(228) & "B", 1), Replace(ChrW(196) & ChrW(228) & "x", ChrW(228), "o", 1, -1, 1), UBound(Split("a" & ChrW(201) & "b" & ChrW(233) & "c", ChrW(233), -1, 1))
WScript.Echo Replace("aXbXc", "X", "-"), Replace("aXbXc", "x", "-", 1, -1, vbTextCompare), Replace("aXbXc", "X", "-", 1, 1), Replace("abcabc", "b", "", 3)
WScript.Echo UCase("MiXed"), LCase("MiXed"), "[" & Trim("  a b  ") & "]", "[" & LTrim("  a ") & "]", "[" & RTrim(" a  ") & "]"
WScript.Echo StrReverse("abc"), String(3, "ab"), String(2, 65), "[" & Space(3) & "]", StrComp("a", "b"), StrComp("b", "a"), StrComp("A", "a", 1)
WScript.Echo Asc("A"), Asc("abc"), AscW("A"), Chr(65), Chr(9) = vbTab, ChrW(233) = "é", Len(ChrW(233)), Asc(Chr(128)), AscW(Chr(128))
WScript.Echo Join(Array("a", "b", "c")), Join(Array("a", "b"), ""), Join(Split("1,2,3", ","), "+")
Dim parts
parts = Split("a,b,,c", ",")
WScript.Echo UBound(parts), "[" & parts(2) & "]", UBound(Split("")), UBound(Split("abc", ",")), UBound(Split("a b c", " ", 2)), Split("a b c", " ", 2)(1)
WScript.Echo Join(Split("aXbxc", "x", -1, vbTextCompare), "|")
WScript.Echo Join(Filter(Array("apple", "banana", "cherry"), "an"), ","), Join(Filter(Array("apple", "banana"), "an", False), ",")
WScript.Echo Escape("a b&c"), Unescape("a%20b%26c"), Unescape("%u00e9") = ChrW(233)
WScript.Echo "Say ""hi""", "a" & vbCrLf = "a" & Chr(13) & Chr(10), Len(vbNullChar), vbNullString = ""
WScript.Echo Hex(255), Hex(-1), Hex(65536), Hex(-2147483648), Oct(8), Oct(-1)
WScript.Echo LCase(Null) & "|", UCase(1), Len(CStr(12345))
Dim s
s = ""
For i = 1 To 1000
  s = s & "ab"
Next
WScript.Echo Len(s), Left(s, 4)
s = "x"
s = s & s & s
WScript.Echo s
' A start past the end of the text finds nothing, not even "".
WScript.Echo InStr("", ""), InStr(4, "abc", ""), InStr(3, "abc", ""), InStr("abc", "")
' Null, edge codes and the less common forms.
WScript.Echo IsNull(UCase(Null)), IsNull(StrComp(Null, "a")), AscW("😀"), AscW(ChrW(-1)), IsNull(LenB(Null)), UBound(Split("a,b", "")), IsNull(Escape(Null)), IsNull(Unescape(Null)), Unescape("%u00e9%41%zz%4"), String(2, -191), InStrRev("abc", "b", 5)
