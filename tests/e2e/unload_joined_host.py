#!/usr/bin/env python3
"""A Python host that joins its threads, then unloads the library, 200 times.

Thread.join() returns once the thread's Python part has finished, before the thread itself has
ended: the library's end-of-thread clean-up may still be running when the host unloads it. The
process must survive every round, with as many descriptors open at the end as after the first.

Usage: unload_joined_host.py LIBRARY NGINX_PORT_FILE
(SSL_CERT_FILE names the test CA; the endpoint file and the log go to a temporary directory.)
"""
import ctypes
import os
import shutil
import sys
import tempfile
import threading

import _ctypes

ROUNDS = 200
THREADS = 4
CALLS_PER_THREAD = 2
ENDPOINTS = b'{"ENDPOINTS": {"JSON": {"route": "/v1/json", "method": "GET"}}}'


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


def one_round(path, environment, failures):
    library = ctypes.CDLL(path)
    library.ConfigureService.argtypes = [ctypes.c_char_p] * 5
    library.TessoraNetTry.argtypes = [ctypes.c_char_p] * 4 + [ctypes.POINTER(ctypes.c_void_p)]
    library.TessoraNetTry.restype = ctypes.c_ubyte
    library.TessoraNetFree.argtypes = [ctypes.c_void_p]

    def calls():
        library.ConfigureService(b"client", b"secret", environment, b"endpoints.json", b"")
        for _ in range(CALLS_PER_THREAD):
            result = ctypes.c_void_p()
            library.TessoraNetTry(b"JSON", b"", b"", b"", ctypes.byref(result))
            text = ctypes.string_at(result.value) if result.value else b"<null>"
            if not text.startswith(b'{"name":"Jos'):
                failures.append(text.decode("latin-1"))
            library.TessoraNetFree(result)

    threads = [threading.Thread(target=calls) for _ in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    handle = library._handle
    del library
    _ctypes.dlclose(handle)


def main():
    path, port_file = os.path.abspath(sys.argv[1]), sys.argv[2]
    with open(port_file) as f:
        environment = ("127.0.0.1:%d/" % int(f.read().split()[0])).encode()
    directory = tempfile.mkdtemp(prefix="tessora-unload-")
    try:
        os.chdir(directory)
        return rounds(path, environment)
    finally:
        os.chdir("/")
        shutil.rmtree(directory, ignore_errors=True)


def rounds(path, environment):
    with open("endpoints.json", "wb") as f:
        f.write(ENDPOINTS)
    failures = []
    before = 0
    for round_number in range(ROUNDS):
        one_round(path, environment, failures)
        if round_number == 0:
            before = open_descriptors()
    after = open_descriptors()
    print("rounds: %d, descriptors after the first: %d, at the end: %d, calls not answered by nginx: %d"
          % (ROUNDS, before, after, len(failures)))
    if failures:
        print("first of them: %s" % failures[0])
    return 0 if after == before and not failures else 1


if __name__ == "__main__":
    sys.exit(main())
