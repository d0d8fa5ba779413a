#!/usr/bin/env bash
# Makes the test PKI with the openssl command-line tool: a CA, a server certificate for
# 127.0.0.1 / localhost / api.tessora.net, one for ::1, one to be distrusted, one for another host, two with wildcard names, a
# self-signed one and an expired one (valid only in 2000); and a second CA ("planted") with a server certificate of its own.
# Usage: make_test_pki.sh <output directory>
set -euo pipefail
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

key() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1" 2>/dev/null; }

key ca.key
openssl req -x509 -new -key ca.key -sha256 -days 36500 -subj "/CN=TessoraNet Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -out ca.pem

# leaf <name> <subjectAltName>
leaf() {
  key "$1.key"
  openssl req -new -key "$1.key" -subj "/CN=$1" -out "$1.csr"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' \
    "$2" > "$1.ext"
}

leaf server "IP:127.0.0.1,DNS:localhost,DNS:api.tessora.net"
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -sha256 -days 36500 \
  -extfile server.ext -out server.pem 2>/dev/null

# The server on the IPv6 loopback.
leaf server-ipv6 "IP:::1,DNS:localhost,DNS:ip6-localhost,DNS:ip6-loopback,DNS:localhost6"
openssl x509 -req -in server-ipv6.csr -CA ca.pem -CAkey ca.key -CAcreateserial -sha256 -days 36500 \
  -extfile server-ipv6.ext -out server-ipv6.pem 2>/dev/null

# A server certificate of its own for the tests that place it among the system's distrusted
# certificates, so that no other test's server is ever refused for it.
leaf distrusted "IP:127.0.0.1,DNS:localhost"
openssl x509 -req -in distrusted.csr -CA ca.pem -CAkey ca.key -CAcreateserial -sha256 -days 36500 \
  -extfile distrusted.ext -out distrusted.pem 2>/dev/null

leaf other "DNS:other.example.com,IP:192.0.2.1"
openssl x509 -req -in other.csr -CA ca.pem -CAkey ca.key -CAcreateserial -sha256 -days 36500 \
  -extfile other.ext -out other.pem 2>/dev/null

# Wildcards: a whole left-most label, and a partial one that the client must not accept.
for pair in "wildcard DNS:*.tessora.test" "partialwildcard DNS:f*.tessora.test"; do
  set -- $pair
  leaf "$1" "$2"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -sha256 -days 36500 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
done

key selfsigned.key
openssl req -x509 -new -key selfsigned.key -sha256 -days 36500 -subj "/CN=localhost" \
  -addext "subjectAltName=IP:127.0.0.1,DNS:localhost,DNS:api.tessora.net" -out selfsigned.pem

# The expired one through "openssl ca", which takes explicit start and end dates.
leaf expired "IP:127.0.0.1,DNS:localhost,DNS:api.tessora.net"
mkdir -p ca/newcerts
: > ca/index.txt
echo 1000 > ca/serial
cat > ca.cnf <<CNF
[ca]
default_ca = test
[test]
dir = $work/ca
database = \$dir/index.txt
new_certs_dir = \$dir/newcerts
serial = \$dir/serial
certificate = $work/ca.pem
private_key = $work/ca.key
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
commonName = supplied
CNF
openssl ca -batch -config ca.cnf -notext -startdate 20000101000000Z -enddate 20010101000000Z \
  -extfile expired.ext -in expired.csr -out expired.pem 2>/dev/null

# Another CA that nothing trusts, and a server certificate for 127.0.0.1 it issued: the tests plant
# this CA where OpenSSL's compiled-in folders are, to show that the library does not trust it.
key planted-ca.key
openssl req -x509 -new -key planted-ca.key -sha256 -days 36500 -subj "/CN=Planted CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -out planted-ca.pem
leaf planted-server "IP:127.0.0.1,DNS:localhost,DNS:api.tessora.net"
openssl x509 -req -in planted-server.csr -CA planted-ca.pem -CAkey planted-ca.key \
  -CAcreateserial -sha256 -days 36500 -extfile planted-server.ext -out planted-server.pem 2>/dev/null

mkdir -p "$out"
cp planted-ca.pem "$out/planted-ca.pem"
for name in ca server server-ipv6 distrusted other wildcard partialwildcard selfsigned expired planted-server; do
  cp "$name.pem" "$out/$name.pem"
  [ "$name" = ca ] || cp "$name.key" "$out/$name.key"
done
chmod 644 "$out"/*
