#!/usr/bin/env bash
# Code signing as a user meets it, with the certificates of make_certificate.sh.
# The signed package of the second product: both programs verify, the
# product's own programs are left as they are, and packaging it again with a
# wrong password fails and leaves neither program where the signed ones were.
# Then a product whose displayName and url hold a ';', a ']=]' and an
# unmatched '[', in a folder of its own whose name has a blank and a '$',
# first packaged unsigned: signed from the environment, with a new
# certificate, an encrypted PEM key without its password or with a wrong one,
# a new key and certificate under the same paths, a failed package, a signing
# stopped midway, a setup for older Windows that cannot be signed.
#   signing_test.sh SECOND_BUILD CERTIFICATE_DIR FOLDER
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
second=$1 certificates=$2 folder=$3
quillet=$certificates/quillet.pem other=$certificates/other.pem
unset SETUP_SIGN_PKCS12 SETUP_SIGN_CERT SETUP_SIGN_KEY SETUP_SIGN_PASSWORD SETUP_SIGN_PASSWORD_FILE \
    SETUP_SIGN_TIMESTAMP_URL SOURCE_DATE_EPOCH
failures=0 passed=0
check() { # what, command...
    local what=$1
    shift
    if "$@"; then passed=$((passed + 1)); else echo "FAIL $what"; failures=$((failures + 1)); fi
}
verifies() { # file, certificate
    [ -f "$1" ] && osslsigncode verify -in "$1" -CAfile "$2" 2>&1 | grep -q "Signature verification: ok"
}
unsigned() { [ -f "$1" ] && ! osslsigncode extract-signature -in "$1" -out /dev/null >/dev/null 2>&1; }
absent() { [ ! -e "$1" ]; }
empty() { # folder: but pmpack's list of the companions it wrote there, kept from run to run; shows what it holds
    local held
    held=$(ls -A -I .pmpack-companions "$1") || return 1
    [ -z "$held" ] || echo "$1 holds: $held"
    [ -z "$held" ]
}
says() { grep -qF -- "$2" "$1"; } # log, text
silent() { [ -f "$1" ] && ! grep -qF -- "$2" "$1"; } # log, text
package() { # log, then tools/package's arguments
    local log=$1
    shift
    "$root/tools/package" "$@" >"$log" 2>&1
}
in_terminal() { # log, then tools/package's arguments: in a terminal of its own, where a tool that asks for a password would wait
    local log=$1
    shift
    timeout 120 script -qec "$(printf '%q ' "$root/tools/package" "$@")" /dev/null </dev/null >"$log" 2>&1
}

second_package=("$root/tests/e2e/quillet/product.ini" "$second" --search "$second/product")
check "setup.exe verifies" verifies "$second/bin/setup.exe" "$quillet"
check "the uninstaller the payload carries verifies" verifies "$second/uninstaller/pmuninst.exe" "$quillet"
check "the product's own program is not signed" unsigned "$second/product/quillet.exe"

# With a wrong password, while the signed programs are still there.
SETUP_SIGN_PKCS12=$certificates/quillet.p12 SETUP_SIGN_PASSWORD=wrong \
    package "$second/wrong-password.log" "${second_package[@]}"
check "a wrong password fails the package" test $? -ne 0
check "saying so" says "$second/wrong-password.log" "the password does not open $certificates/quillet.p12"
check "in one line, without OpenSSL's errors" silent "$second/wrong-password.log" ":error:"
check "and leaves no setup program where the signed one was, nor half of one" empty "$second/bin"
check "nor the uninstaller" empty "$second/uninstaller"
SETUP_SIGN_PKCS12=$certificates/quillet.p12 SETUP_SIGN_PASSWORD=quillet-signing \
    package "$second/right-password.log" "${second_package[@]}"
check "the right password signs again" verifies "$second/bin/setup.exe" "$quillet"
check "both programs" verifies "$second/uninstaller/pmuninst.exe" "$quillet"

# The second product under another name, in a folder of its own. osslsigncode
# is the one first on the PATH: a wrapper that notes its arguments and the
# files of the output folder that hold the password while it signs, that,
# while the file $stop is there, stops the signing as an interruption would
# once half of the signed setup.exe is written, and that, while $refuse is
# there, fails to sign the setup for older Windows.
rm -rf "$folder"
manifest=$folder/manifest/product.ini build="$folder/out \$HOME" notes=$folder/osslsigncode.arguments
holders=$folder/password-holders stop=$folder/stop-signing refuse=$folder/refuse-signing
mkdir -p "$folder/manifest" "$folder/tools"
cp "$root"/tests/e2e/quillet/* "$folder/manifest/"
# Its icon, the shipped one's images of 16 and 32 pixels alone, draws the packer's warning.
python3 - "$root/products/pelmora/pelmora.ico" "$folder/manifest/small.ico" <<'ICON'
import struct, sys
icon = open(sys.argv[1], "rb").read()
entries = [icon[6 + 16 * i:22 + 16 * i] for i in range(struct.unpack_from("<H", icon, 4)[0])]
kept = [entry for entry in entries if entry[0] in (16, 32)]
header, images = struct.pack("<HHH", 0, 1, len(kept)), b""
for entry in kept:
    size, offset = struct.unpack_from("<II", entry, 8)
    header += entry[:8] + struct.pack("<II", size, 6 + 16 * len(kept) + len(images))
    images += icon[offset:offset + size]
open(sys.argv[2], "wb").write(header + images)
ICON
sed -i -e 's|^displayName = .*|displayName = Quillet; Notes ]=] [beta|' \
    -e "s|^icon = .*|icon = $folder/manifest/small.ico|" \
    -e 's|^version = .*|&\nurl = https://example.com/quillet;notes?[beta|' "$manifest"
{
    echo '#!/usr/bin/env bash'
    printf 'notes=%q build=%q holders=%q stop=%q refuse=%q\n' "$notes" "$build" "$holders" "$stop" "$refuse"
    echo 'printf "%s\n" "$*" >>"$notes"'
    echo '[ -z "${SETUP_SIGN_PASSWORD:-}" ] || grep -rlF -- "$SETUP_SIGN_PASSWORD" "$build" >>"$holders"'
    # pmpack signs each program in a work folder of its own inside the output folder.
    echo 'if [ -e "$stop" ] && [[ "${@: -1}" == "$build/bin/"*/setup.exe.signing ]]; then'
    echo '    head -c 4096 "${@: -3:1}" >"${@: -1}"'
    echo '    ls -AR "$build/bin" >"$stop.seen"'
    echo '    kill -KILL "$PPID"'
    echo '    exit 1'
    echo 'fi'
    echo '[ -e "$refuse" ] && [[ "${@: -1}" == "$build/bin/"*/setup-without-utf8.exe.signing ]] && exit 1'
    printf 'exec %q "$@"\n' "$(command -v osslsigncode)"
} >"$folder/tools/osslsigncode"
chmod +x "$folder/tools/osslsigncode"
export PATH=$folder/tools:$PATH
product=("$manifest" "$build" --search "$second/product")

package "$folder/unsigned.log" "${product[@]}"
check "packaged unsigned first" test $? -eq 0
check "setup.exe is not signed" unsigned "$build/bin/setup.exe"
check "tools/package shows the packer's warning" says "$folder/unsigned.log" \
    "$folder/manifest/small.ico: warning: the icon has no 48x48 image"
check "once" test "$(grep -c ': warning: ' "$folder/unsigned.log")" -eq 1
cp "$build/bin/setup.exe" "$folder/unsigned-setup.exe"

SETUP_SIGN_PKCS12=$certificates/quillet.p12 SETUP_SIGN_PASSWORD=quillet-signing \
    package "$folder/signed.log" "${product[@]}"
check "signing from the environment in the same folder" test $? -eq 0
check "signs setup.exe" verifies "$build/bin/setup.exe" "$quillet"
check "and the uninstaller" verifies "$build/uninstaller/pmuninst.exe" "$quillet"
osslsigncode verify -in "$build/bin/setup.exe" -CAfile "$quillet" >"$folder/verify.log" 2>&1
check "described by the whole displayName" grep -qxF $'\tText description: Quillet; Notes ]=] [beta' "$folder/verify.log"
check "with the whole url" grep -qxF $'\tURL description: https://example.com/quillet;notes?[beta' "$folder/verify.log"
check "with the osslsigncode first on the PATH" says "$notes" "-readpass /dev/stdin"
check "the password on no command line" silent "$notes" "quillet-signing"
check "nor in a file of the output folder while it signs" test -f "$holders" -a ! -s "$holders"
check "nor after" test -z "$(grep -rlF quillet-signing "$build")"

SETUP_SIGN_CERT=$other SETUP_SIGN_KEY=$certificates/other.key in_terminal "$folder/no-password.log" "${product[@]}"
status=$?
check "an encrypted key without its password fails the package" test "$status" -ne 0
check "at once, asking nobody" test "$status" -ne 124
check "saying so" says "$folder/no-password.log" "the key $certificates/other.key is encrypted and no password was given (SETUP_SIGN_PASSWORD or SETUP_SIGN_PASSWORD_FILE)"
check "and leaves no setup program" absent "$build/bin/setup.exe"
SETUP_SIGN_CERT=$other SETUP_SIGN_KEY=$certificates/other.key SETUP_SIGN_PASSWORD=wrong \
    in_terminal "$folder/pem-wrong.log" "${product[@]}"
status=$?
check "a wrong password for the PEM key fails the package" test "$status" -ne 0
check "at once" test "$status" -ne 124
check "saying so" says "$folder/pem-wrong.log" "the password does not open the key $certificates/other.key"
check "in one line, without OpenSSL's errors" silent "$folder/pem-wrong.log" ":error:"

echo other-signing >"$certificates/other.password"
export SETUP_SIGN_CERT=$other SETUP_SIGN_KEY=$certificates/other.key
# The password file named from where tools/package runs.
(cd "$certificates" && SETUP_SIGN_PASSWORD_FILE=other.password in_terminal "$folder/pem.log" "${product[@]}")
check "the password from its file, named from where it runs, opens the PEM key" test $? -eq 0
check "and the new certificate signs setup.exe" verifies "$build/bin/setup.exe" "$other"
check "not the old one" test "$(verifies "$build/bin/setup.exe" "$quillet"; echo $?)" -ne 0
check "the uninstaller too" verifies "$build/uninstaller/pmuninst.exe" "$other"
export SETUP_SIGN_PASSWORD_FILE=$certificates/other.password

# New files under the same paths: a certificate renewed for the same key; then
# a new key, which fails, the certificate not being its own; then a
# certificate for that key.
renew() { # subject
    cp "$other" "$folder/other-before.pem"
    openssl req -x509 -new -key "$certificates/other.key" -passin pass:other-signing -days 30 -subj "$1" \
        -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" -out "$other" \
        2>>"$folder/openssl.log"
}
renew "/CN=Other Test Publisher, renewed"
in_terminal "$folder/renewed.log" "${product[@]}"
check "a certificate renewed under the same path signs setup.exe" verifies "$build/bin/setup.exe" "$other"
check "not with the one before" test "$(verifies "$build/bin/setup.exe" "$folder/other-before.pem"; echo $?)" -ne 0
check "and the uninstaller" verifies "$build/uninstaller/pmuninst.exe" "$other"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -aes-256-cbc -pass pass:other-signing \
    -out "$certificates/other.key" 2>>"$folder/openssl.log"
in_terminal "$folder/new-key.log" "${product[@]}"
check "a new key under the same path fails the package" test $? -ne 0
check "when osslsigncode finds it does not match the certificate" says "$folder/new-key.log" "osslsigncode says:"
check "and leaves no setup program" absent "$build/bin/setup.exe"
renew "/CN=Other Test Publisher, new key"
in_terminal "$folder/new-key-certificate.log" "${product[@]}"
check "its own certificate signs setup.exe" verifies "$build/bin/setup.exe" "$other"
check "and the uninstaller" verifies "$build/uninstaller/pmuninst.exe" "$other"

# The signed programs of the last package are there: a broken manifest takes them away.
cp "$manifest" "$folder/product.ini.good"
echo "file = missing.txt | missing.txt" >>"$manifest"
package "$folder/broken.log" "${product[@]}"
check "a broken manifest fails tools/package" test $? -ne 0
check "which leaves no setup program at the path it prints" absent "$build/bin/setup.exe"
check "nor an uninstaller" absent "$build/uninstaller/pmuninst.exe"
cp "$folder/product.ini.good" "$manifest"
unset SETUP_SIGN_CERT SETUP_SIGN_KEY SETUP_SIGN_PASSWORD_FILE

touch "$stop"
SETUP_SIGN_PKCS12=$certificates/quillet.p12 SETUP_SIGN_PASSWORD=quillet-signing \
    in_terminal "$folder/stopped.log" "${product[@]}"
check "a signing of setup.exe stopped midway fails the package" test $? -ne 0
rm -f "$stop"
check "once half of the signed file was written" says "$stop.seen" "setup.exe.signing"
check "and leaves nothing in the output folder" empty "$build/bin"
check "nor an uninstaller" empty "$build/uninstaller"

touch "$refuse"
SETUP_ALSO_WITHOUT_UTF8=1 SETUP_SIGN_PKCS12=$certificates/quillet.p12 SETUP_SIGN_PASSWORD=quillet-signing \
    package "$folder/refused.log" "${product[@]}"
check "a setup for older Windows that cannot be signed fails the package" test $? -ne 0
rm -f "$refuse"
check "and leaves neither setup, not even the one signed before it" empty "$build/bin"

package "$folder/unsigned-again.log" "${product[@]}"
check "without a certificate the same folder packages unsigned again" test $? -eq 0
check "byte for byte as the first time" cmp -s "$build/bin/setup.exe" "$folder/unsigned-setup.exe"

echo "signing: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
