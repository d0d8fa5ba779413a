// P/Invoke declarations (CallingConvention.Cdecl) for the five functions and every extension of
// TessoraNet.h, and small wrappers that copy each result into a string and release the library's
// buffer with TessoraNetFree.
//
// Windows: the process loads the TessoraNet.dll of its own width. An x86 program (and AnyCPU with
// "Prefer 32-bit") runs 32-bit and needs the DLL of the win32 zip; an x64 program, and AnyCPU
// on 64-bit Windows (.NET 5 and later: AnyCPU runs 64-bit), needs the DLL of the win64 zip.
// Environment.Is64BitProcess tells which. Results are IntPtr, which is pointer-sized in both.
// Linux (Mono): the name "TessoraNet.dll" is mapped to libTessoraNet.so, found on
// LD_LIBRARY_PATH. Text goes in and comes back in the process ANSI code page (CharSet.Ansi).
//
// A failure inside TessoraNet() (a missing endpoint file, an unknown operation) leaves the
// library as a structured exception on Windows: .NET Framework raises it as SEHException, .NET 5
// and later and Mono end the process. Use Try, which hands the failure's message back instead.
using System;
using System.Runtime.InteropServices;

public static class TessoraNet
{
    const string Dll = "TessoraNet.dll";

    // The five functions.
    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi)]
    public static extern void ConfigureService(string ClientID, string ClientSecret,
        string Environment, string ConfigFileName, string PartnerToken);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi)]
    public static extern void ConfigureProxy(string ProxyServer, int ProxyPort,
        string ProxyUserName, string ProxyPassword);

    // Results are IntPtr, never string: the marshaller would release the library's buffer with
    // its own allocator.
    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi,
               EntryPoint = "TessoraNet")]
    public static extern IntPtr TessoraNetRaw(string EndPointOperation, string Parameters,
        string OptionalParameters, string Body);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    public static extern void TessoraNetGetInstanceData(out IntPtr AccessToken);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    [return: MarshalAs(UnmanagedType.U1)]
    public static extern bool TessoraNetTokenExpired();

    // The extensions.
    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    public static extern void TessoraNetFree(IntPtr Buffer);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi)]
    [return: MarshalAs(UnmanagedType.U1)]
    public static extern bool TessoraNetTry(string EndPointOperation, string Parameters,
        string OptionalParameters, string Body, out IntPtr Result);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    public static extern int TessoraNetLastStatus();

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    public static extern void TessoraNetLastError(out IntPtr Reason);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi)]
    [return: MarshalAs(UnmanagedType.U1)]
    public static extern bool TessoraNetSetOption(string Name, string Value);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi)]
    [return: MarshalAs(UnmanagedType.U1)]
    public static extern bool TessoraNetGetOption(string Name, out IntPtr Value);

    // The kind of the thread's last failure: one of the ErrorKind numbers.
    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    public static extern int TessoraNetLastErrorKind();

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi)]
    [return: MarshalAs(UnmanagedType.U1)]
    public static extern bool TessoraNetLastHeader(string Name, out IntPtr Value);

    // The numbers TessoraNetLastErrorKind gives (TessoraNet.h).
    public enum ErrorKind
    {
        None = 0, NameResolution = 1, Connect = 2, Tls = 3, Timeout = 4, Proxy = 5,
        MalformedAnswer = 6, IncompleteAnswer = 7, EndpointFile = 8, UnknownOperation = 9,
        Setting = 10, OutOfMemory = 11, RefusedRequest = 12,
    }

    // A constant of the library: read, never released.
    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl, EntryPoint = "TessoraNetVersion")]
    static extern IntPtr TessoraNetVersionRaw();

    // Copies a result buffer into a string and releases it.
    static string Take(IntPtr buffer)
    {
        if (buffer == IntPtr.Zero) return "";
        try { return Marshal.PtrToStringAnsi(buffer); }
        finally { TessoraNetFree(buffer); }
    }

    // TessoraNet(): the response text. A failure inside the library cannot be caught by managed
    // code on Linux or under .NET 5 and later (the process ends); use Try.
    public static string Call(string operation, string parameters = "", string query = "",
                              string body = "")
    {
        return Take(TessoraNetRaw(operation, parameters, query, body));
    }

    // TessoraNetTry(): true with the response text, or false with the failure's message.
    public static bool Try(string operation, string parameters, string query, string body,
                           out string result)
    {
        IntPtr buffer;
        bool performed = TessoraNetTry(operation, parameters, query, body, out buffer);
        result = Take(buffer);
        return performed;
    }

    // TessoraNetLastStatus(): the HTTP status of the thread's last call, 0 when it got no answer.
    public static int LastStatus()
    {
        return TessoraNetLastStatus();
    }

    public static bool TokenExpired()
    {
        return TessoraNetTokenExpired();
    }

    public static string AccessToken()
    {
        IntPtr token;
        TessoraNetGetInstanceData(out token);
        return Take(token);
    }

    // TessoraNetLastError(): why the thread's last call got no answer or failed, "" after an
    // answer.
    public static string LastError()
    {
        IntPtr reason;
        TessoraNetLastError(out reason);
        return Take(reason);
    }

    // TessoraNetSetOption(): false when the name or value is refused; LastError() says why.
    public static bool SetOption(string name, string value)
    {
        return TessoraNetSetOption(name, value);
    }

    // TessoraNetGetOption(): the value in force for the thread, null for an unknown name.
    public static string GetOption(string name)
    {
        IntPtr value;
        if (!TessoraNetGetOption(name, out value)) return null;
        return Take(value);
    }

    public static ErrorKind LastErrorKind()
    {
        return (ErrorKind)TessoraNetLastErrorKind();
    }

    // A header of the thread's last answer (any letter case), or null when it is absent.
    public static string LastHeader(string name)
    {
        IntPtr value;
        bool found = TessoraNetLastHeader(name, out value);
        string text = Take(value);
        return found ? text : null;
    }

    public static string Version()
    {
        return Marshal.PtrToStringAnsi(TessoraNetVersionRaw());
    }
}
