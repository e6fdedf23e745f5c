' Procedure declarations as scripts write them.

Dim x
' A body may start on the line of a parameter list.
Sub OneLine(a) x = a End Sub
Function Twice(a) Twice = 2 * a End Function
OneLine 5
WScript.Echo x, Twice(4)

' A procedure defined twice: the last definition is the one called.
WScript.Echo Repeated()
Function Repeated
  Repeated = 1
End Function
Sub Repeated
End Sub
Function Repeated
  Repeated = 3
End Function

' Me outside a class is the host's object, not an error.
WScript.Echo IsObject(Me)
