{ TessoraNet for Free Pascal and Delphi: cdecl externals for the five functions and every extension
  of TessoraNet.h, and small wrappers that copy each result into an AnsiString and release the
  library's buffer with TessoraNetFree.

  Text is PAnsiChar in the process ANSI code page. Pointers and results are pointer-sized, as in
  the header; ProxyPort and TessoraNetLastStatus are 32-bit Integer, TessoraNetTokenExpired and
  TessoraNetTry return a Byte (only its low byte is defined). One unit serves 32- and 64-bit
  programs: a 32-bit program loads the 32-bit TessoraNet.dll, a 64-bit one the 64-bit DLL (the
  win64 zip).

  Failures (a missing endpoint file, an operation the file does not name, ...):
  - Windows, 32- and 64-bit: a failure leaves TessoraNet() (and so Call) as the structured
    exception TessoraNetFailureCode. FPC and Delphi raise it as EExternal (an
    EExternalException, as the code is none of theirs); IsTessoraNetFailure and
    TessoraNetFailureMessage read it:

      try
        Text := Call('CHARGE_DETAIL', 'id=ch_1');
      except
        on E: EExternal do
          if IsTessoraNetFailure(E) then
            WriteLn('TessoraNet failed: ', TessoraNetFailureMessage(E))
          else
            raise;
      end;

  - Linux: the failure is a C++ exception that Pascal cannot catch: the process ends.
  - Everywhere: CallOrRaise performs the operation through TessoraNetTry and raises
    ETessoraNetFailure, an ordinary Pascal exception, with the failure's message; TryCall hands
    the message back without an exception. }
unit TessoraNet;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

interface

uses
  SysUtils;

const
{$IFDEF MSWINDOWS}
  TessoraNetLibrary = 'TessoraNet.dll';
{$ELSE}
  TessoraNetLibrary = 'libTessoraNet.so';
{$ENDIF}
  { The code of the structured exception by which a failure leaves a function on Windows
    (TESSORANET_FAILURE_CODE). }
  TessoraNetFailureCode = $E054534E;

{ The five functions. }
procedure ConfigureService(ClientID, ClientSecret, Environment, ConfigFileName,
  PartnerToken: PAnsiChar); cdecl; external TessoraNetLibrary name 'ConfigureService';
procedure ConfigureProxy(ProxyServer: PAnsiChar; ProxyPort: Integer;
  ProxyUserName, ProxyPassword: PAnsiChar); cdecl; external TessoraNetLibrary name 'ConfigureProxy';
{ The export TessoraNet, under another name: the unit carries that one. }
function TessoraNetCall(EndPointOperation, Parameters, OptionalParameters,
  Body: PAnsiChar): PAnsiChar; cdecl; external TessoraNetLibrary name 'TessoraNet';
procedure TessoraNetGetInstanceData(var AccessToken: PAnsiChar); cdecl;
  external TessoraNetLibrary name 'TessoraNetGetInstanceData';
function TessoraNetTokenExpired: Byte; cdecl; external TessoraNetLibrary name 'TessoraNetTokenExpired';

{ The extensions. }
procedure TessoraNetFree(Buffer: PAnsiChar); cdecl; external TessoraNetLibrary name 'TessoraNetFree';
function TessoraNetTry(EndPointOperation, Parameters, OptionalParameters, Body: PAnsiChar;
  var Result: PAnsiChar): Byte; cdecl; external TessoraNetLibrary name 'TessoraNetTry';
function TessoraNetLastStatus: Integer; cdecl; external TessoraNetLibrary name 'TessoraNetLastStatus';
procedure TessoraNetLastError(var Reason: PAnsiChar); cdecl;
  external TessoraNetLibrary name 'TessoraNetLastError';
function TessoraNetSetOption(Name, Value: PAnsiChar): Byte; cdecl;
  external TessoraNetLibrary name 'TessoraNetSetOption';
function TessoraNetGetOption(Name: PAnsiChar; var Value: PAnsiChar): Byte; cdecl;
  external TessoraNetLibrary name 'TessoraNetGetOption';
function TessoraNetLastErrorKind: Integer; cdecl;
  external TessoraNetLibrary name 'TessoraNetLastErrorKind';
function TessoraNetLastHeader(Name: PAnsiChar; var Value: PAnsiChar): Byte; cdecl;
  external TessoraNetLibrary name 'TessoraNetLastHeader';
{ A constant of the library: read it, never release it. }
function TessoraNetVersion: PAnsiChar; cdecl; external TessoraNetLibrary name 'TessoraNetVersion';

const
  { The kinds TessoraNetLastErrorKind gives (TessoraNet.h). }
  TessoraNetErrorNone = 0;
  TessoraNetErrorNameResolution = 1;
  TessoraNetErrorConnect = 2;
  TessoraNetErrorTls = 3;
  TessoraNetErrorTimeout = 4;
  TessoraNetErrorProxy = 5;
  TessoraNetErrorMalformedAnswer = 6;
  TessoraNetErrorIncompleteAnswer = 7;
  TessoraNetErrorEndpointFile = 8;
  TessoraNetErrorUnknownOperation = 9;
  TessoraNetErrorSetting = 10;
  TessoraNetErrorOutOfMemory = 11;
  TessoraNetErrorRefusedRequest = 12;

type
  { Raised by CallOrRaise with the failure's message. }
  ETessoraNetFailure = class(Exception);

{ Wrappers: AnsiString in, AnsiString out, every result buffer released with TessoraNetFree. }

{ TessoraNet(): the response text; a failure arrives as described above. }
function Call(const Operation: AnsiString; const Parameters: AnsiString = '';
  const Query: AnsiString = ''; const Body: AnsiString = ''): AnsiString;
{ TessoraNetTry(): True with the response text, or False with the failure's message. }
function TryCall(const Operation, Parameters, Query, Body: AnsiString;
  out Text: AnsiString): Boolean;
{ TessoraNetTry(): the response text, or ETessoraNetFailure with the failure's message. }
function CallOrRaise(const Operation: AnsiString; const Parameters: AnsiString = '';
  const Query: AnsiString = ''; const Body: AnsiString = ''): AnsiString;
{ TessoraNetGetInstanceData(): the thread's access token, '' for none. }
function AccessToken: AnsiString;
{ TessoraNetTokenExpired() as a Boolean. }
function TokenExpired: Boolean;
{ TessoraNetLastError(): why the thread's last call got no answer or failed, '' after an answer. }
function LastError: AnsiString;
{ TessoraNetSetOption(): False when the name or value is refused; LastError says why. }
function SetOption(const Name, Value: AnsiString): Boolean;
{ TessoraNetGetOption(): the value in force for the thread, '' for an unknown name. }
function GetOption(const Name: AnsiString): AnsiString;
{ TessoraNetLastHeader(): True with a header of the thread's last answer (any letter case). }
function LastHeader(const Name: AnsiString; out Value: AnsiString): Boolean;
{ TessoraNetVersion(), copied. }
function Version: AnsiString;

{ Whether E is the library's failure, left as a structured exception (Windows). }
function IsTessoraNetFailure(E: Exception): Boolean;
{ The message of the library's failure E (Windows), '' for any other exception. }
function TessoraNetFailureMessage(E: Exception): AnsiString;

implementation

{ Copies a result buffer into an AnsiString and releases it. }
function Take(Buffer: PAnsiChar): AnsiString;
begin
  if Buffer = nil then
    Result := ''
  else
  begin
    Result := AnsiString(Buffer);
    TessoraNetFree(Buffer);
  end;
end;

function Call(const Operation, Parameters, Query, Body: AnsiString): AnsiString;
begin
  Result := Take(TessoraNetCall(PAnsiChar(Operation), PAnsiChar(Parameters), PAnsiChar(Query),
    PAnsiChar(Body)));
end;

function TryCall(const Operation, Parameters, Query, Body: AnsiString;
  out Text: AnsiString): Boolean;
var
  Buffer: PAnsiChar;
begin
  Buffer := nil;
  Result := TessoraNetTry(PAnsiChar(Operation), PAnsiChar(Parameters), PAnsiChar(Query),
    PAnsiChar(Body), Buffer) <> 0;
  Text := Take(Buffer);
end;

function CallOrRaise(const Operation, Parameters, Query, Body: AnsiString): AnsiString;
begin
  if not TryCall(Operation, Parameters, Query, Body, Result) then
    raise ETessoraNetFailure.Create(string(Result));
end;

function AccessToken: AnsiString;
var
  Buffer: PAnsiChar;
begin
  Buffer := nil;
  TessoraNetGetInstanceData(Buffer);
  Result := Take(Buffer);
end;

function TokenExpired: Boolean;
begin
  Result := TessoraNetTokenExpired and $FF <> 0;
end;

function LastError: AnsiString;
var
  Buffer: PAnsiChar;
begin
  Buffer := nil;
  TessoraNetLastError(Buffer);
  Result := Take(Buffer);
end;

function SetOption(const Name, Value: AnsiString): Boolean;
begin
  Result := TessoraNetSetOption(PAnsiChar(Name), PAnsiChar(Value)) and $FF <> 0;
end;

function GetOption(const Name: AnsiString): AnsiString;
var
  Buffer: PAnsiChar;
begin
  Buffer := nil;
  if TessoraNetGetOption(PAnsiChar(Name), Buffer) and $FF <> 0 then
    Result := Take(Buffer)
  else
    Result := '';
end;

function LastHeader(const Name: AnsiString; out Value: AnsiString): Boolean;
var
  Buffer: PAnsiChar;
begin
  Buffer := nil;
  Result := TessoraNetLastHeader(PAnsiChar(Name), Buffer) <> 0;
  Value := Take(Buffer);
end;

function Version: AnsiString;
begin
  Result := AnsiString(TessoraNetVersion);
end;

{$IFDEF MSWINDOWS}
function IsTessoraNetFailure(E: Exception): Boolean;
begin
  Result := (E is EExternal) and (EExternal(E).ExceptionRecord <> nil) and
    (EExternal(E).ExceptionRecord^.ExceptionCode = TessoraNetFailureCode);
end;

function TessoraNetFailureMessage(E: Exception): AnsiString;
begin
  Result := '';
  { ExceptionInformation[0] is pointer-sized on 32- and 64-bit Windows alike. }
  if IsTessoraNetFailure(E) and (EExternal(E).ExceptionRecord^.NumberParameters >= 1) then
    Result := AnsiString(PAnsiChar(EExternal(E).ExceptionRecord^.ExceptionInformation[0]));
end;
{$ELSE}
function IsTessoraNetFailure(E: Exception): Boolean;
begin
  Result := False;
end;

function TessoraNetFailureMessage(E: Exception): AnsiString;
begin
  Result := '';
end;
{$ENDIF}

end.
