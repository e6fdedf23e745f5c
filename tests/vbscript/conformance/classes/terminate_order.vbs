' Class_Terminate runs as soon as the last reference goes, also inside calls.
Class T
  Public N
  Private Sub Class_Terminate() : WScript.Echo "terminate " & N : End Sub
End Class
Set d = CreateObject("Scripting.Dictionary")
Set t = New T : t.N = 1
d.Add "k", t
Set t = Nothing
WScript.Echo "removing"
d.Remove "k"
WScript.Echo "after remove"
Set t = New T : t.N = 2
a = Array(t)
Set t = Nothing
a = Empty
WScript.Echo "after array"
