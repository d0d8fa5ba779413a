# Shared steps of the build and test scripts.

APT_PACKAGES=(cmake ninja-build g++ pkg-config libssl-dev libgtest-dev googletest libbenchmark-dev
  libcurl4-openssl-dev libnetfilter-queue-dev clang clang-tidy libclang-rt-14-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32 wine64 locales openssl nginx
  tinyproxy nodejs python3)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# ensure_packages [packages...]: installs those that are missing; without arguments everything the
# build and all the test stages need (APT_PACKAGES), and the de_DE.UTF-8 locale the tests use.
ensure_packages() {
  local wanted=("$@")
  local everything=
  if [ ${#wanted[@]} -eq 0 ]; then
    wanted=("${APT_PACKAGES[@]}")
    everything=1
  fi
  local missing=()
  local pkg
  # wine32 is an i386 package.
  if [[ " ${wanted[*]} " == *" wine32 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    NEED_UPDATE=1
  fi
  for pkg in "${wanted[@]}"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ] || [ -n "${NEED_UPDATE:-}" ]; then
    echo "== installing: ${missing[*]}"
    # A mirror in the middle of a sync can serve one architecture's index out of step with the
    # others; apt then keeps the old lists, which is still enough to go on.
    as_root apt-get update -qq || echo "== apt-get update reported errors; going on with the lists it has" >&2
    if [ ${#missing[@]} -gt 0 ]; then
      apt_install "${missing[@]}"
    fi
  fi
  [ -n "$everything" ] || return 0
  # A locale that writes decimals with a comma, for the tests that numbers ignore the locale.
  if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
    as_root localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "== no de_DE.UTF-8 locale" >&2
  fi
}

# apt_install <packages...>: installs without recommends. When the security updates of one
# architecture are missing from the lists (a mirror in the middle of a sync), the i386 packages of
# wine32 cannot match their amd64 twins; the release's own versions then make a consistent set.
apt_install() {
  if as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "$@" >/dev/null; then
    return 0
  fi
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || return 1
  echo "== retrying with the packages of the $codename release" >&2
  local extra=()
  if [[ " $* " == *" wine32 "* ]]; then extra+=(libgstreamer-plugins-base1.0-0:i386); fi
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -t "$codename" "$@" "${extra[@]}" >/dev/null
}

# build_and_test <name> [ctest options --] <cmake options...>: configures out/<name>, builds
# (only the targets in BUILD_TARGETS when it is set), runs CTest (not with NO_TESTS=1). Each step
# returns on failure itself (errexit does not apply under with_wine).
build_and_test() {
  local name=$1
  shift
  local ctest_options=()
  if [[ " $* " == *" -- "* ]]; then
    while [ "$1" != "--" ]; do ctest_options+=("$1"); shift; done
    shift
  fi
  local dir="$BUILD/$name"
  echo "== $name: configure"
  cmake -S "$ROOT" -B "$dir" -G Ninja -DTESSORA_WERROR=ON "$@" >/dev/null || return
  echo "== $name: build"
  local targets=()
  if [ -n "${BUILD_TARGETS:-}" ]; then
    read -ra targets <<<"$BUILD_TARGETS"
    targets=(--target "${targets[@]}")
  fi
  cmake --build "$dir" -j "$JOBS" "${targets[@]}" || return
  [ -z "${NO_TESTS:-}" ] || return 0
  echo "== $name: test"
  run_ctest "$dir" "${ctest_options[@]}"
}

# run_ctest <build dir> [ctest options...]: runs CTest there. When the tool under the tests broke
# down in the run, the failed tests are run once more: under Wine, a client lost the connection to
# wineserver ("wine client error") or wineserver killed a program that was slow to exit after its
# last thread ended ("wine-run: killed", seen once in thousands of runs on a loaded machine, after
# the test had passed) or failed a program without any output ("wine-run: not started", seen once,
# in 0.05 s, in the 64-bit pass); under ThreadSanitizer, the runtime could not map the shadow
# memory of a region the system placed out of its reach ("ThreadSanitizer failed to allocate",
# seen about once in a few hundred test processes on these machines). Without such a breakdown a
# failure stands, and so does every failure of the second run.
run_ctest() {
  local dir=$1
  shift
  local log
  log=$(mktemp)
  {
    local code=0
    (cd "$dir" && ctest -j "$JOBS" --output-on-failure --no-tests=error "$@") 2>&1 || code=$?
    echo "$code" >"$log.rc"
  } | tee "$log"
  local rc
  rc=$(cat "$log.rc")
  local breakdown=
  if [ -n "${WINEPREFIX:-}" ] && grep -q "wine client error" "$log"; then
    breakdown="Wine broke down during the run (\"wine client error\")"
  elif [ -n "${WINEPREFIX:-}" ] && grep -q "wine-run: killed" "$log"; then
    breakdown="wineserver killed a test program as it exited"
  elif [ -n "${WINEPREFIX:-}" ] && grep -q "wine-run: not started" "$log"; then
    breakdown="Wine failed to start a test program"
  elif grep -q "ThreadSanitizer failed to allocate" "$log"; then
    breakdown="ThreadSanitizer could not map its shadow memory"
  fi
  if [ "$rc" -ne 0 ] && [ -n "$breakdown" ]; then
    echo "== $breakdown; running the failed tests once more"
    rc=0
    (cd "$dir" && ctest --rerun-failed --output-on-failure) || rc=$?
  fi
  rm -f "$log" "$log.rc"
  return "$rc"
}

# run_ipv6_name_tests <build dir>: runs the tests that reach a server on ::1 by name once more, in
# a mount namespace of their own whose /etc/hosts gives "localhost" both 127.0.0.1 and ::1: many
# containers' hosts files have no IPv6 line, and those tests skip there. The machine's own file is
# untouched. Where the machine has no IPv6 loopback, or no such namespace can be made (not root,
# or no unshare or mount), says so and returns 0; there a skipped test is expected. Inside it, a
# skip fails the run.
IPV6_NAME_TESTS='OverIpv6'
run_ipv6_name_tests() {
  local dir=$1
  if ! python3 -c 'import socket; socket.socket(socket.AF_INET6).bind(("::1", 0))' 2>/dev/null; then
    echo "== $(basename "$dir"): no IPv6 loopback here; the IPv6 name tests skip"
    return 0
  fi
  if [ "$(id -u)" -ne 0 ] || ! unshare -m sh -c 'mount --bind /etc/hosts /etc/hosts' 2>/dev/null; then
    echo "== $(basename "$dir"): no mount namespace here; the IPv6 name tests ran only as the machine's hosts file allows"
    return 0
  fi
  local hosts log
  hosts=$(mktemp)
  log=$(mktemp)
  printf '127.0.0.1 localhost\n::1 localhost ip6-localhost ip6-loopback\n' >"$hosts"
  echo "== $(basename "$dir"): the IPv6 name tests with ::1 for localhost"
  local rc=0
  (cd "$dir" && unshare -m sh -c 'mount --bind "$0" /etc/hosts && exec "$@"' "$hosts" \
    ctest --output-on-failure --no-tests=error -R "$IPV6_NAME_TESTS") >"$log" 2>&1 || rc=$?
  cat "$log"
  if [ "$rc" -eq 0 ] && grep -q "(Skipped)" "$log"; then
    echo "== a test above skipped although localhost has ::1 here" >&2
    rc=1
  fi
  rm -f "$hosts" "$log"
  return "$rc"
}

# runs_32bit: whether this machine runs 32-bit x86 programs. Some virtual machines run 64-bit
# programs only and refuse a 32-bit one with "Exec format error": Wine's 32-bit loader cannot start
# there, and neither can `wine`, which starts it first whatever the program. TESSORA_NO_32BIT=1
# takes that machine's paths on any machine.
runs_32bit() {
  [ -z "${TESSORA_NO_32BIT:-}" ] || return 1
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# say_no_32bit <what>: says that what this machine cannot run was built and not run.
say_no_32bit() {
  echo "== this machine cannot run 32-bit x86 programs (\"Exec format error\"): $1 built, not run"
}

# wine64_only_path: a folder to put first on PATH where `wine` (and `wine-stable`, which wineboot
# and the other tools call) start Wine's 64-bit loader directly, without the 32-bit one.
wine64_only_path() {
  local dir="$BUILD/wine64-only"
  mkdir -p "$dir"
  local name
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' \
      >"$dir/$name"
    chmod +x "$dir/$name"
  done
  echo "$dir"
}

# with_wine <command...>: runs the command with a private Wine prefix and a running wineserver.
# WINE_BITS=32 (the default) uses a 32-bit prefix, $BUILD/wineprefix, as the 32-bit programs
# always had; WINE_BITS=64 a 64-bit one, $BUILD/wineprefix64, which runs 64-bit programs (and
# 32-bit ones too, but the 32-bit passes keep a prefix of their own, as they always ran).
with_wine() {
  local path=$PATH
  if [ "${WINE_BITS:-32}" = 64 ]; then
    export WINEPREFIX="$BUILD/wineprefix64" WINEARCH=win64
    runs_32bit || PATH="$(wine64_only_path):$PATH"
  else
    export WINEPREFIX="$BUILD/wineprefix" WINEARCH=win32
  fi
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  # A persistent server for the whole run: each test program then starts in a fraction of a second.
  wineserver -p || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating the Wine prefix"
    wineboot --init >/dev/null 2>&1 || true
  else
    # Start the prefix's services here, their output going nowhere: started by the first test
    # instead, they would keep its output pipe open and CTest would wait for them until it gives up.
    wineboot >/dev/null 2>&1 || true
  fi
  local rc=0
  "$@" || rc=$?
  wineserver -k || true
  PATH=$path
  return $rc
}
