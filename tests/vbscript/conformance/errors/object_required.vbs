' A member used on a variable that holds no object: the text names the variable.
Dim objFile
WScript.Echo "before"
objFile.WriteLine "text"
WScript.Echo "never"
