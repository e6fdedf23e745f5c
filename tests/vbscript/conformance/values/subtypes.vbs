' Literal typing, overflow promotion and VarType/TypeName of every subtype.
Dim v
WScript.Echo TypeName(1), TypeName(32767), TypeName(32768), TypeName(2147483647), TypeName(2147483648)
WScript.Echo TypeName(1.5), TypeName(&HFF), &HFFFF, TypeName(&HFFFF), &HFFFF&, &H10000, &O17
WScript.Echo TypeName(-32768), TypeName(Empty), TypeName(Null), TypeName(Nothing), TypeName(True)
WScript.Echo TypeName(#1/2/2003#), TypeName("x"), TypeName(Array()), TypeName(CByte(3)), TypeName(CCur(1.5)), TypeName(CSng(1.5))
WScript.Echo VarType(v), VarType(Null), VarType(1), VarType(100000), VarType(1.5), VarType(CCur(1)), VarType(Now), VarType("s"), VarType(True), VarType(CByte(1)), VarType(Array(1))
v = 32767
v = v + 1
WScript.Echo TypeName(v), v
v = 2147483647
v = v + 1
WScript.Echo TypeName(v), v
v = -32768
WScript.Echo TypeName(v * -1), TypeName(CInt(100) * CInt(400)), CInt(100) * CInt(400)
WScript.Echo TypeName(CByte(200) + CByte(100)), CByte(200) + CByte(100), TypeName(CByte(2) + CByte(3))
WScript.Echo TypeName(True + True), True + True, TypeName(Empty + Empty)
WScript.Echo TypeName(1 / 1), TypeName(7 \ 2), TypeName(100000 \ 2), TypeName(2 ^ 2)
WScript.Echo TypeName("5" + 1), "5" + 1, TypeName("5" * "2"), "5" * "2"
WScript.Echo CStr(1.1 + 2.2), CStr(1 / 3), 1E+16, 123456789012345, 1234567890123456
WScript.Echo 0.000123, 1.5E-10, -1E-05, CSng(1 / 3), CDbl("1,234.5"), CCur("12.34567")
WScript.Echo CStr(True), CStr(False), CBool("true"), CBool(" False "), CBool(5), CBool("0")
WScript.Echo CInt(0.5), CInt(1.5), CInt(2.5), CInt(-0.5), CInt(-1.5), CLng(1234567.5), CByte(254.5)
WScript.Echo IsNumeric("12"), IsNumeric(" 1e3 "), IsNumeric("&HFF"), IsNumeric("abc"), IsNumeric(Empty), IsNumeric(Null), IsNumeric(""), IsNumeric("1,000")
WScript.Echo IsDate("12/6/2026"), IsDate("hello"), IsDate(#1/1/2000#), IsEmpty(v), IsNull(Null), IsObject(Nothing)
WScript.Echo CDate("December 6, 2026"), CDate(45000), CDate("13:45"), #12/30/1899#, CDate(0.5)

' Hexadecimal literals: a 32-bit value that fits an Integer is an Integer,
' with or without the "&".
WScript.Echo TypeName(&h10&), TypeName(&hFFFFFFFF&), &hFFFFFFFF&, TypeName(&h8000&), TypeName(&hFFFF), TypeName(&h10000)
