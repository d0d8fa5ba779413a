#!/usr/bin/env bash
# Plants files where one OpenSSL line's compiled-in folder (OPENSSLDIR) lies for a Windows process
# under Wine that runs from drive Z:, and runs planted_openssl_test against them:
#   1. cert.pem and certs/<hash>.0, a CA that issued a certificate for 127.0.0.1 (PlantedTrust,
#      with SSL_CERT_FILE naming the test CA and without it);
#   2. openssl.cnf as well, which would load planted-module.dll from the same folder and restrict
#      the signature algorithms (PlantedConfiguration).
# "/usr/local/ssl" is then the machine's own /usr/local/ssl; "C:/Program Files/..." lies in the
# Wine prefix's drive_c. A folder that is there already with files of its own is left alone (the
# test is skipped). Everything planted goes again on the way out, whether the tests passed or not.
#
#   planted_openssl_files.sh <wine-run.sh> <planted_openssl_test.exe> <line: 1.0|3> <DLL folder>
#                            <test PKI folder> <planted-module.dll>
set -uo pipefail

if [ $# -ne 6 ]; then
  echo "usage: $0 <wine-run.sh> <test program> <line> <DLL folder> <test PKI folder> <module>" >&2
  exit 2
fi
RUN=$1 PROGRAM=$2 LINE=$3 DLLS=$4 PKI=$5 MODULE=$6

# Windows paths of Unix ones: the Unix root is drive Z:.
export TESSORA_OPENSSL_LINE=$LINE TESSORA_OPENSSL_DLLS="Z:$DLLS" SSL_CERT_FILE="Z:$PKI/ca.pem"
export TESSORA_PLANTED_MODULE="Z:$MODULE"
unset SSL_CERT_DIR OPENSSL_CONF OPENSSL_MODULES OPENSSL_ENGINES

created=()  # files and folders this script made, in order
cleanup() {
  local i
  # The marker first: a module that was loaded left it in a folder that goes too.
  if [ -n "${folder:-}" ] && [ ${#created[@]} -gt 0 ]; then rm -f "$folder/planted-module-loaded"; fi
  for ((i = ${#created[@]} - 1; i >= 0; i--)); do
    if [ -d "${created[i]}" ]; then rmdir "${created[i]}"; else rm -f "${created[i]}"; fi
  done
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# make_folder <folder>: makes it and the missing folders above it, remembering each.
make_folder() {
  local dir=$1 missing=()
  while [ ! -d "$dir" ]; do
    missing=("$dir" "${missing[@]}")
    dir=$(dirname "$dir")
  done
  for dir in "${missing[@]}"; do
    mkdir "$dir" || return 1
    created+=("$dir")
  done
}

# plant <file> <content file>
plant() {
  [ -e "$1" ] && { echo "planted_openssl_files: $1 is there already" >&2; exit 1; }
  created+=("$1")
  cp "$2" "$1"
}

windows_folder=$("$RUN" "$PROGRAM" --print-folder | tr -d '\r')
[ -n "$windows_folder" ] || { echo "planted_openssl_files: no compiled-in folder" >&2; exit 1; }
folder=$(winepath -u "$windows_folder" 2>/dev/null | tr -d '\r')
folder=${folder%/}
[ -n "$folder" ] || { echo "planted_openssl_files: winepath cannot map $windows_folder" >&2; exit 1; }
echo "OpenSSL $LINE: compiled-in folder $windows_folder, here $folder"

if [ -d "$folder" ] && [ -n "$(ls -A "$folder")" ]; then
  echo "tessora-test-skipped: $folder exists and holds files of its own; it is left alone"
  folder=""
  exit 0
fi
make_folder "$folder/certs" || exit 1

# 1. The planted trust.
plant "$folder/cert.pem" "$PKI/planted-ca.pem"
plant "$folder/certs/$(openssl x509 -hash -noout -in "$PKI/planted-ca.pem").0" "$PKI/planted-ca.pem"
status=0
"$RUN" "$PROGRAM" "--gtest_filter=CompiledInFoldersTest.*:PlantedTrust.*" || status=1
# Without SSL_CERT_FILE, which OpenSSL's default paths would read in place of cert.pem.
env -u SSL_CERT_FILE "$RUN" "$PROGRAM" "--gtest_filter=PlantedTrust.CertificateOfThePlantedCaIsRefused" ||
  status=1

# 2. The planted configuration, with its module next to it.
plant "$folder/planted-module.dll" "$MODULE"
module_path="${windows_folder%\\}\\planted-module.dll"
module_in_cnf=${module_path//\\/\\\\}  # a backslash in a configuration value is written twice
cnf=$(mktemp)
if [ "$LINE" = 3 ]; then
  # The SSL settings first: OpenSSL stops at the first module that fails, and the planted module is
  # no real provider.
  cat >"$cnf" <<CNF
openssl_conf = planted_init

[planted_init]
ssl_conf = planted_ssl
providers = planted_providers

[planted_ssl]
system_default = planted_system

[planted_system]
SignatureAlgorithms = ECDSA+SHA256

[planted_providers]
planted = planted_provider
default = planted_default

[planted_provider]
module = $module_in_cnf
activate = 1

[planted_default]
activate = 1
CNF
else
  # The 1.0 line knows engines only.
  cat >"$cnf" <<CNF
openssl_conf = planted_init

[planted_init]
engines = planted_engines

[planted_engines]
planted = planted_engine

[planted_engine]
dynamic_path = $module_in_cnf
init = 1
CNF
fi
plant "$folder/openssl.cnf" "$cnf"
rm -f "$cnf"
export TESSORA_PLANTED_MARKER="${windows_folder%\\}\\planted-module-loaded"
"$RUN" "$PROGRAM" "--gtest_filter=PlantedConfiguration.*" || status=1
if [ -e "$folder/planted-module-loaded" ]; then
  echo "planted_openssl_files: $folder/planted-module-loaded exists: the planted openssl.cnf was read"
  status=1
fi
exit $status
