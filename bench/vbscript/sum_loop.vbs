' Sums 1..3,000,000 in a loop.
Dim i, total
total = 0
For i = 1 To 3000000
  total = total + i
Next
WScript.Echo total
