#!/usr/bin/env python3
"""Finds identifiers that write an acronym in capitals (URL, URI, CRLF, OAuth, ...) where the
project's style writes it as a word (Url, Uri, Crlf, Oauth): the one naming rule clang-tidy cannot
check.

    acronyms.py FILE...

Comments, string and character literals are left out; so are names of the C and platform
interfaces the code calls (they hold "_", or stand in ALLOWED), all-capital names (macros) and the
contract's own spelling (ClientID). Prints FILE:LINE: NAME for each finding; exit status 1 when
there is one.
"""
import re
import sys

# Names that others chose: the Windows and OpenSSL interfaces, the five exports' parameters.
ALLOWED = {
    "ClientID", "GetACP", "SSLeay", "MinGW", "OpenSSL", "IdnToAscii", "GetAddrInfoW",
    "WSAStartup", "WSACleanup", "WSAGetLastError", "WSASetLastError", "WSADATA", "HMODULE",
    "HANDLE", "DWORD", "BOOL", "LPVOID", "HINSTANCE", "UINT", "LPCWSTR", "BOOLEAN", "VS_FIXEDFILEINFO",
    "SOCKET", "FILETIME", "SYSTEMTIME", "LCID", "HCERTSTORE", "PCCERT_CONTEXT", "FARPROC",
    "dwFileVersionMS", "dwFileVersionLS", "th32OwnerProcessID", "th32ThreadID", "IsDBCSLeadByte",
    "CURLcode", "WSASocketW",
}
# libFuzzer's entry points.
ALLOWED_PREFIXES = ("LLVMFuzzer",)
# An identifier with a run of two or more capitals that is followed by a small letter or ends the
# name, once the run's last capital (the start of the next word) is set aside.
WORD = re.compile(r"\b[A-Za-z][A-Za-z0-9]*\b")
RUN = re.compile(r"[A-Z]{2,}(?=[a-z0-9]|$)")


def strip(text):
    """The text with comments and literals blanked, line breaks kept."""
    out = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("\n" * text.count("\n", i, j))
            i = j
        elif c == 'R' and text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            if not m:
                out.append(c)
                i += 1
                continue
            end = text.find(")" + m.group(1) + '"', i)
            end = n if end < 0 else end + len(m.group(1)) + 2
            out.append("\n" * text.count("\n", i, end))
            i = end
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            i = j + 1
            out.append(" ")
        else:
            out.append(c)
            i += 1
    return "".join(out)


def findings(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = strip(f.read())
    for number, line in enumerate(text.split("\n"), 1):
        if line.lstrip().startswith("#"):
            continue  # includes and macros
        for m in WORD.finditer(line):
            name = m.group(0)
            if name in ALLOWED or name.startswith(ALLOWED_PREFIXES):
                continue
            if name.isupper() or "_" in name.rstrip("_"):
                continue
            body = name.rstrip("_")
            if body[0] == "k" and len(body) > 1 and body[1].isupper():
                body = body[1:]
            if re.fullmatch(r"[xu][0-9A-Fa-f]+[A-Za-z]*", name):
                continue  # what is left of an escape such as \xFF
            for run in RUN.finditer(body):
                letters = run.group(0)
                # "ATree": "A" is a word and "Tree" the next one; a run followed by a small letter
                # gives its last capital to the next word.
                followed = run.end() < len(body) and body[run.end()].islower()
                acronym = letters[:-1] if followed else letters
                if len(acronym) >= 2 and not all(len(part) == 1 for part in [acronym]):
                    yield number, name
                    break


def main(paths):
    found = False
    for path in paths:
        for number, name in findings(path):
            print(f"{path}:{number}: {name}")
            found = True
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
