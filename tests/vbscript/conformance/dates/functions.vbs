' Date values, their texts (en-US), arithmetic and parts.
Dim d
d = #12/6/2026 8:05:09 AM#
WScript.Echo d, Year(d), Month(d), Day(d), Hour(d), Minute(d), Second(d), Weekday(d), Weekday(d, vbMonday)
WScript.Echo DateSerial(2026, 12, 6), DateSerial(2024, 2, 30), DateSerial(2024, 13, 1), DateSerial(2024, 1, 0), DateSerial(99, 1, 1), DateSerial(29, 1, 1)
WScript.Echo TimeSerial(8, 5, 9), TimeSerial(25, 0, 0), TimeSerial(0, 90, 0), DateValue("12/6/2026 8:00 PM"), TimeValue("12/6/2026 8:00 PM")
WScript.Echo DateAdd("d", 1, d), DateAdd("m", 1, #1/31/2024#), DateAdd("yyyy", -1, #2/29/2024#), DateAdd("h", 20, d), DateAdd("n", -10, d), DateAdd("s", 51, d), DateAdd("ww", 2, #1/1/2026#), DateAdd("q", 1, #11/30/2026#)
WScript.Echo DateDiff("d", #1/1/2026#, #3/1/2026#), DateDiff("m", #1/31/2026#, #2/1/2026#), DateDiff("yyyy", #12/31/2025#, #1/1/2026#), DateDiff("h", #1/1/2026 11:59 PM#, #1/2/2026 12:01 AM#), DateDiff("n", #1/1/2026#, #1/1/2026 1:30 AM#), DateDiff("s", #1/1/2026#, #1/1/2026 12:01:00 AM#), DateDiff("d", #3/1/2026#, #1/1/2026#), DateDiff("w", #1/1/2026#, #1/20/2026#), DateDiff("ww", #1/1/2026#, #1/20/2026#)
WScript.Echo DatePart("yyyy", d), DatePart("q", d), DatePart("y", d), DatePart("w", d), DatePart("ww", #1/1/2026#), DatePart("h", d)
WScript.Echo MonthName(12), MonthName(1, True), WeekdayName(1), WeekdayName(2, True), WeekdayName(1, False, vbMonday)
WScript.Echo FormatDateTime(d), FormatDateTime(d, vbLongDate), FormatDateTime(d, vbShortDate), FormatDateTime(d, vbLongTime), FormatDateTime(d, vbShortTime)
WScript.Echo CDate("2026-12-06"), CDate("6 Dec 2026"), CDate("06-Dec-26 20:05"), IsDate("31/31/2026"), CDate("1/2/2026") < CDate("1/3/2026")
WScript.Echo d + 1, d - 0.5, CDbl(#1/1/2000#), CLng(#1/1/2000 6:00 PM#), Int(d) = DateSerial(2026, 12, 6)
WScript.Echo #1/1/1900#, #12/31/9999#, CDate(-1), CDate(-1.5)
WScript.Echo TypeName(Now), TypeName(Date), TypeName(Time), TypeName(Timer), Date = Int(Now) Or Date = Int(Now) - 1
' Months added past either end of the date range: error 5, not a wrong date.
On Error Resume Next
x = DateAdd("m", -30000, #1/1/2026#) : WScript.Echo "DateAdd far back:", Err.Number : Err.Clear
x = DateAdd("m", 1, #12/31/9999#) : WScript.Echo "DateAdd past 9999:", Err.Number : Err.Clear
WScript.Echo DateAdd("yyyy", -1926, #1/1/2026#)
On Error GoTo 0
WScript.Echo IsNull(TimeValue(Null)), DateAdd("y", 1, #1/1/2000#), IsNull(DateDiff("d", Null, Date)), DateDiff("q", #1/1/2000#, #1/1/2001#), DateDiff("y", #1/1/2000#, #1/3/2000#), IsNull(DatePart("m", Null)), DatePart("m", d), DatePart("d", d), DatePart("n", d), DatePart("s", d)
