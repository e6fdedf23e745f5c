' A UTF-8 file with a byte-order mark.
WScript.Echo "Température", Len("été"), AscW("é")
