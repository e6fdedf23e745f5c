' vbs-args: --timeout 1
' An endless loop, even under On Error Resume Next, ends at the time-out.
On Error Resume Next
WScript.Echo "start"
Do
  x = x + 1
Loop
