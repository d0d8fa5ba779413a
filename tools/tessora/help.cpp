#include "help.h"

namespace tessora::cli {

const char kHelpText[] = R"(tessora - run TessoraNet operations from the command line

Usage:
  tessora [OPTION]... [OPERATION [OPERATION-OPTION]...]...
  tessora doctor [OPTION]...
  tessora --version [--library PATH]

tessora loads the TessoraNet library the way a host program does (by path, at run time),
configures the calling thread from the options, then performs each OPERATION in turn on that
thread, so a token obtained by AUTHORIZE is used by the operations after it. Without an
operation it only configures the library and shows the token state.

Each operation name (a key of the endpoint file, such as AUTHORIZE or CHARGE_DETAIL) starts a
new group; the operation options after it belong to that operation until the next name.

Configuration options (before the first operation):
  --library PATH          the library to load (default: libTessoraNet.so or TessoraNet.dll
                          next to this program)
  --endpoints FILE        the endpoint file (JSON: operation names, routes and methods)
  --client-id ID          OAuth client id, sent by AUTHORIZE
  --client-secret SECRET  OAuth client secret, sent by AUTHORIZE
  --env PREFIX            environment prefix put before the API host name, e.g. "sandbox."
                          or "127.0.0.1:8443/" for a local sandbox
  --partner-token TOKEN   value of the partner-token header
  --proxy HOST:PORT       send the requests through this HTTP proxy (CONNECT tunnel)
  --proxy-user USER       proxy user name (basic authentication)
  --proxy-password PASS   proxy password
  --set KEY=VALUE         a setting of the library (TessoraNetSetOption), e.g.
                          --set timeout.call-ms=60000; repeat for several
  --raw                   print each response exactly as returned and nothing else on
                          standard output (the token state goes to standard error)
  --trace                 after each operation, print the records it added to
                          "Call Logs.txt" (credentials, tokens and the partner token
                          shown as ****abcd), its HTTP status and why it got no answer
  --trace=full            the same with every secret as the log holds it
  --version               print the version of tessora and of the library, the library's
                          file, and stop
  -h, --help              show this help

tessora doctor [OPTION]...
  Checks, with the same configuration options, what a call would meet, one line per check
  (OK, WARN, FAIL, or SKIP after a failure that leaves nothing to check) and what to do:
  the library and its version, the OpenSSL it uses, the endpoint file, the base URL made
  from --env, credentials, name resolution, the TCP connect (to the proxy, with --proxy),
  the proxy's tunnel, the TLS handshake with the library's trust settings (the server's
  certificate: subject, issuer, names, validity) and the clock against that certificate.
  It sends no API request. Exit status 0 when nothing failed (warnings allowed), else 1.

Operation options (after an operation name):
  -p, --param NAME=VALUE  a route parameter: fills the placeholder :NAME of the route;
                          repeat for several (they are passed one per line)
  -q, --query NAME=VALUE  a query parameter, added to the URL's query string; repeatable
  -b, --body TEXT         the request body (sent by POST and PUT operations only)
  --body-file FILE        the request body read from FILE, bytes as they are; a file that
                          starts with a UTF-8 byte-order mark is converted from UTF-8
  --operation NAME        starts an operation whose name begins with "-"

Options take their value as the next argument or after "=" (--env=sandbox.). Text is passed
to the library in the process ANSI code page, as typed (Windows: the system's ANSI code page;
Linux: the character set of the locale, LC_ALL / LC_CTYPE / LANG).

Output:
  For each operation: a header line, the response (JSON re-indented for reading; anything else
  as it came), and the token state: whether the thread holds a token, the token shortened, and
  whether it has expired. An empty response means an empty body or a failed exchange (see
  "Call Logs.txt" in the current directory, where the library records its traffic, credentials
  included). A response that is just a status line means the exchange failed after it.

Before each call, a warning on standard error when the route keeps a ":placeholder" that
no --param fills, or a --param names no placeholder of the route.

Exit status:
  0  every operation was performed (whatever HTTP status the API answered with)
  1  the library failed an operation (unknown operation, missing or malformed endpoint file,
     ...); its message is shown, and the operations after it are not performed
  2  the command line is wrong, or a body file cannot be read
  3  the library cannot be loaded, or lacks a function it needs

Examples:
  Check a configuration before the first call:
    tessora doctor --endpoints endpoints.json --env sandbox. --client-id my-id \
            --client-secret my-secret

  Configure only, and show the token state:
    tessora --endpoints endpoints.json --client-id my-id --client-secret my-secret

  Obtain a token, create a charge and read it back, against a local sandbox:
    tessora --endpoints endpoints.json --env 127.0.0.1:8443/ \
            --client-id sandbox-client --client-secret sandbox-secret \
      AUTHORIZE \
      CHARGE_CREATE --body '{"amount": 1250, "currency": "EUR", "description": "Order 1042"}' \
      CHARGE_DETAIL --param id=ch_00000001

  List with paging, through a proxy:
    tessora --endpoints endpoints.json --proxy proxy.example.com:3128 \
      AUTHORIZE CHARGE_LIST --query limit=10 --query offset=20

Security: command lines are visible to other users of the machine; so are the credentials
that "Call Logs.txt" records.
)";

}  // namespace tessora::cli
