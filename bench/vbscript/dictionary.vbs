' 200,000 Dictionary inserts and lookups with string keys.
Dim d, i, total
Set d = CreateObject("Scripting.Dictionary")
For i = 1 To 200000
  d.Add "key" & i, i
Next
total = 0
For i = 1 To 200000
  total = total + d("key" & i)
Next
WScript.Echo d.Count, total
