' script-args: first /mode:fast second /Verbose
' WScript.Arguments keeps every argument; Named holds "/name:value" and
' "/switch" (names in any letter case), Unnamed the others.
Set args = WScript.Arguments
WScript.Echo args.Count, args(1)
WScript.Echo args.Named.Count, args.Named("MODE"), args.Named.Exists("verbose"), "[" & args.Named("verbose") & "]", IsEmpty(args.Named("none")), args.Named.Exists("none")
WScript.Echo args.Unnamed.Count, args.Unnamed(0), args.Unnamed.Item(1)
For Each n In args.Named : WScript.Echo "named", n : Next
