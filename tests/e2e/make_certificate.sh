#!/usr/bin/env bash
# Throwaway self-signed code-signing certificates for the signed builds of the
# second product: DIR/quillet.pem and DIR/quillet.p12 (password quillet-signing),
# and another publisher's DIR/other.pem with its encrypted PEM key DIR/other.key
# (password other-signing).
#   make_certificate.sh DIR
set -euo pipefail
dir=$1
rm -rf "$dir" && mkdir -p "$dir"
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Quillet Test Publisher" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "$dir/quillet.key" -out "$dir/quillet.pem" 2>"$dir/openssl.log"
openssl pkcs12 -export -in "$dir/quillet.pem" -inkey "$dir/quillet.key" -passout pass:quillet-signing \
    -out "$dir/quillet.p12"
rm "$dir/quillet.key"
openssl req -x509 -newkey rsa:2048 -passout pass:other-signing -days 30 -subj "/CN=Other Test Publisher" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "$dir/other.key" -out "$dir/other.pem" 2>>"$dir/openssl.log"
