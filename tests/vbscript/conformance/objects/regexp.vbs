' VBScript.RegExp: Test, Execute with Matches / SubMatches, Replace with $n.
Dim re, m, ms
Set re = New RegExp
re.Pattern = "(\d+)-(\d+)"
WScript.Echo re.Test("call 555-1234 now"), re.Test("none"), re.Global, re.IgnoreCase, re.Pattern
Set ms = re.Execute("a 1-2 b 33-44")
WScript.Echo ms.Count, ms(0).Value, ms(0).FirstIndex, ms(0).Length, ms(0).SubMatches(1)
re.Global = True
Set ms = re.Execute("a 1-2 b 33-44")
WScript.Echo ms.Count, ms.Item(1), ms(1).SubMatches.Count
WScript.Echo TypeName(ms), TypeName(ms(0)), TypeName(ms(0).SubMatches)
For Each m In ms
  WScript.Echo m.FirstIndex, m, m.SubMatches(0)
Next
WScript.Echo re.Replace("1-2 and 3-4", "$2-$1"), re.Replace("5-6", "[$&] $$ $3")
re.Pattern = "hello"
re.IgnoreCase = True
WScript.Echo re.Replace("Hello HELLO hello", "bye")
re.Pattern = "^\w+$"
re.Multiline = True
WScript.Echo re.Execute("one" & vbCrLf & "two" & vbLf & "three").Count
re.Multiline = False
WScript.Echo re.Execute("one" & vbLf & "two").Count
Set r2 = CreateObject("VBScript.RegExp")
r2.Pattern = "(a)|(b)"
Set m = r2.Execute("b")(0)
WScript.Echo IsEmpty(m.SubMatches(0)), m.SubMatches(1)
r2.Pattern = "\u00e9|\x41"
WScript.Echo r2.Test(ChrW(233)), r2.Test("A")
r2.Pattern = "^(\w+)=(.*)$"
Set m = r2.Execute("Volume=-20 dB")(0)
WScript.Echo m.SubMatches(0), m.SubMatches(1)
r2.Pattern = "x*"
r2.Global = True
WScript.Echo r2.Replace("abc", "-")
r2.Pattern = "(["
On Error Resume Next
r2.Test "x"
WScript.Echo Err.Number, Err.Description
