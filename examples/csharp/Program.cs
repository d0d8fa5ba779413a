// A complete TessoraNet session in C#: configure, mask the secrets in the traffic log (the setting
// "log.secrets"), AUTHORIZE, create a charge and read it back, then an operation the endpoint file
// does not name, caught with TessoraNetTry.
//
// Settings come from the environment: TESSORA_ENVIRONMENT (e.g. "127.0.0.1:PORT/" for
// tessora-sandbox), TESSORA_ENDPOINTS (default "endpoints.json"), TESSORA_CLIENT_ID and
// TESSORA_CLIENT_SECRET (default the sandbox's). The output holds no token, and the charge's
// creation time is masked, so it can be compared with expected-output.txt.
using System;
using System.Text.RegularExpressions;

static class Program
{
    static string Setting(string name, string fallback)
    {
        string value = Environment.GetEnvironmentVariable(name);
        return string.IsNullOrEmpty(value) ? fallback : value;
    }

    static string Masked(string response)
    {
        return Regex.Replace(response, "\"created\":\\d+", "\"created\":<time>");
    }

    static int Main()
    {
        string environment = Setting("TESSORA_ENVIRONMENT", "");
        if (environment.Length == 0)
        {
            Console.Error.WriteLine("set TESSORA_ENVIRONMENT, e.g. 127.0.0.1:PORT/ for tessora-sandbox");
            return 2;
        }
        Console.WriteLine("TessoraNet " + TessoraNet.Version());

        TessoraNet.ConfigureService(Setting("TESSORA_CLIENT_ID", "sandbox-client"),
            Setting("TESSORA_CLIENT_SECRET", "sandbox-secret"), environment,
            Setting("TESSORA_ENDPOINTS", "endpoints.json"), "");
        TessoraNet.ConfigureProxy("", 0, "", "");  // no proxy

        // A library setting from code: "Call Logs.txt" then shows secrets and tokens masked.
        if (!TessoraNet.SetOption("log.secrets", "masked"))
        {
            Console.WriteLine("log.secrets: refused: " + TessoraNet.LastError());
            return 1;
        }
        Console.WriteLine("log.secrets: " + TessoraNet.GetOption("log.secrets"));

        string result;
        if (!TessoraNet.Try("AUTHORIZE", "", "", "", out result))
        {
            Console.WriteLine("AUTHORIZE: failed: " + result);
            return 1;
        }
        int status = TessoraNet.LastStatus();
        if (status == 0)
        {
            Console.WriteLine("AUTHORIZE: no answer: " + TessoraNet.LastError());
            return 1;
        }
        Console.WriteLine("AUTHORIZE: HTTP " + status + ", token received: " +
            (TessoraNet.AccessToken().Length > 0 ? "yes" : "no") + ", expired: " +
            (TessoraNet.TokenExpired() ? "yes" : "no"));

        string charge = TessoraNet.Call("CHARGE_CREATE", "", "",
            "{\"amount\": 1250, \"currency\": \"EUR\", \"description\": \"Order 1042\"}");
        Console.WriteLine("CHARGE_CREATE: HTTP " + TessoraNet.LastStatus());
        Console.WriteLine("  " + Masked(charge));
        Match match = Regex.Match(charge, "\"id\":\"([^\"]*)\"");
        string id = match.Success ? match.Groups[1].Value : "";

        string detail = TessoraNet.Call("CHARGE_DETAIL", "id=" + id);
        Console.WriteLine("CHARGE_DETAIL id=" + id + ": HTTP " + TessoraNet.LastStatus());
        Console.WriteLine("  " + Masked(detail));

        // An operation the endpoint file does not name: a failure, reported by TessoraNetTry.
        if (TessoraNet.Try("REFUND_CREATE", "id=" + id, "", "", out result))
            Console.WriteLine("REFUND_CREATE: unexpectedly performed");
        else
            Console.WriteLine("REFUND_CREATE: failed: " + result);
        Console.WriteLine("  last status: " + TessoraNet.LastStatus() +
            ", last error: " + TessoraNet.LastError());
        Console.WriteLine("done");
        return 0;
    }
}
