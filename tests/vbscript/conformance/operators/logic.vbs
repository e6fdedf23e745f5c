' Logical operators are bitwise on integers and Boolean on Booleans; Null
' propagates except where the other operand decides the result.
WScript.Echo True And False, True Or False, True Xor True, True Eqv False, False Imp True
WScript.Echo 12 And 10, 12 Or 10, 12 Xor 10, Not 5, Not -1, TypeName(Not 5)
WScript.Echo TypeName(True And 1), True And 1, Not Empty, TypeName(Not CByte(1)), Not CByte(1)
WScript.Echo IsNull(Null And True), Null And False, Null Or True, IsNull(Null Or False), IsNull(Not Null)
WScript.Echo False Imp Null, IsNull(True Imp Null), Null Imp True, IsNull(Null Xor True)
WScript.Echo Not (1 = 2), Not 1 = 2
WScript.Echo Not "#FALSE#", Not "#TRUE#", TypeName(Not "#TRUE#"), Not "True"
' Empty is a Long to the logical operators; a Byte Imp Null keeps its width.
WScript.Echo TypeName(Empty And Empty), TypeName(Not Empty), TypeName(Empty Or CInt(5)), Empty Imp Null
WScript.Echo CByte(170) Imp Null, TypeName(CByte(255) Imp Null)
' Not as an operand takes in the comparison after it.
WScript.Echo 1 <> Not 0 = 0, 0 = Not 1 = 1, True = Not False
