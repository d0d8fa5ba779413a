#!/usr/bin/env python3
"""Starts and stops the real peers of the end-to-end tests: nginx (TLS, with the test PKI) and
tinyproxy, each on loopback at a port the system picks. The peer's directory receives its
configuration, logs, "port" and "pid"; tests read the port from there.

    peers.py start nginx DIR PKI_DIR [--tls13]
    peers.py start tinyproxy DIR [USER:PASSWORD]
    peers.py stop DIR

nginx gets its listening socket already bound (the NGINX variable hands it inherited sockets), so
no other program can take the port in between. tinyproxy cannot inherit one: it is given a port
that was free a moment before and started again on another one if it cannot bind it.

nginx speaks TLS 1.2 only; with --tls13 it accepts TLS 1.2 and TLS 1.3 (for the benchmarks that
compare the two).
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

WAIT_SECONDS = 10


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def wait_until_listening(process, port):
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return False
        if accepts(port):
            return True
        time.sleep(0.05)
    return False


def record(directory, process, port):
    with open(os.path.join(directory, "pid"), "w") as f:
        f.write(str(process.pid))
    with open(os.path.join(directory, "port"), "w") as f:
        f.write(str(port))


NGINX_CONF = """daemon off;
master_process on;
worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/error.log info;
events {{ worker_connections 64; }}
http {{
  # Per request: whether the TLS session was resumed ("r" or "."), the server name the client sent,
  # the request line and the status (the session tests read it).
  log_format calls '$ssl_session_reused $ssl_server_name "$request" $status';
  access_log {dir}/access.log calls;
  client_body_temp_path {dir}/tmp/body;
  proxy_temp_path {dir}/tmp/proxy;
  fastcgi_temp_path {dir}/tmp/fastcgi;
  uwsgi_temp_path {dir}/tmp/uwsgi;
  scgi_temp_path {dir}/tmp/scgi;
  keepalive_timeout 30;
  server {{
    listen 127.0.0.1:{port} ssl;
    ssl_certificate {pki}/server.pem;
    ssl_certificate_key {pki}/server.key;
    ssl_protocols {protocols};
    # Answers with a length, in UTF-8 and labelled so.
    location = /api.tessora.net/v1/json {{
      default_type "application/json; charset=utf-8";
      return 200 '{{"name":"Jos\u00e9"}}';
    }}
    # The same bytes under a bare JSON type.
    location = /api.tessora.net/v1/bare {{
      default_type application/json;
      return 200 '{{"name":"Jos\u00e9"}}';
    }}
    # The substitution filter drops the length: chunked for HTTP/1.1, read to the end for 1.0.
    location = /api.tessora.net/v1/chunked {{
      default_type "application/json; charset=utf-8";
      sub_filter_types *;
      sub_filter_once off;
      sub_filter '"x"' '"chunked"';
      return 200 '{{"x":"\u00e9"}}';
    }}
    # A token response, for the token request of the end-to-end tests.
    location = /api.tessora.net/v1/oauth/token {{
      default_type "application/json; charset=utf-8";
      return 200 '{{"access_token":"nginx-token","token_type":"Bearer","expires_in":3600}}';
    }}
    # A redirect, which the library does not follow.
    location = /api.tessora.net/v1/moved {{
      return 302 /api.tessora.net/v1/json;
    }}
    location = /api.tessora.net/v1/created {{
      default_type application/json;
      return 201 '{{"created":true}}';
    }}
    location /api.tessora.net/ {{
      default_type application/json;
      return 404 '{{"error":"not_found"}}';
    }}
  }}
}}
"""


def start_nginx(directory, pki, allow_tls13=False):
    for sub in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
        os.makedirs(os.path.join(directory, "tmp", sub), exist_ok=True)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    port = listener.getsockname()[1]
    conf = os.path.join(directory, "nginx.conf")
    with open(conf, "w", encoding="utf-8") as f:
        f.write(NGINX_CONF.format(dir=directory, port=port, pki=pki,
                                  protocols="TLSv1.2 TLSv1.3" if allow_tls13 else "TLSv1.2"))
    os.set_inheritable(listener.fileno(), True)
    env = dict(os.environ, NGINX="%d;" % listener.fileno())
    with open(os.path.join(directory, "stderr.log"), "w") as err:
        process = subprocess.Popen(
            [shutil.which("nginx") or "/usr/sbin/nginx", "-p", directory, "-c", conf,
             "-e", os.path.join(directory, "error.log")],
            env=env, pass_fds=(listener.fileno(),), stdin=subprocess.DEVNULL,
            stdout=err, stderr=err, start_new_session=True)
    listener.close()
    if not wait_until_listening(process, port):
        process.kill()
        sys.exit("nginx did not start; see " + directory)
    record(directory, process, port)


TINYPROXY_CONF = """Port {port}
Listen 127.0.0.1
Timeout 30
MaxClients 20
LogFile "{dir}/tinyproxy.log"
LogLevel Info
DisableViaHeader Yes
{auth}
"""


def start_tinyproxy(directory, credentials):
    auth = ""
    if credentials:
        user, _, password = credentials.partition(":")
        auth = "BasicAuth %s %s" % (user, password)
    binary = shutil.which("tinyproxy") or "/usr/bin/tinyproxy"
    for _ in range(5):
        port = free_port()
        conf = os.path.join(directory, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write(TINYPROXY_CONF.format(port=port, dir=directory, auth=auth))
        with open(os.path.join(directory, "stderr.log"), "w") as err:
            process = subprocess.Popen([binary, "-d", "-c", conf], stdin=subprocess.DEVNULL,
                                       stdout=err, stderr=err, start_new_session=True)
        if wait_until_listening(process, port):
            record(directory, process, port)
            return
        if process.poll() is None:
            process.kill()
            process.wait()
    sys.exit("tinyproxy did not start; see " + directory)


def stop(directory):
    pid_file = os.path.join(directory, "pid")
    if not os.path.exists(pid_file):
        return
    with open(pid_file) as f:
        pid = int(f.read())
    os.remove(pid_file)
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            return
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "stop":
        stop(sys.argv[2])
        return
    if len(sys.argv) < 4 or sys.argv[1] != "start":
        sys.exit(__doc__)
    peer, directory = sys.argv[2], os.path.abspath(sys.argv[3])
    os.makedirs(directory, exist_ok=True)
    stop(directory)  # one left over from an interrupted run
    if peer == "nginx":
        options = sys.argv[5:]
        if len(sys.argv) < 5 or any(option != "--tls13" for option in options):
            sys.exit(__doc__)
        start_nginx(directory, os.path.abspath(sys.argv[4]), "--tls13" in options)
    elif peer == "tinyproxy":
        start_tinyproxy(directory, sys.argv[4] if len(sys.argv) > 4 else "")
    else:
        sys.exit("unknown peer " + peer)


if __name__ == "__main__":
    main()
