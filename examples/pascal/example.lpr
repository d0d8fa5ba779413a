{ A complete TessoraNet session in Pascal: configure, mask the secrets in the traffic log (the
  setting "log.secrets"), AUTHORIZE, create a charge and read it back, then an operation the
  endpoint file does not name, caught with TessoraNetTry; on Windows the same failure once more,
  caught as an exception, and a call after it.

  Settings come from the environment: TESSORA_ENVIRONMENT (e.g. '127.0.0.1:PORT/' for
  tessora-sandbox), TESSORA_ENDPOINTS (default 'endpoints.json'), TESSORA_CLIENT_ID and
  TESSORA_CLIENT_SECRET (default the sandbox's). The output holds no token, and the charge's
  creation time is masked, so it can be compared with expected-output.txt. }
program example;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}
{$APPTYPE CONSOLE}

uses
  SysUtils, TessoraNet;

function Setting(const Name, Fallback: string): AnsiString;
begin
  Result := AnsiString(GetEnvironmentVariable(Name));
  if Result = '' then
    Result := AnsiString(Fallback);
end;

{ The response with the digits after "created": replaced by <time>. }
function Masked(const Response: AnsiString): AnsiString;
const
  Created = '"created":';
var
  Rest: AnsiString;
  At, Stop: Integer;
begin
  Result := '';
  Rest := Response;
  At := Pos(Created, Rest);
  while At > 0 do
  begin
    Result := Result + Copy(Rest, 1, At + Length(Created) - 1) + '<time>';
    Stop := At + Length(Created);
    while (Stop <= Length(Rest)) and (Rest[Stop] in ['0'..'9']) do
      Inc(Stop);
    Rest := Copy(Rest, Stop, MaxInt);
    At := Pos(Created, Rest);
  end;
  Result := Result + Rest;
end;

{ The value of "id":"..." in a response, or ''. }
function FindId(const Response: AnsiString): AnsiString;
const
  Key = '"id":"';
var
  At, Stop: Integer;
begin
  Result := '';
  At := Pos(Key, Response);
  if At = 0 then
    Exit;
  At := At + Length(Key);
  Stop := At;
  while (Stop <= Length(Response)) and (Response[Stop] <> '"') do
    Inc(Stop);
  Result := Copy(Response, At, Stop - At);
end;

var
  Environment, Text, Charge, Id: AnsiString;
  Status: Integer;
begin
  Environment := Setting('TESSORA_ENVIRONMENT', '');
  if Environment = '' then
  begin
    WriteLn(ErrOutput, 'set TESSORA_ENVIRONMENT, e.g. 127.0.0.1:PORT/ for tessora-sandbox');
    Halt(2);
  end;
  WriteLn('TessoraNet ', Version);

  ConfigureService(PAnsiChar(Setting('TESSORA_CLIENT_ID', 'sandbox-client')),
    PAnsiChar(Setting('TESSORA_CLIENT_SECRET', 'sandbox-secret')), PAnsiChar(Environment),
    PAnsiChar(Setting('TESSORA_ENDPOINTS', 'endpoints.json')), '');
  ConfigureProxy('', 0, '', '');  { no proxy }

  { A library setting from code: "Call Logs.txt" then shows secrets and tokens masked. }
  if not SetOption('log.secrets', 'masked') then
  begin
    WriteLn('log.secrets: refused: ', LastError);
    Halt(1);
  end;
  WriteLn('log.secrets: ', GetOption('log.secrets'));

  if not TryCall('AUTHORIZE', '', '', '', Text) then
  begin
    WriteLn('AUTHORIZE: failed: ', Text);
    Halt(1);
  end;
  Status := TessoraNetLastStatus;
  if Status = 0 then
  begin
    WriteLn('AUTHORIZE: no answer: ', LastError);
    Halt(1);
  end;
  Write('AUTHORIZE: HTTP ', Status, ', token received: ');
  if AccessToken <> '' then Write('yes') else Write('no');
  Write(', expired: ');
  if TokenExpired then WriteLn('yes') else WriteLn('no');

  Charge := Call('CHARGE_CREATE', '', '',
    '{"amount": 1250, "currency": "EUR", "description": "Order 1042"}');
  WriteLn('CHARGE_CREATE: HTTP ', TessoraNetLastStatus);
  WriteLn('  ', Masked(Charge));
  Id := FindId(Charge);

  Text := Call('CHARGE_DETAIL', 'id=' + Id);
  WriteLn('CHARGE_DETAIL id=', Id, ': HTTP ', TessoraNetLastStatus);
  WriteLn('  ', Masked(Text));

  { An operation the endpoint file does not name: a failure, reported by TessoraNetTry. }
  if TryCall('REFUND_CREATE', 'id=' + Id, '', '', Text) then
    WriteLn('REFUND_CREATE: unexpectedly performed')
  else
    WriteLn('REFUND_CREATE: failed: ', Text);
  WriteLn('  last status: ', TessoraNetLastStatus, ', last error: ', LastError);
{$IFDEF MSWINDOWS}
  { On Windows the failure leaves TessoraNet() as a structured exception, which FPC and Delphi
    raise as EExternal (32- and 64-bit alike): caught here, and the program goes on. }
  try
    Call('REFUND_CREATE', 'id=' + Id);
    WriteLn('REFUND_CREATE: unexpectedly performed');
  except
    on E: EExternal do
      if IsTessoraNetFailure(E) then
        WriteLn('REFUND_CREATE: caught ', E.ClassName, ': ', TessoraNetFailureMessage(E))
      else
        raise;
  end;
  Text := Call('CHARGE_DETAIL', 'id=' + Id);
  WriteLn('CHARGE_DETAIL id=', Id, ' after the exception: HTTP ', TessoraNetLastStatus);
{$ENDIF}
  WriteLn('done');
end.
