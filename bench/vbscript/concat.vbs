' 100,000 string concatenations in a loop.
Dim i, s
s = ""
For i = 1 To 100000
  s = s & "x" & i
Next
WScript.Echo Len(s)
