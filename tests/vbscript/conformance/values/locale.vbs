' The script locale: SetLocale chooses how numbers, money and dates are
' written and read; code literals stay "1.5" everywhere.
WScript.Echo GetLocale(), CStr(1.5), FormatNumber(1234567.89), FormatCurrency(1234567.89), FormatPercent(0.1234)
WScript.Echo FormatDateTime(DateSerial(2026, 3, 15), vbShortDate), CStr(DateSerial(2026, 3, 15) + TimeSerial(20, 5, 9))
WScript.Echo "before:", SetLocale("de-de"), "now:", GetLocale()
WScript.Echo CStr(1.5), 1.5 & "", FormatNumber(1234567.89), FormatCurrency(1234567.89), FormatPercent(0.1234)
WScript.Echo CDbl("1.234,5"), Day("15.03.2026"), Month("15.03.2026"), CStr(DateSerial(2026, 3, 15) + TimeSerial(20, 5, 9))
WScript.Echo "before:", SetLocale(1041), FormatNumber(1234567.89), FormatCurrency(1234567.89), FormatDateTime(DateSerial(2026, 3, 15), vbShortDate)
SetLocale 2057
WScript.Echo CStr(DateSerial(2026, 3, 5)), Month("05/03/2026")
SetLocale 0
WScript.Echo GetLocale()
On Error Resume Next
x = Day("15.03.2026") : WScript.Echo "en-US reads no dotted date:", Err.Number : Err.Clear
SetLocale 99999 : WScript.Echo "unknown locale:", Err.Number, GetLocale() : Err.Clear
