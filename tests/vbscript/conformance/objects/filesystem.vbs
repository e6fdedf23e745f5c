' Scripting.FileSystemObject: files, folders, paths and text streams.
Dim fso, dir, f, ts, line, n
Set fso = CreateObject("Scripting.FileSystemObject")
dir = fso.BuildPath(fso.GetSpecialFolder(2).Path, "vbs_conf_" & fso.GetTempName())
fso.CreateFolder dir
WScript.Echo fso.FolderExists(dir), fso.FileExists(dir)
Set ts = fso.CreateTextFile(fso.BuildPath(dir, "log.txt"), True)
ts.WriteLine "first"
ts.Write "sec"
ts.Write "ond"
ts.WriteBlankLines 1
ts.WriteLine "third"
ts.Close
Set ts = fso.OpenTextFile(dir & "/log.txt", 8)
ts.WriteLine "appended"
ts.Close
Set ts = fso.OpenTextFile(dir & "\log.txt", 1)
n = 0
Do While Not ts.AtEndOfStream
  line = ts.ReadLine
  n = n + 1
  WScript.Echo n, line
Loop
ts.Close
Set ts = fso.OpenTextFile(dir & "/log.txt")
WScript.Echo ts.Read(3), ts.Column
ts.SkipLine
WScript.Echo ts.ReadLine, ts.Line
WScript.Echo Len(ts.ReadAll)
ts.Close
Set f = fso.GetFile(dir & "/log.txt")
WScript.Echo f.Name, f.Size, f.Type, TypeName(f.DateLastModified), f.ParentFolder.Name = fso.GetFileName(dir)
WScript.Echo fso.GetBaseName("/a/b/report.final.txt"), fso.GetExtensionName("/a/b/report.final.txt"), fso.GetFileName("/a/b/c.txt"), fso.GetParentFolderName("/a/b/c.txt")
fso.CopyFile dir & "/log.txt", dir & "/copy.txt"
fso.MoveFile dir & "/copy.txt", dir & "/moved.txt"
WScript.Echo fso.FileExists(dir & "/copy.txt"), fso.FileExists(dir & "/moved.txt")
fso.CreateFolder dir & "/sub"
For Each f In fso.GetFolder(dir).Files
  WScript.Echo "file", f.Name
Next
For Each f In fso.GetFolder(dir).SubFolders
  WScript.Echo "folder", f.Name
Next
WScript.Echo fso.GetFolder(dir).Files.Count
Set ts = fso.OpenTextFile(dir & "/new.txt", 2, True)
ts.Write "created"
ts.Close
WScript.Echo fso.OpenTextFile(dir & "/new.txt").ReadAll
Set ts = fso.CreateTextFile(dir & "/uni.txt", True, True)
ts.Write "wide " & ChrW(233)
ts.Close
WScript.Echo fso.GetFile(dir & "/uni.txt").Size, fso.OpenTextFile(dir & "/uni.txt", 1, False, -1).ReadAll = "wide " & ChrW(233)
Set ts = fso.OpenTextFile(dir & "/log.txt")
On Error Resume Next
For Each line In Array("fso.OpenTextFile(dir & ""/absent.txt"")", "fso.CreateFolder(dir)", "fso.CreateFolder(dir & ""/no/such"")", "ts.WriteLine(""x"")", "ts.ReadAll & ts.ReadLine")
  Err.Clear
  n = Eval(line)
  WScript.Echo Err.Number, Err.Description
Next
On Error GoTo 0
fso.DeleteFile dir & "/moved.txt"
fso.DeleteFolder dir
WScript.Echo fso.FolderExists(dir)
