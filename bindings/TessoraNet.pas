{ TessoraNet for Free Pascal and Delphi: cdecl externals for every export, and small wrappers
  that copy each result into a string and release the library's buffer.

  Text is PAnsiChar in the process ANSI code page. On Windows a failure inside TessoraNet()
  leaves it as a structured exception (FPC and Delphi: EExternal); on Linux it is a C++ exception
  that Pascal cannot catch, so the process ends. TessoraNetTry hands the message back instead. }
unit TessoraNet;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

interface

const
{$IFDEF MSWINDOWS}
  TessoraNetLibrary = 'TessoraNet.dll';
{$ELSE}
  TessoraNetLibrary = 'libTessoraNet.so';
{$ENDIF}

{ The five functions. }
procedure ConfigureService(ClientID, ClientSecret, Environment, ConfigFileName,
  PartnerToken: PAnsiChar); cdecl; external TessoraNetLibrary name 'ConfigureService';
procedure ConfigureProxy(ProxyServer: PAnsiChar; ProxyPort: Integer;
  ProxyUserName, ProxyPassword: PAnsiChar); cdecl; external TessoraNetLibrary name 'ConfigureProxy';
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
function TessoraNetVersion: PAnsiChar; cdecl; external TessoraNetLibrary name 'TessoraNetVersion';

{ Wrappers: AnsiString in, AnsiString out, every result buffer released. }
function Call(const Operation: AnsiString; const Parameters: AnsiString = '';
  const Query: AnsiString = ''; const Body: AnsiString = ''): AnsiString;
function TryCall(const Operation, Parameters, Query, Body: AnsiString;
  out Text: AnsiString): Boolean;
function AccessToken: AnsiString;
function LastError: AnsiString;

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

function AccessToken: AnsiString;
var
  Buffer: PAnsiChar;
begin
  Buffer := nil;
  TessoraNetGetInstanceData(Buffer);
  Result := Take(Buffer);
end;

function LastError: AnsiString;
var
  Buffer: PAnsiChar;
begin
  Buffer := nil;
  TessoraNetLastError(Buffer);
  Result := Take(Buffer);
end;

end.
