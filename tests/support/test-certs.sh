#!/usr/bin/env bash
# Makes a throw-away certificate authority and server certificates in DIR for
# the https tests; nothing here is trusted outside the test that made it.
#
#   test-certs.sh DIR
#
# DIR/ca.pem           the test authority (handed to the player for the test)
# DIR/good.{pem,key}   127.0.0.1 and localhost, signed by the authority
# DIR/untrusted.*      127.0.0.1, self-signed (no authority vouches for it)
set -euo pipefail
dir=$1
mkdir -p "$dir/ca/new"
cd "$dir"
: >ca/index.txt
echo 1000 >ca/serial

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=Didira Test Authority" 2>/dev/null

cat >ca/ca.cnf <<CNF
[ca]
default_ca = test
[test]
dir = $dir/ca
database = \$dir/index.txt
serial = \$dir/serial
new_certs_dir = \$dir/new
certificate = $dir/ca.pem
private_key = $dir/ca.key
default_md = sha256
policy = any
unique_subject = no
copy_extensions = copy
[any]
commonName = supplied
CNF

# leaf NAME SUBJECT_ALT_NAMES [CA ARGS...]
leaf() {
    local name=$1 san=$2
    shift 2
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$name.key" -out "$name.csr" \
        -subj "/CN=$name" -addext "subjectAltName=$san" 2>/dev/null
    openssl ca -batch -config ca/ca.cnf -notext -in "$name.csr" -out "$name.pem" "$@" 2>/dev/null
}

leaf good "IP:127.0.0.1,DNS:localhost" -days 2
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout untrusted.key -out untrusted.pem -days 2 \
    -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" 2>/dev/null
