' WScript.Shell: Run, Exec and the environment.
Dim sh, ex, env
Set sh = CreateObject("WScript.Shell")
WScript.Echo sh.Run("exit 7", 0, True), sh.Run("true", 1, True)
Set ex = sh.Exec("printf 'one\ntwo\n'; printf 'oops' 1>&2; exit 3")
WScript.Echo ex.StdOut.ReadLine, ex.StdOut.ReadLine, ex.StdOut.AtEndOfStream
WScript.Echo ex.StdErr.ReadAll
Do While ex.Status = 0
  WScript.Sleep 5
Loop
WScript.Echo ex.Status, ex.ExitCode
Set ex = sh.Exec("cat")
ex.StdIn.WriteLine "echoed back"
ex.StdIn.Close
WScript.Echo ex.StdOut.ReadAll = "echoed back" & vbLf
Set env = sh.Environment("PROCESS")
env("VBS_CONF_VAR") = "value1"
WScript.Echo env("VBS_CONF_VAR"), sh.ExpandEnvironmentStrings("[%VBS_CONF_VAR%] [%VBS_NO_SUCH_VAR%]")
WScript.Echo sh.Run("test ""$VBS_CONF_VAR"" = value1", 0, True)
env.Remove "VBS_CONF_VAR"
WScript.Echo "[" & env("VBS_CONF_VAR") & "]", Len(sh.CurrentDirectory) > 0
Set ex = sh.Exec("printf 'ab\r\ncd'")
Set so = ex.StdOut
WScript.Echo so.AtEndOfLine, so.Read(1), so.Read, so.AtEndOfLine, so.ReadLine, so.Skip(1), so.ReadLine, so.AtEndOfLine, so.AtEndOfStream
