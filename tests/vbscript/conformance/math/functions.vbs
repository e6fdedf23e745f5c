' Math functions keep or choose their result types like Windows does.
WScript.Echo Abs(-5), TypeName(Abs(-5)), Abs(-2.5), TypeName(Abs(CInt(-32768))), IsNull(Abs(Null))
WScript.Echo Sgn(-3.5), Sgn(0), Sgn(7), TypeName(Sgn(7))
WScript.Echo Int(2.7), Int(-2.7), Fix(2.7), Fix(-2.7), TypeName(Int(2.7)), TypeName(Int(2)), Int("3.5")
WScript.Echo Round(2.5), Round(3.5), Round(-2.5), Round(2.567, 2), Round(1.005, 2), TypeName(Round(2.5)), Round(7)
WScript.Echo Sqr(16), Sqr(2), Exp(0), Log(Exp(1)), Atn(1) * 4, Sin(0), Cos(0), Tan(0)
WScript.Echo FormatNumber(1234.5), FormatNumber(1234.5, 0), FormatNumber(0.5, 2, 0), FormatNumber(-1234.567, 1), FormatNumber(-5, 2, -1, -1), FormatNumber(1234567, 0, -1, 0, 0)
WScript.Echo FormatCurrency(1234.5), FormatCurrency(-3), FormatPercent(0.1234), FormatPercent(1, 0), FormatNumber(2.5, 0), FormatNumber(3.5, 0)
Randomize 1
Dim r, ok
ok = True
For i = 1 To 100
  r = Rnd
  If r < 0 Or r >= 1 Then ok = False
Next
WScript.Echo ok, TypeName(Rnd), Rnd(0) = Rnd(0)
WScript.Echo RGB(255, 0, 0), RGB(1, 2, 3)
WScript.Echo TypeName(Abs(CByte(3))), Abs(CCur(-2)), TypeName(Abs(CSng(-1.5))), Abs(#1/1/2000#), Round(CSng(1.25), 1), Round(CCur(1.25), 1), TypeName(Round(CByte(5))), Hex(CByte(255)), Int(CCur(-1.5)), Fix(CSng(-1.5)), TypeName(Int(CSng(-1.5))), Rnd(-1)
WScript.Echo FormatNumber(-0.5, 1, -2, -1), FormatCurrency(1.5, 1), CDbl(True)
