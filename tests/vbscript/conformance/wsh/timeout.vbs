' WSH is WScript under its other name; Timeout is the script's time limit in
' seconds (0: none), and a negative one is refused.
WScript.Echo WScript Is WSH, WScript.Timeout, TypeName(WScript.Timeout)
WScript.Timeout = 30
WScript.Echo WSH.Timeout
On Error Resume Next
WScript.Timeout = -1
WScript.Echo Err.Number, WScript.Timeout
