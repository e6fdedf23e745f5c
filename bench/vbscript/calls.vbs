' 1,000,000 calls of a one-line Function.
Function AddOne(x)
  AddOne = x + 1
End Function
Dim i, r
r = 0
For i = 1 To 1000000
  r = AddOne(r)
Next
WScript.Echo r
