' A Windows-1252 file: its accented letters become Unicode.
WScript.Echo "Température", Len("été"), AscW("é"), Asc("€")
