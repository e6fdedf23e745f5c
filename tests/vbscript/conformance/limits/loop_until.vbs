' vbs-args: --timeout 1
' Every loop form ends at the time-out: here a Loop Until that never holds.
Dim i
Do
  i = i + 1
Loop Until IsNull(i)
