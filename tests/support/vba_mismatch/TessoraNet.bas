Attribute VB_Name = "Mismatch"
' Declarations that do not match include/TessoraNet.h, each in one way, for the test that
' scripts/check-vba-declarations finds them (tests/CMakeLists.txt).
Option Explicit
' ProxyPort is a C int: Long in VBA, not Integer.
Public Declare PtrSafe Sub ConfigureProxy Lib "TessoraNet.dll" (ByVal ProxyServer As String, _
    ByVal ProxyPort As Integer, ByVal ProxyUserName As String, ByVal ProxyPassword As String)
' One argument short.
Public Declare PtrSafe Function TessoraNetTry Lib "TessoraNet.dll" ( _
    ByVal EndPointOperation As String, ByVal Parameters As String, _
    ByVal OptionalParameters As String, ByVal Body As String) As Byte
' Not PtrSafe.
Public Declare Function TessoraNetLastStatus Lib "TessoraNet.dll" () As Long
' char** passed by value.
Public Declare PtrSafe Sub TessoraNetLastError Lib "TessoraNet.dll" (ByVal Reason As LongPtr)
' A pointer result as a 32-bit Long.
Public Declare PtrSafe Function TessoraNetVersion Lib "TessoraNet.dll" () As Long
' No such export.
Public Declare PtrSafe Function TessoraNetReset Lib "TessoraNet.dll" () As Long
