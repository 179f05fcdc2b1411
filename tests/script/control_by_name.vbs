' The control as a VBScript page sees it: created with CreateObject by ProgID,
' every method called by name. Run by cscript (tools/wine-run.sh --cscript).
' Methods that would show a dialog or start a program are only reached with
' too few arguments, which the dispatch refuses before the method runs.
' Echo ASCII only (no Err.Description: it is Korean here and crashes the host's Echo).
' An uncaught error ends Wine's cscript silently with exit code 0, so errors are
' trapped throughout and only the last line, "PASS ...", means success.
Option Explicit
On Error Resume Next

Const VB_WRONG_ARG_COUNT = 450
Const VB_TYPE_MISMATCH = 13
Const VB_UNSUPPORTED = 438

Dim checks, failures
checks = 0
failures = 0

Sub Check(condition, what)
    checks = checks + 1
    If Not condition Then
        failures = failures + 1
        WScript.Echo "FAIL: " & what
    End If
End Sub

' Checks the error the last statement left behind, then clears it.
Sub ExpectError(number, what)
    Check Err.Number = number, what & ": expected error " & number & ", got " & Err.Number
    Err.Clear
End Sub

Sub ExpectNoError(what)
    ExpectError 0, what
End Sub

Dim control, second, link, name
Err.Clear
Set control = CreateObject("Halvex.Tavrine")
ExpectNoError "CreateObject Halvex.Tavrine"
Check IsObject(control), "CreateObject gives an object"
Set second = CreateObject("Halvex.Tavrine.1")
ExpectNoError "CreateObject Halvex.Tavrine.1"

If IsObject(control) Then
    control.CheckInstall
    ExpectNoError "CheckInstall"
    control.SelectComplete "C:\a.txt", "5", "-1"
    ExpectNoError "SelectComplete"
    control.SelectComplete 1, True, 2.5
    ExpectNoError "SelectComplete with numbers and a boolean"
    control.SelectComplete Null, "1", "-1"
    ExpectError VB_TYPE_MISMATCH, "SelectComplete with Null"
    control.UpLoadInfo "17"
    ExpectNoError "UpLoadInfo"
    control.DownLoadInfo "12", "C:\Down\b c.txt"
    ExpectNoError "DownLoadInfo"
    control.AllowPopUp "www.example.test"
    ExpectNoError "AllowPopUp"

    ' Empty credentials: no dialog, no program, and the web link answers "0".
    control.LauncherExplorer "", ""
    ExpectNoError "LauncherExplorer"
    link = control.LauncherWebLink("", "", "http://www.example.test/f/1")
    ExpectNoError "LauncherWebLink"
    Check TypeName(link) = "String", "LauncherWebLink returns a String, got " & TypeName(link)
    Check link = "0", "LauncherWebLink without credentials returns 0, got " & link
    link = Empty
    link = second.LauncherWebLink("", "", "")
    ExpectNoError "LauncherWebLink on a second object"
    Check link = "0", "LauncherWebLink on a second object returns 0, got " & link

    ' Too few arguments.
    control.AllowPopUp
    ExpectError VB_WRONG_ARG_COUNT, "AllowPopUp()"
    control.SelectComplete "a", "b"
    ExpectError VB_WRONG_ARG_COUNT, "SelectComplete(2 args)"
    control.UpLoadInfo
    ExpectError VB_WRONG_ARG_COUNT, "UpLoadInfo()"
    control.UpLoadEnd "user"
    ExpectError VB_WRONG_ARG_COUNT, "UpLoadEnd(1 arg)"
    control.DownLoadInfo "1"
    ExpectError VB_WRONG_ARG_COUNT, "DownLoadInfo(1 arg)"
    control.DownLoadEnd "user", "pw"
    ExpectError VB_WRONG_ARG_COUNT, "DownLoadEnd(2 args)"
    control.LauncherExplorer "user"
    ExpectError VB_WRONG_ARG_COUNT, "LauncherExplorer(1 arg)"
    link = control.LauncherWebLink("user", "pw")
    ExpectError VB_WRONG_ARG_COUNT, "LauncherWebLink(2 args)"

    control.NoSuchMethod
    ExpectError VB_UNSUPPORTED, "NoSuchMethod"
End If

If failures > 0 Then
    WScript.Echo "FAILED " & failures & " of " & checks & " checks"
    WScript.Quit 1
End If
WScript.Echo "PASS " & checks & " checks"
WScript.Quit 0
