' Each member of the built-in objects answers to its own name in any letter
' case and runs its own code; the members the other object scripts leave out.
Dim d, fso, dir, f, fo, ts, re, m, sh, ex, env
Set d = CreateObject("Scripting.Dictionary")
d.ADD "a", 1
d("B") = 2
WScript.Echo d.count, d.EXISTS("a"), d.item("a"), Join(d.KEYS, ","), Join(d.items, ",")
d.key("a") = "z"
WScript.Echo Join(d.Keys, ","), d.HashVal("a") = d.hashval("a"), d.CompareMode
d.remove "z"
WScript.Echo d.Count, d("B")
d.REMOVEALL
WScript.Echo d.Count

Set fso = CreateObject("Scripting.FileSystemObject")
Randomize  ' another run at the same time gets another folder
dir = fso.BuildPath(fso.GetSpecialFolder(2).Path, "vbs_members_" & fso.GetTempName())
Set fo = fso.createfolder(dir)
WScript.Echo fo.IsRootFolder, fso.GetFolder("/").isrootfolder, fo.TYPE, fo.Attributes, fo.Drive = ""
Set ts = fo.CreateTextFile("one.txt")
ts.Write "ab" & vbCrLf & "cd"
ts.Close
Set f = fso.GetFile(dir & "/one.txt")
WScript.Echo f.SHORTNAME, f.ShortPath = f.Path, f = f.Path, f.Attributes, f.Size
WScript.Echo TypeName(f.DateCreated), TypeName(f.DateLastAccessed), f.ParentFolder.Path = dir
Set ts = f.OpenAsTextStream(1)
WScript.Echo ts.AtEndOfLine, ts.Read(2), ts.ATENDOFLINE, ts.Line, ts.Column
ts.Skip 2
WScript.Echo ts.ReadAll, ts.AtEndOfStream
ts.Close
f.Name = "two.txt"
WScript.Echo f.Name, fso.FileExists(dir & "/two.txt"), fo.Files.Count, fo.Files("TWO.TXT").Name
f.Copy dir & "/three.txt"
fso.CreateFolder dir & "/sub"
f.Move dir & "/sub/"
WScript.Echo fo.files.count, fo.SubFolders.Count, fo.SubFolders("sub").Files.Count
fso.CopyFolder dir & "/sub", dir & "/sub2"
fso.MoveFolder dir & "/sub2", dir & "/sub3"
WScript.Echo fso.FolderExists(dir & "/sub2"), fso.FolderExists(dir & "/sub3"), fso.DriveExists("/"), fso.GetDriveName(dir)
WScript.Echo fso.GetAbsolutePathName("/a/./b/../c")
fso.GetFolder(dir & "/sub3").Delete
fso.DeleteFile dir & "/three.txt"
fso.DeleteFolder dir
WScript.Echo fso.FolderExists(dir)

Set re = New RegExp
re.PATTERN = "(\w)(\d)?"
re.global = True
re.IgnoreCase = False
re.MULTILINE = False
WScript.Echo re.Test("x1"), re.Replace("a1b", "[$2$1]"), re.Global, re.Multiline
Set m = re.Execute("a1b")
WScript.Echo m.count, m(0), m.Item(1).FirstIndex, m(0).LENGTH, m(0).SubMatches.count, m(0).submatches(1), m(1).SubMatches(1) = Empty, m(0).Value

Set sh = CreateObject("WScript.Shell")
Set ex = sh.EXEC("echo hi")
WScript.Echo ex.stdout.readline, ex.ProcessID > 0, TypeName(ex.STDERR), TypeName(ex.StdIn)
ex.Terminate
Set env = sh.Environment
WScript.Echo env.Count = env.Length, env.count > 0
WScript.Echo sh.AppActivate("x"), IsEmpty(sh.SendKeys("x")), Len(sh.SpecialFolders("Desktop")) > 0
On Error Resume Next
For Each tryStmt In Array("sh.RegRead ""HKCU\x""", "sh.REGWRITE ""HKCU\x"", 1", _
    "sh.regdelete ""HKCU\x""")
  Err.Clear
  Execute tryStmt
  WScript.Echo tryStmt & " =>", Err.Number, Err.Description
Next
Err.Clear
On Error GoTo 0

Err.HelpFile = "help.chm"
Err.HELPCONTEXT = 7
Err.number = 5
WScript.Echo Err, Err.helpfile, Err.HelpContext
Err.CLEAR
WScript.Echo Err.Number, "[" & Err.HelpFile & "]", Err.HelpContext
On Error Resume Next
Err.RAISE 9
WScript.Echo Err.Number, Err.Description
