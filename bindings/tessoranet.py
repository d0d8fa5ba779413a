"""TessoraNet for Python through ctypes.

Loads libTessoraNet.so (Linux) or TessoraNet.dll (Windows), declares the argument and result
types of the five functions and every extension of TessoraNet.h, passes text in the process code
page and copies each result into a Python string before releasing the library's buffer with
TessoraNetFree. Results are c_void_p, pointer-sized in 32- and 64-bit Pythons alike.

On Windows, Python loads the DLL of its own width: a 32-bit Python the DLL of the win32 zip, a
64-bit Python (the usual one today) that of the win64 zip; `struct.calcsize("P") * 8` tells
which Python runs.

A failure inside TessoraNet() (a missing endpoint file, an unknown operation) is a C++ exception
on Linux and a structured exception on Windows; ctypes turns the Windows one into OSError
("exception code 0xe054534e"), without the message, and Linux ends the process. Use try_call()
(TessoraNetTry), which raises TessoraNetError with the failure's message instead.
"""

import ctypes
import locale
import os
import sys

# The library reads and writes text in the process code page (Windows: the ANSI code page;
# Linux: the codeset of LC_ALL / LC_CTYPE / LANG, the C locale counting as UTF-8).
ENCODING = locale.getpreferredencoding(False)
if ENCODING.upper() in ("ANSI_X3.4-1968", "ASCII", "US-ASCII"):
    ENCODING = "utf-8"

_DEFAULT_NAME = "TessoraNet.dll" if sys.platform == "win32" else "libTessoraNet.so"


def _load(path):
    lib = ctypes.CDLL(path)
    c_str = ctypes.c_char_p
    # Results are c_void_p, not c_char_p: ctypes would turn a c_char_p result into bytes and lose
    # the pointer that TessoraNetFree needs.
    lib.ConfigureService.argtypes = [c_str, c_str, c_str, c_str, c_str]
    lib.ConfigureService.restype = None
    lib.ConfigureProxy.argtypes = [c_str, ctypes.c_int, c_str, c_str]
    lib.ConfigureProxy.restype = None
    lib.TessoraNet.argtypes = [c_str, c_str, c_str, c_str]
    lib.TessoraNet.restype = ctypes.c_void_p
    lib.TessoraNetGetInstanceData.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    lib.TessoraNetGetInstanceData.restype = None
    lib.TessoraNetTokenExpired.argtypes = []
    lib.TessoraNetTokenExpired.restype = ctypes.c_ubyte
    lib.TessoraNetFree.argtypes = [ctypes.c_void_p]
    lib.TessoraNetFree.restype = None
    lib.TessoraNetTry.argtypes = [c_str, c_str, c_str, c_str, ctypes.POINTER(ctypes.c_void_p)]
    lib.TessoraNetTry.restype = ctypes.c_ubyte
    lib.TessoraNetLastStatus.argtypes = []
    lib.TessoraNetLastStatus.restype = ctypes.c_int
    lib.TessoraNetLastError.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    lib.TessoraNetLastError.restype = None
    lib.TessoraNetSetOption.argtypes = [c_str, c_str]
    lib.TessoraNetSetOption.restype = ctypes.c_ubyte
    lib.TessoraNetGetOption.argtypes = [c_str, ctypes.POINTER(ctypes.c_void_p)]
    lib.TessoraNetGetOption.restype = ctypes.c_ubyte
    lib.TessoraNetVersion.argtypes = []
    lib.TessoraNetVersion.restype = c_str  # a constant of the library: copied, never released
    lib.TessoraNetLastErrorKind.argtypes = []
    lib.TessoraNetLastErrorKind.restype = ctypes.c_int
    lib.TessoraNetLastHeader.argtypes = [c_str, ctypes.POINTER(ctypes.c_void_p)]
    lib.TessoraNetLastHeader.restype = ctypes.c_ubyte
    return lib


_lib = None


def load(path=None):
    """Loads the library once: `path`, else $TESSORANET_LIBRARY, else the system's search."""
    global _lib
    if _lib is None:
        _lib = _load(path or os.environ.get("TESSORANET_LIBRARY") or _DEFAULT_NAME)
    return _lib


def _encode(text):
    return (text or "").encode(ENCODING, "replace")


def _take(pointer):
    """Copies a result buffer into a str and releases it."""
    if not pointer:
        return ""
    try:
        return ctypes.string_at(pointer).decode(ENCODING, "replace")
    finally:
        load().TessoraNetFree(pointer)


def _lines(pairs):
    if isinstance(pairs, dict):
        return "\r\n".join(f"{name}={value}" for name, value in pairs.items())
    return pairs or ""


def configure_service(client_id, client_secret, environment, config_file_name, partner_token=""):
    load().ConfigureService(_encode(client_id), _encode(client_secret), _encode(environment),
                            _encode(config_file_name), _encode(partner_token))


def configure_proxy(server="", port=0, user_name="", password=""):
    load().ConfigureProxy(_encode(server), port, _encode(user_name), _encode(password))


def call(operation, parameters="", optional_parameters="", body=""):
    """TessoraNet(): the response text. A failure ends the process on Linux; see try_call."""
    return _take(load().TessoraNet(_encode(operation), _encode(_lines(parameters)),
                                   _encode(_lines(optional_parameters)), _encode(body)))


class TessoraNetError(Exception):
    """A failure inside the library (missing endpoint file, unknown operation, ...)."""


def try_call(operation, parameters="", optional_parameters="", body=""):
    """TessoraNetTry(): the response text, or TessoraNetError with the failure's message."""
    result = ctypes.c_void_p()
    ok = load().TessoraNetTry(_encode(operation), _encode(_lines(parameters)),
                              _encode(_lines(optional_parameters)), _encode(body),
                              ctypes.byref(result))
    text = _take(result.value)
    if not ok:
        raise TessoraNetError(text)
    return text


def access_token():
    token = ctypes.c_void_p()
    load().TessoraNetGetInstanceData(ctypes.byref(token))
    return _take(token.value)


def token_expired():
    return bool(load().TessoraNetTokenExpired() & 0xFF)


def last_status():
    return load().TessoraNetLastStatus()


def last_error():
    reason = ctypes.c_void_p()
    load().TessoraNetLastError(ctypes.byref(reason))
    return _take(reason.value)


# The kinds last_error_kind() gives (the numbers of TessoraNet.h).
ERROR_NONE = 0
ERROR_NAME_RESOLUTION = 1
ERROR_CONNECT = 2
ERROR_TLS = 3
ERROR_TIMEOUT = 4
ERROR_PROXY = 5
ERROR_MALFORMED_ANSWER = 6
ERROR_INCOMPLETE_ANSWER = 7
ERROR_ENDPOINT_FILE = 8
ERROR_UNKNOWN_OPERATION = 9
ERROR_SETTING = 10
ERROR_OUT_OF_MEMORY = 11
ERROR_REFUSED_REQUEST = 12


def last_error_kind():
    return load().TessoraNetLastErrorKind()


def last_header(name):
    """A header of the thread's last answer (any letter case), or None when it is absent."""
    value = ctypes.c_void_p()
    found = load().TessoraNetLastHeader(_encode(name), ctypes.byref(value))
    text = _take(value.value)
    return text if found & 0xFF else None


def version():
    return load().TessoraNetVersion().decode("ascii", "replace")


def set_option(name, value):
    """TessoraNetSetOption(): True, or False when refused (last_error() says why)."""
    return bool(load().TessoraNetSetOption(_encode(name), _encode(value)))


def get_option(name):
    """TessoraNetGetOption(): the value in force for the thread, None for an unknown name."""
    value = ctypes.c_void_p()
    if not load().TessoraNetGetOption(_encode(name), ctypes.byref(value)):
        return None
    return _take(value.value)
