Attribute VB_Name = "TessoraNetApi"
' TessoraNet for VBA in 64-bit Office (Excel, Access, Word, ...): Declare PtrSafe statements for
' the five functions and every extension of TessoraNet.h, and wrappers that copy each result into
' a String and release the library's buffer with TessoraNetFree.
'
' FOR 64-BIT OFFICE ONLY, with the 64-bit TessoraNet.dll (the win64 zip). VBA in 32-bit Office
' calls DLL functions with the stdcall convention only, and the 32-bit TessoraNet.dll exports
' cdecl functions: a call from there fails with "Bad DLL calling convention" (error 49) or worse.
' 64-bit Windows has one calling convention, so 64-bit VBA calls the 64-bit DLL as it is. In the
' VBA editor, #If Win64 tells which Office runs; the wrappers below refuse to run elsewhere.
'
' Import it with File > Import File. Put TessoraNet.dll, libssl-3-x64.dll and libcrypto-3-x64.dll
' in one folder and give that folder's path in TessoraNetLibraryFolder below (or put the folder on
' PATH before Office starts): Office's own folder comes first in the DLL search, not the
' workbook's.
'
' Text is passed as String (VBA converts it to the ANSI code page, as the library expects);
' results come back as LongPtr (a pointer) and are copied with TessoraText. Pointers are LongPtr,
' ProxyPort and TessoraNetLastStatus Long (32 bits), TessoraNetTokenExpired and TessoraNetTry Byte.
'
' Failures (a missing endpoint file, an operation the file does not name): inside TessoraNetCall
' a failure is a structured exception that VBA cannot catch, and Office ends. Use TessoraTry
' (TessoraNetTry), which hands the failure's message back instead.
Option Explicit

' The folder that holds TessoraNet.dll and the OpenSSL DLLs, or "" for the standard DLL search.
Public Const TessoraNetLibraryFolder As String = ""

#If Win64 Then

' The five functions.
Public Declare PtrSafe Sub ConfigureService Lib "TessoraNet.dll" (ByVal ClientID As String, _
    ByVal ClientSecret As String, ByVal Environment As String, ByVal ConfigFileName As String, _
    ByVal PartnerToken As String)
Public Declare PtrSafe Sub ConfigureProxy Lib "TessoraNet.dll" (ByVal ProxyServer As String, _
    ByVal ProxyPort As Long, ByVal ProxyUserName As String, ByVal ProxyPassword As String)
' The export TessoraNet, under another name: the project may not call a procedure like a module.
Public Declare PtrSafe Function TessoraNetCall Lib "TessoraNet.dll" Alias "TessoraNet" ( _
    ByVal EndPointOperation As String, ByVal Parameters As String, _
    ByVal OptionalParameters As String, ByVal Body As String) As LongPtr
Public Declare PtrSafe Sub TessoraNetGetInstanceData Lib "TessoraNet.dll" ( _
    ByRef AccessToken As LongPtr)
Public Declare PtrSafe Function TessoraNetTokenExpired Lib "TessoraNet.dll" () As Byte

' The extensions.
Public Declare PtrSafe Sub TessoraNetFree Lib "TessoraNet.dll" (ByVal Buffer As LongPtr)
Public Declare PtrSafe Function TessoraNetTry Lib "TessoraNet.dll" ( _
    ByVal EndPointOperation As String, ByVal Parameters As String, _
    ByVal OptionalParameters As String, ByVal Body As String, ByRef Result As LongPtr) As Byte
Public Declare PtrSafe Function TessoraNetLastStatus Lib "TessoraNet.dll" () As Long
Public Declare PtrSafe Sub TessoraNetLastError Lib "TessoraNet.dll" (ByRef Reason As LongPtr)
Public Declare PtrSafe Function TessoraNetSetOption Lib "TessoraNet.dll" ( _
    ByVal Name As String, ByVal Value As String) As Byte
Public Declare PtrSafe Function TessoraNetGetOption Lib "TessoraNet.dll" ( _
    ByVal Name As String, ByRef Value As LongPtr) As Byte
Public Declare PtrSafe Function TessoraNetLastErrorKind Lib "TessoraNet.dll" () As Long
Public Declare PtrSafe Function TessoraNetLastHeader Lib "TessoraNet.dll" ( _
    ByVal Name As String, ByRef Value As LongPtr) As Byte
' A constant of the library: copy it with TessoraText(..., False), never release it.
Public Declare PtrSafe Function TessoraNetVersion Lib "TessoraNet.dll" () As LongPtr

' From the system, to copy the library's text and to load it from TessoraNetLibraryFolder.
Private Declare PtrSafe Function lstrlenA Lib "kernel32" (ByVal Text As LongPtr) As Long
Private Declare PtrSafe Sub CopyMemory Lib "kernel32" Alias "RtlMoveMemory" ( _
    ByVal Destination As LongPtr, ByVal Source As LongPtr, ByVal Length As LongPtr)
Private Declare PtrSafe Function LoadLibraryW Lib "kernel32" (ByVal FileName As LongPtr) As LongPtr

' Loads TessoraNet.dll from TessoraNetLibraryFolder once, so that the Declare statements above
' find it loaded (the OpenSSL DLLs beside it are looked for there first).
Private Sub LoadFromFolder()
    Static Loaded As Boolean
    If Loaded Or TessoraNetLibraryFolder = "" Then Exit Sub
    Dim Path As String
    Path = TessoraNetLibraryFolder
    If Right$(Path, 1) <> "\" Then Path = Path & "\"
    Path = Path & "TessoraNet.dll"
    If LoadLibraryW(StrPtr(Path)) = 0 Then
        Err.Raise vbObjectError + 1, "TessoraNetApi", "cannot load " & Path
    End If
    Loaded = True
End Sub

' Copies a zero-terminated text of the library into a String; releases the buffer unless told not
' to (TessoraNetVersion's text belongs to the library).
Public Function TessoraText(ByVal Buffer As LongPtr, Optional ByVal Release As Boolean = True) _
    As String
    If Buffer = 0 Then Exit Function
    Dim Length As Long
    Length = lstrlenA(Buffer)
    If Length > 0 Then
        Dim Bytes() As Byte
        ReDim Bytes(0 To Length - 1)
        CopyMemory VarPtr(Bytes(0)), Buffer, Length
        TessoraText = StrConv(Bytes, vbUnicode)
    End If
    If Release Then TessoraNetFree Buffer
End Function

' Configures the calling thread (ConfigureService and ConfigureProxy; "" for no proxy).
Public Sub TessoraConfigure(ByVal ClientID As String, ByVal ClientSecret As String, _
    ByVal Environment As String, ByVal ConfigFileName As String, _
    Optional ByVal PartnerToken As String = "", Optional ByVal ProxyServer As String = "", _
    Optional ByVal ProxyPort As Long = 0, Optional ByVal ProxyUserName As String = "", _
    Optional ByVal ProxyPassword As String = "")
    LoadFromFolder
    ConfigureService ClientID, ClientSecret, Environment, ConfigFileName, PartnerToken
    ConfigureProxy ProxyServer, ProxyPort, ProxyUserName, ProxyPassword
End Sub

' TessoraNetTry: True with the response text in Text, or False with the failure's message.
Public Function TessoraTry(ByVal Operation As String, ByVal Parameters As String, _
    ByVal Query As String, ByVal Body As String, ByRef Text As String) As Boolean
    LoadFromFolder
    Dim Buffer As LongPtr
    TessoraTry = TessoraNetTry(Operation, Parameters, Query, Body, Buffer) <> 0
    Text = TessoraText(Buffer)
End Function

' The HTTP status of the thread's last call, 0 when it got no answer.
Public Function TessoraLastStatus() As Long
    LoadFromFolder
    TessoraLastStatus = TessoraNetLastStatus()
End Function

' Why the thread's last call got no answer or failed, "" after an answer.
Public Function TessoraLastError() As String
    LoadFromFolder
    Dim Buffer As LongPtr
    TessoraNetLastError Buffer
    TessoraLastError = TessoraText(Buffer)
End Function

' Sets a setting (docs/settings.md); False when refused: TessoraLastError says why.
Public Function TessoraSetOption(ByVal Name As String, ByVal Value As String) As Boolean
    LoadFromFolder
    TessoraSetOption = TessoraNetSetOption(Name, Value) <> 0
End Function

' The value of a setting in force for the thread, "" for an unknown name.
Public Function TessoraGetOption(ByVal Name As String) As String
    LoadFromFolder
    Dim Buffer As LongPtr
    If TessoraNetGetOption(Name, Buffer) <> 0 Then TessoraGetOption = TessoraText(Buffer)
End Function

' The thread's access token, "" for none; whether it has expired.
Public Function TessoraAccessToken() As String
    LoadFromFolder
    Dim Buffer As LongPtr
    TessoraNetGetInstanceData Buffer
    TessoraAccessToken = TessoraText(Buffer)
End Function

Public Function TessoraTokenExpired() As Boolean
    LoadFromFolder
    TessoraTokenExpired = (TessoraNetTokenExpired() And &HFF) <> 0
End Function

Public Function TessoraVersion() As String
    LoadFromFolder
    TessoraVersion = TessoraText(TessoraNetVersion(), False)
End Function

#Else

' 32-bit Office: the 32-bit DLL's cdecl functions cannot be called from VBA (see above).
Public Function TessoraVersion() As String
    Err.Raise vbObjectError + 2, "TessoraNetApi", _
        "TessoraNet.bas is for 64-bit Office: VBA in 32-bit Office cannot call the cdecl DLL"
End Function

#End If
