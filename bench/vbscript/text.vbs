' 100,000 rounds of Split, InStr, Mid and Replace on a settings line.
Dim line, i, parts, part, p, s, total
line = "zone=3;input=5;volume=42;mute=off;name=Kitchen"
total = 0
For i = 1 To 100000
  parts = Split(line, ";")
  For Each part In parts
    p = InStr(part, "=")
    total = total + Len(Mid(part, p + 1))
  Next
  s = Replace(line, "Kitchen", "Room" & i)
  total = total + InStr(s, "Room")
Next
WScript.Echo total
