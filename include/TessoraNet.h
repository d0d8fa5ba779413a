/*
 * TessoraNet: client library for the Tessora payment API.
 *
 * Windows: TessoraNet.dll, a 32-bit DLL for 32-bit processes and a 64-bit DLL of the same name
 * for 64-bit processes. Linux: libTessoraNet.so. All export these five functions with plain,
 * undecorated names, and the extensions declared after them.
 *
 * Calling convention and sizes
 *   cdecl on 32-bit Windows (the caller pushes the arguments right to left and removes them);
 *   the platform's one C convention elsewhere (64-bit Windows: the x64 convention).
 *   Pointer-sized: every char* and const char* (arguments and results) and the char** of
 *   TessoraNetGetInstanceData, TessoraNetTry and TessoraNetLastError: 32 bits in the 32-bit DLL,
 *   64 bits in the 64-bit DLL and on 64-bit Linux. 32 bits everywhere: int (ProxyPort,
 *   TessoraNetLastStatus). 8 bits: unsigned char (TessoraNetTokenExpired, TessoraNetTry).
 *
 * Text
 *   Every string passed in or handed back is a zero-terminated byte string in the process ANSI
 *   code page, read once when the library loads (Windows: GetACP; Linux: the codeset of the
 *   environment's locale, LC_ALL / LC_CTYPE / LANG, where the C locale counts as UTF-8).
 *   A null pointer is accepted wherever a string is expected and means the empty string.
 *   The library reads a host string only during the call and keeps no pointer to it.
 *   Bytes invalid in the code page become a replacement character; characters the code page
 *   cannot hold come back as a best-fit character or "?".
 *   A thread whose setting "text.encoding" is "utf-8" passes and gets UTF-8 instead, in every
 *   export that takes or returns text (invalid sequences and lone surrogates become U+FFFD);
 *   see docs/settings.md.
 *
 * Result buffers
 *   TessoraNet and TessoraNetGetInstanceData hand back a new buffer for every result. The
 *   library never reads, changes, reuses or releases a buffer once handed out by itself. It
 *   comes from the library's own allocator, so never pass it to free(), delete, LocalFree or any
 *   other release routine of your own; release it with the extension TessoraNetFree, or keep it:
 *   a buffer not released stays valid until the library is unloaded (each one costs the process
 *   the text's length plus a few bytes for as long as it runs).
 *
 * Threads
 *   There are no handles: everything configured, and the token the library captures, belongs to
 *   the calling thread. Configure each thread that calls the library; a new thread starts with
 *   empty settings and no token (unless the setting "config.shared" is "on": a thread that never
 *   called ConfigureService then uses the last configuration, proxy and token any thread set or
 *   captured; see docs/settings.md). Threads may call the library at the same time. The
 *   endpoint file is read once per process, by the first TessoraNet call of any thread, from that
 *   thread's ConfigFileName; later values of ConfigFileName are ignored.
 *   Only the traffic of the thread that loaded the library is recorded, in "Call Logs.txt" in
 *   the current directory at load time. The log holds request headers, credentials included.
 *
 * TLS
 *   TLS 1.2 only; the server's certificate and host name are verified. Linux: the system's
 *   OpenSSL 3, linked. Windows: OpenSSL DLLs of the DLL's own width loaded at the first
 *   connection; the first complete pair found in this order is used:
 *     1. libssl-3.dll + libcrypto-3.dll (64-bit: libssl-3-x64.dll + libcrypto-3-x64.dll) in the
 *        folder of TessoraNet.dll itself;
 *     2. libeay32.dll + ssleay32.dll (or libssl32.dll), OpenSSL 1.0.2 or older (the same names
 *        in 64-bit builds), by the standard DLL search (the program's folder first);
 *     3. the OpenSSL 3 pair of 1. by the standard DLL search.
 *   A DLL that lacks a function the library needs is passed over. Deploy OpenSSL 3 next to
 *   TessoraNet.dll: the 1.0 line no longer receives security fixes.
 *
 * Failures
 *   An HTTP error status is not a failure: its response body is the result. Transport failures
 *   of a call (name resolution, connection, TLS, time-outs) are not failures either: TessoraNet
 *   then returns the last status line received, or an empty string. Nor is a route or a
 *   Parameters line that would move the request to another host (a blank line in Parameters):
 *   nothing is sent, and TessoraNet returns an empty string.
 *   Other failures (a missing or malformed endpoint file, an unknown operation, an Environment
 *   holding "@", "#", "?", "\" or a control character, a PartnerToken with a line break inside,
 *   exhausted memory) leave the function without a result:
 *   - Windows: as a non-continuable structured exception with code TESSORANET_FAILURE_CODE,
 *     whose ExceptionInformation[0] points to the message (zero-terminated, ANSI code page, or
 *     UTF-8 on a thread whose "text.encoding" is "utf-8"; valid until the thread's next
 *     failure). Hosts that need to survive it catch it with __try / __except or a vectored
 *     exception handler.
 *   - Linux: as a C++ exception derived from std::exception whose what() is the message in
 *     UTF-8. A C++ host can catch it; a C host sees the process end, as with an unhandled
 *     exception on Windows.
 */
#ifndef TESSORANET_H
#define TESSORANET_H

#if defined(_WIN32)
#define TESSORANET_CALL __cdecl
#else
#define TESSORANET_CALL
#endif

/* Code of the structured exception by which a failure leaves a function on Windows. */
#define TESSORANET_FAILURE_CODE 0xE054534EUL

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Configures the calling thread: OAuth client id and secret, the environment prefix of the API
 * host name, the path of the endpoint file, and the partner token ("" for none). Replaces all
 * five values; checks and sends nothing. The captured token and the proxy settings stay.
 */
void TESSORANET_CALL ConfigureService(const char* ClientID, const char* ClientSecret,
                                      const char* Environment, const char* ConfigFileName,
                                      const char* PartnerToken);

/*
 * Configures the calling thread's HTTP proxy (CONNECT tunnel). An empty ProxyServer means no
 * proxy. Basic credentials are sent only when both user name and password are non-empty.
 * ProxyPort is a 32-bit signed integer (int on every supported platform), stored as passed; only
 * its low 16 bits are used as the port.
 */
void TESSORANET_CALL ConfigureProxy(const char* ProxyServer, int ProxyPort,
                                    const char* ProxyUserName, const char* ProxyPassword);

/*
 * Performs the API operation named EndPointOperation (a name from the endpoint file) for the
 * calling thread. Parameters holds the route parameters and OptionalParameters the query
 * parameters, one name=value per line (CR LF, CR or LF). Body is the JSON body, sent by POST
 * and PUT operations only. "AUTHORIZE" (in any letter case) sends the client credentials and
 * keeps the returned access token for the thread's later calls.
 * Returns the response body (whatever the HTTP status) in a new result buffer; never NULL.
 */
char* TESSORANET_CALL TessoraNet(const char* EndPointOperation, const char* Parameters,
                                 const char* OptionalParameters, const char* Body);

/*
 * Stores in *AccessToken a new result buffer holding the calling thread's access token ("" when
 * it has none). AccessToken must point to a writable pointer variable; NULL is ignored.
 */
void TESSORANET_CALL TessoraNetGetInstanceData(char** AccessToken);

/*
 * 1 when the calling thread's token has expired (or it never got one), else 0. Only the low
 * byte of the return value is defined. The library never renews a token by itself.
 */
unsigned char TESSORANET_CALL TessoraNetTokenExpired(void);

/*
 * ---------------------------------------------------------------------------------------------
 * Extensions: not part of the five-function interface.
 *
 * Additional functions for hosts written today, cdecl and undecorated like the five. A host that
 * uses only the five above sees no difference. Nothing leaves these functions as a failure:
 * no structured exception on Windows, no C++ exception on Linux.
 * ---------------------------------------------------------------------------------------------
 */

/*
 * Releases a buffer handed out by TessoraNet, TessoraNetGetInstanceData, TessoraNetTry,
 * TessoraNetLastError, TessoraNetLastHeader or TessoraNetGetOption. NULL is ignored. Release each
 * buffer at most once and do not use it afterwards. Hosts that never call it keep every result
 * buffer until the process ends.
 */
void TESSORANET_CALL TessoraNetFree(char* Buffer);

/*
 * Performs the operation exactly as TessoraNet does (the same request, log records and token
 * capture), but a failure does not leave the function. Returns 1 with the response text in
 * *Result, or 0 with the failure's message (the text TessoraNet's failure carries) in *Result.
 * *Result is a new buffer for TessoraNetFree; it is NULL only when not even the message could be
 * allocated. Result may be NULL when the host wants neither.
 */
unsigned char TESSORANET_CALL TessoraNetTry(const char* EndPointOperation, const char* Parameters,
                                            const char* OptionalParameters, const char* Body,
                                            char** Result);

/*
 * The HTTP status code (100 to 599) of the answer to the calling thread's last TessoraNet or
 * TessoraNetTry call; 0 when that call received no status line (a connection, TLS or time-out
 * failure), failed before sending, or when the thread has made no call yet.
 */
int TESSORANET_CALL TessoraNetLastStatus(void);

/*
 * Stores in *Reason a new buffer (for TessoraNetFree) saying why the calling thread's last
 * TessoraNet or TessoraNetTry call got no answer or failed, for example
 * "TLS handshake with sandbox.api.tessora.net:443 failed: certificate verify failed (unable to
 * get local issuer certificate)". After an answer: "" when the answer arrived complete, otherwise
 * what was wrong with it, for example "Incomplete answer from sandbox.api.tessora.net:443: the
 * answer ended after 27 of 100 bytes." (the result then holds what arrived, and
 * TessoraNetLastStatus its status) or why a token answer was not kept. "" when the thread made no
 * call. *Reason is NULL only when the buffer could not be allocated.
 */
void TESSORANET_CALL TessoraNetLastError(char** Reason);

/*
 * The kind of the calling thread's last failure, as TessoraNetLastErrorKind gives it. The numbers
 * are fixed: new kinds only ever get new numbers.
 */
#define TESSORANET_ERROR_NONE 0            /* the last call met no failure */
#define TESSORANET_ERROR_NAME_RESOLUTION 1 /* the host name of the API or proxy did not resolve */
#define TESSORANET_ERROR_CONNECT 2         /* the connection to the API host was not made */
#define TESSORANET_ERROR_TLS 3             /* TLS library, handshake or certificate check */
#define TESSORANET_ERROR_TIMEOUT 4 /* a connect, send, receive or the whole call timed out */
#define TESSORANET_ERROR_PROXY 5   /* the proxy failed, refused the tunnel or misanswered */
#define TESSORANET_ERROR_MALFORMED_ANSWER                                                         \
  6                                          /* an answer (or token answer) that was not accepted \
                                              */
#define TESSORANET_ERROR_INCOMPLETE_ANSWER 7 /* the answer ended or was cut before it was whole */
#define TESSORANET_ERROR_ENDPOINT_FILE 8     /* the endpoint file cannot be opened or read */
#define TESSORANET_ERROR_UNKNOWN_OPERATION 9 /* the operation is not in the endpoint file */
#define TESSORANET_ERROR_SETTING 10          /* a setting's name or value was refused */
#define TESSORANET_ERROR_OUT_OF_MEMORY 11    /* memory ran out */
#define TESSORANET_ERROR_REFUSED_REQUEST                  \
  12 /* a host text would have changed the request's host \
        or added a header line: nothing was sent */

/*
 * The kind of the calling thread's last failure (TESSORANET_ERROR_*), for a host to branch on:
 * the same last call TessoraNetLastError describes. TESSORANET_ERROR_NONE when that call met no
 * failure and its answer arrived whole, or when the thread made no call.
 */
int TESSORANET_CALL TessoraNetLastErrorKind(void);

/*
 * Stores in *Value a new buffer (for TessoraNetFree) holding the header Name (in any letter case)
 * of the answer to the calling thread's last call, for example a request id for the provider's
 * support. Repeated headers are joined with ", ". Returns 1 when the header is present, else 0
 * with "" in *Value (also when the last call got no answer). *Value is NULL only when the buffer
 * could not be allocated. Value may not be NULL (0 is returned).
 */
unsigned char TESSORANET_CALL TessoraNetLastHeader(const char* Name, char** Value);

/*
 * The library's version, for example "3.1.0": a constant text owned by the library, valid while
 * it is loaded. Do not release it.
 */
const char* TESSORANET_CALL TessoraNetVersion(void);

/*
 * Sets the setting Name (for example "timeout.io-ms") to Value, both in the thread's text encoding
 * (the ANSI code page, or UTF-8 under "text.encoding" "utf-8", as it was before this call).
 * Returns 1 when the value is accepted, else 0 (an unknown name or a value the setting does not
 * take): nothing changes then, and TessoraNetLastError gives the reason. A thread-scoped setting
 * holds for the calling thread's later calls; a process-scoped one for every thread's. A host's
 * value comes before the environment's (TESSORANET_<NAME>) and the endpoint file's "SETTINGS".
 * docs/settings.md lists the settings.
 */
unsigned char TESSORANET_CALL TessoraNetSetOption(const char* Name, const char* Value);

/*
 * Stores in *Value a new buffer (for TessoraNetFree) holding the value of the setting Name in force
 * for the calling thread, wherever it comes from. Returns 1, or 0 for an unknown name (*Value is
 * then NULL and TessoraNetLastError gives the reason) or when Value is NULL.
 */
unsigned char TESSORANET_CALL TessoraNetGetOption(const char* Name, char** Value);

#ifdef __cplusplus
}
#endif

#endif /* TESSORANET_H */
