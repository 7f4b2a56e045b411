' A script client of KeldranGridAgent. Configure the host's INI file with
'   CommandLine=cscript.exe //nologo "%DIR%\client.vbs"
'   WorkingDir=%DIR%
' KeldranGridUtil.Client (KeldranGridUtil.dll, registered with regsvr32) finds the host from the
' command line, answers its pings while the script waits in Sleep or WaitForStop, and reports
' the host's stop request; the script then simply ends.
Option Explicit
Dim grid, round
Set grid = CreateObject("KeldranGridUtil.Client")
grid.Connect
grid.Log "Script client of " & grid.ServiceName & " started"
round = 0
Do
  round = round + 1
  grid.Progress "Round " & round
  ' A long step: no heartbeat for 5 s, but the helper answers the host's pings meanwhile.
  If round Mod 4 = 0 Then grid.Sleep 5000
Loop Until grid.WaitForStop(500)
