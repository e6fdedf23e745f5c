' 500,000 rounds of a Sub call with an argument and a Property Get read on
' a class instance.
Class Counter
  Private m_total
  Private Sub Class_Initialize()
    m_total = 0
  End Sub
  Public Sub Add(n)
    m_total = m_total + n
  End Sub
  Public Property Get Total()
    Total = m_total
  End Property
End Class
Dim c, i, s
Set c = New Counter
s = 0
For i = 1 To 500000
  c.Add 2
  s = s + c.Total
Next
WScript.Echo c.Total, s
