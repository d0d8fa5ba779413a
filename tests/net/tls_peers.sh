#!/usr/bin/env bash
# Starts and stops the real TLS peers of the peer tests, on 127.0.0.1 only: openssl s_server
# (TLS 1.2, TLS 1.0 only, TLS 1.3 only) and one nginx with a server per case. Ports are written
# as NAME=PORT lines to <dir>/ports.
#
#   tls_peers.sh start <dir> <pki dir>
#   tls_peers.sh stop <dir>
set -euo pipefail

action=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)

stop() {
  local pidfile
  for pidfile in "$dir"/*.pid; do
    [ -f "$pidfile" ] || continue
    kill "$(cat "$pidfile")" 2>/dev/null || true
    rm -f "$pidfile"
  done
}

# wait_for_port <port>: up to 10 s until something listens there.
wait_for_port() {
  local i
  for i in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  return 1
}

# s_server <name> <options...>: an openssl s_server on a port the system picks.
s_server() {
  local name=$1
  shift
  # Emptied before the server starts: read too early, the log of an earlier run would give its port.
  : >"$dir/$name.log"
  openssl s_server -accept 127.0.0.1:0 -cert "$pki/server.pem" -key "$pki/server.key" -www \
    "$@" >"$dir/$name.log" 2>&1 &
  echo $! >"$dir/$name.pid"
  local i port=""
  for i in $(seq 1 100); do
    port=$(sed -n 's/^ACCEPT 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$dir/$name.log")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "s_server $name did not start" >&2; cat "$dir/$name.log" >&2; return 1; }
  echo "$name=$port" >>"$dir/ports"
}

# Ports for nginx, which cannot report a port the system picked: taken from the system, then
# released for nginx to bind (tried again if another program takes one meanwhile).
free_ports() {
  python3 -c '
import socket, sys
held = []
for _ in range(int(sys.argv[1])):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    held.append(s)
print(" ".join(str(s.getsockname()[1]) for s in held))
' "$1"
}

nginx_server() {  # <port> <certificate> <protocols> [more directives]
  cat <<CONF
  server {
    listen 127.0.0.1:$1 ssl;
    ssl_certificate $pki/$2.pem;
    ssl_certificate_key $pki/$2.key;
    ssl_protocols $3;
    ssl_ciphers DEFAULT:@SECLEVEL=0;
    ${4:-}
    location / { return 200 "nginx says hello\n"; }
  }
CONF
}

# The servers of the session-resumption tests log, per request, whether the session was resumed
# ("r" or "."), the server name the client sent and the request's path, to logs/<name>.log.
# nginx_resume and nginx_resume_twin share their ticket key and session cache, so each would resume
# the other's sessions: a client that never offers a session to another port shows that it does
# not. nginx_noresume neither issues tickets nor keeps sessions.
resume_directives() {  # <log name>
  echo "access_log $dir/nginx/logs/$1.log resumption;"
  echo "    ssl_session_cache shared:resume:1m; ssl_session_tickets on;"
  echo "    ssl_session_ticket_key $dir/nginx/ticket.key;"
}

start_nginx() {
  local names=(nginx nginx_tls13 nginx_selfsigned nginx_other nginx_expired nginx_resume
    nginx_resume_twin nginx_noresume)
  local attempt
  for attempt in 1 2 3; do
    read -r -a ports <<<"$(free_ports ${#names[@]})"
    mkdir -p "$dir/nginx/logs"
    rm -f "$dir"/nginx/logs/*resume*.log
    head -c 80 /dev/urandom >"$dir/nginx/ticket.key"
    {
      echo "worker_processes 1; daemon off; master_process off;"
      echo "pid $dir/nginx/nginx.pid; error_log $dir/nginx/logs/error.log;"
      echo "events { worker_connections 64; }"
      echo "http {"
      echo "  access_log off;"
      echo "  client_body_temp_path $dir/nginx/body; proxy_temp_path $dir/nginx/proxy;"
      echo "  fastcgi_temp_path $dir/nginx/fastcgi; uwsgi_temp_path $dir/nginx/uwsgi;"
      echo "  scgi_temp_path $dir/nginx/scgi;"
      echo "  log_format resumption '\$ssl_session_reused \$ssl_server_name \$request_uri';"
      nginx_server "${ports[0]}" server TLSv1.2
      nginx_server "${ports[1]}" server TLSv1.3
      nginx_server "${ports[2]}" selfsigned TLSv1.2
      nginx_server "${ports[3]}" other TLSv1.2
      nginx_server "${ports[4]}" expired TLSv1.2
      nginx_server "${ports[5]}" server TLSv1.2 "$(resume_directives nginx_resume)"
      nginx_server "${ports[6]}" server TLSv1.2 "$(resume_directives nginx_resume_twin)"
      nginx_server "${ports[7]}" server TLSv1.2 "access_log $dir/nginx/logs/nginx_noresume.log resumption;
    ssl_session_cache off; ssl_session_tickets off;"
      echo "}"
    } >"$dir/nginx/nginx.conf"
    nginx -p "$dir/nginx" -c "$dir/nginx/nginx.conf" -e "$dir/nginx/logs/error.log" \
      >"$dir/nginx.log" 2>&1 &
    echo $! >"$dir/nginx.pid"
    if wait_for_port "${ports[0]}" && wait_for_port "${ports[7]}" && kill -0 "$(cat "$dir/nginx.pid")"; then
      local i
      for i in "${!names[@]}"; do echo "${names[$i]}=${ports[$i]}" >>"$dir/ports"; done
      return 0
    fi
    kill "$(cat "$dir/nginx.pid")" 2>/dev/null || true
    rm -f "$dir/nginx.pid"
  done
  echo "nginx did not start" >&2
  cat "$dir/nginx/logs/error.log" >&2 || true
  return 1
}

case $action in
  start)
    pki=$(cd "$3" && pwd)
    stop
    rm -f "$dir/ports"
    s_server s_server -tls1_2
    s_server s_server_tls10 -tls1 -cipher DEFAULT:@SECLEVEL=0
    s_server s_server_tls13 -tls1_3
    start_nginx
    cat "$dir/ports"
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start <dir> <pki dir> | stop <dir>" >&2
    exit 2
    ;;
esac
