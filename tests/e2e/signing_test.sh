#!/usr/bin/env bash
# Code signing as a user meets it, with the certificates of make_certificate.sh.
# The signed build of the second product: both programs verify, the product's
# own programs are left as they are, and a build that must sign again with a
# wrong password fails and leaves neither program where the signed ones were.
# Then a product whose displayName and url hold a ';' and an unmatched '[', in
# a folder of its own first packaged unsigned: signed from the environment,
# signed again with a new certificate, an encrypted PEM key without its
# password or with a wrong one, a new key and certificate under the same
# paths, the password as an option, a failed package, a signing stopped
# midway.
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
says() { grep -qF -- "$2" "$1"; } # log, text
silent() { [ -f "$1" ] && ! grep -qF -- "$2" "$1"; } # log, text

check "setup.exe verifies" verifies "$second/bin/setup.exe" "$quillet"
check "the uninstaller the payload carries verifies" verifies "$second/uninstaller/pmuninst.exe" "$quillet"
check "the product's own program is not signed" unsigned "$second/product/quillet.exe"

# A new path for the container, so the build must sign again, with a wrong
# password, while the signed programs are still there.
cp "$certificates/quillet.p12" "$certificates/moved.p12"
SETUP_SIGN_PKCS12=$certificates/moved.p12 SETUP_SIGN_PASSWORD=wrong \
    cmake --build "$second" --target programs >"$second/wrong-password.log" 2>&1
check "a wrong password fails the build" test $? -ne 0
check "saying so, of the new path" says "$second/wrong-password.log" "the password does not open $certificates/moved.p12"
check "in one line, without OpenSSL's errors" silent "$second/wrong-password.log" ":error:"
check "and leaves no setup program where the signed one was" absent "$second/bin/setup.exe"
check "nor the uninstaller" absent "$second/uninstaller/pmuninst.exe"
check "nor half of one" absent "$second/bin/setup.exe.signing"
SETUP_SIGN_PKCS12=$certificates/quillet.p12 SETUP_SIGN_PASSWORD=quillet-signing \
    cmake --build "$second" --target programs >"$second/right-password.log" 2>&1
check "the right password signs again" verifies "$second/bin/setup.exe" "$quillet"

# The second product under another name, in a folder of its own. osslsigncode
# is the one the configuration found: a wrapper that notes its arguments and
# the files of the build folder that hold the password while it signs, and
# that, while the file $stop is there, stops the build as an interruption
# would once half of the signed setup.exe is written.
manifest=$folder/manifest/product.ini build=$folder/build notes=$folder/osslsigncode.arguments
holders=$folder/password-holders stop=$folder/stop-signing
mkdir -p "$folder/manifest"
cp "$root"/tests/e2e/quillet/* "$folder/manifest/"
# Its icon, the second product's without the 48 pixel image, draws the packer's warning.
cp "$second/generated/uninstaller.ico" "$folder/manifest/small.ico"
sed -i -e 's|^displayName = .*|displayName = Quillet; Notes [beta|' \
    -e "s|^icon = .*|icon = $folder/manifest/small.ico|" \
    -e 's|^version = .*|&\nurl = https://example.com/quillet;notes?[beta|' "$manifest"
{
    echo '#!/usr/bin/env bash'
    printf 'notes=%q build=%q holders=%q stop=%q\n' "$notes" "$build" "$holders" "$stop"
    echo 'printf "%s\n" "$*" >>"$notes"'
    echo '[ -z "$SETUP_SIGN_PASSWORD" ] || grep -rlF -- "$SETUP_SIGN_PASSWORD" "$build" >>"$holders"'
    echo 'if [ -e "$stop" ] && [ "${@: -1}" = "$build/bin/setup.exe.signing" ]; then'
    echo '    head -c 4096 "${@: -3:1}" >"${@: -1}"'
    echo '    kill -KILL "$PPID"'
    echo '    exit 1'
    echo 'fi'
    printf 'exec %q "$@"\n' "$(command -v osslsigncode)"
} >"$folder/osslsigncode"
chmod +x "$folder/osslsigncode"
rm -f "$notes" "$holders" "$stop"
package() { # log, then tools/package's arguments
    local log=$1
    shift
    "$root/tools/package" "$@" >"$log" 2>&1
}
build() { # log: a build in a terminal of its own, where a tool that asks for a password would wait
    timeout 120 script -qec "$(printf '%q ' cmake --build "$build" --target programs)" /dev/null </dev/null >"$1" 2>&1
}

cmake --preset default -S "$root" -B "$build" -DPRODUCT="$manifest" -DOSSLSIGNCODE="$folder/osslsigncode" \
    -DSETUP_TOOLS_BUILD="${SETUP_TOOLS_BUILD:-}" \
    >"$folder/configure.log" 2>&1
package "$folder/unsigned.log" "$manifest" "$build"
check "packaged unsigned first" test $? -eq 0
check "setup.exe is not signed" unsigned "$build/bin/setup.exe"
check "tools/package shows the packer's warning" says "$folder/unsigned.log" \
    "$folder/manifest/small.ico: warning: the icon has no 48x48 image"
check "once" test "$(grep -c ': warning: ' "$folder/unsigned.log")" -eq 1
cp "$build/bin/setup.exe" "$folder/unsigned-setup.exe"

SETUP_SIGN_PKCS12=$certificates/quillet.p12 SETUP_SIGN_PASSWORD=quillet-signing \
    package "$folder/signed.log" "$manifest" "$build"
check "signing from the environment in the same folder" test $? -eq 0
check "signs setup.exe" verifies "$build/bin/setup.exe" "$quillet"
check "and the uninstaller" verifies "$build/uninstaller/pmuninst.exe" "$quillet"
osslsigncode verify -in "$build/bin/setup.exe" -CAfile "$quillet" >"$folder/verify.log" 2>&1
check "described by the whole displayName" grep -qx $'\tText description: Quillet; Notes \\[beta' "$folder/verify.log"
check "with the whole url" grep -qx $'\tURL description: https://example.com/quillet;notes?\\[beta' "$folder/verify.log"
check "with the osslsigncode the configuration found" says "$notes" "-readpass /dev/stdin"
check "the password on no command line" silent "$notes" "quillet-signing"
check "nor in a file of the build folder while it signs" test -f "$holders" -a ! -s "$holders"
check "nor after" test -z "$(grep -rlF quillet-signing "$build")"

SETUP_SIGN_CERT=$other SETUP_SIGN_KEY=$certificates/other.key build "$folder/no-password.log"
status=$?
check "an encrypted key without its password fails the build" test "$status" -ne 0
check "at once, asking nobody" test "$status" -ne 124
check "saying so" says "$folder/no-password.log" "the key $certificates/other.key is encrypted and no password was given (SETUP_SIGN_PASSWORD or SETUP_SIGN_PASSWORD_FILE)"
check "and leaves no setup program" absent "$build/bin/setup.exe"
SETUP_SIGN_CERT=$other SETUP_SIGN_KEY=$certificates/other.key SETUP_SIGN_PASSWORD=wrong build "$folder/pem-wrong.log"
status=$?
check "a wrong password for the PEM key fails the build" test "$status" -ne 0
check "at once" test "$status" -ne 124
check "saying so" says "$folder/pem-wrong.log" "the password does not open the key $certificates/other.key"
check "in one line, without OpenSSL's errors" silent "$folder/pem-wrong.log" ":error:"

echo other-signing >"$certificates/other.password"
export SETUP_SIGN_CERT=$other SETUP_SIGN_KEY=$certificates/other.key SETUP_SIGN_PASSWORD_FILE=$certificates/other.password
build "$folder/pem.log"
check "the password from its file opens the PEM key" test $? -eq 0
check "and the new certificate signs setup.exe" verifies "$build/bin/setup.exe" "$other"
check "not the old one" test "$(verifies "$build/bin/setup.exe" "$quillet"; echo $?)" -ne 0
check "the uninstaller too" verifies "$build/uninstaller/pmuninst.exe" "$other"
build "$folder/again.log"
check "a build with nothing changed signs nothing again" silent "$folder/again.log" "Linking"
check "nor packs" silent "$folder/again.log" "Packing"

# New files under the same paths sign again: a certificate renewed for the
# same key; then a new key, which fails, the certificate not being its own;
# then a certificate for that key.
renew() { # subject
    cp "$other" "$folder/other-before.pem"
    openssl req -x509 -new -key "$certificates/other.key" -passin pass:other-signing -days 30 -subj "$1" \
        -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" -out "$other" \
        2>>"$folder/openssl.log"
}
renew "/CN=Other Test Publisher, renewed"
build "$folder/renewed.log"
check "a certificate renewed under the same path signs setup.exe again" verifies "$build/bin/setup.exe" "$other"
check "not with the one before" test "$(verifies "$build/bin/setup.exe" "$folder/other-before.pem"; echo $?)" -ne 0
check "and the uninstaller" verifies "$build/uninstaller/pmuninst.exe" "$other"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -aes-256-cbc -pass pass:other-signing \
    -out "$certificates/other.key" 2>>"$folder/openssl.log"
build "$folder/new-key.log"
check "a new key under the same path fails the build" test $? -ne 0
check "when osslsigncode finds it does not match the certificate" says "$folder/new-key.log" "osslsigncode says:"
check "and leaves no setup program" absent "$build/bin/setup.exe"
renew "/CN=Other Test Publisher, new key"
build "$folder/new-key-certificate.log"
check "its own certificate signs setup.exe" verifies "$build/bin/setup.exe" "$other"
check "and the uninstaller" verifies "$build/uninstaller/pmuninst.exe" "$other"

cmake --preset default -S "$root" -B "$build" -DSETUP_SIGN_PASSWORD=refused-secret >"$folder/option.log" 2>&1
check "the password as a CMake option is refused" test $? -ne 0
check "saying how to give it" grep -q "give the password in the environment variable" "$folder/option.log"
check "naming both ways" grep -q "SETUP_SIGN_PASSWORD_FILE" "$folder/option.log"
check "and the cache does not keep it" silent "$build/CMakeCache.txt" "refused-secret"

# The build itself would keep the programs here: nothing asks it to sign again.
cp "$manifest" "$folder/product.ini.good"
echo "file = missing.txt | missing.txt" >>"$manifest"
package "$folder/broken.log" "$manifest" "$build"
check "a broken manifest fails tools/package" test $? -ne 0
check "which leaves no setup program at the path it prints" absent "$build/bin/setup.exe"
check "nor an uninstaller" absent "$build/uninstaller/pmuninst.exe"
cp "$folder/product.ini.good" "$manifest" # a new time, which a build compares
unset SETUP_SIGN_CERT SETUP_SIGN_KEY SETUP_SIGN_PASSWORD_FILE

# A signing stopped midway leaves its files beside setup.exe: the next build takes them away.
touch "$stop"
SETUP_SIGN_PKCS12=$certificates/quillet.p12 SETUP_SIGN_PASSWORD=quillet-signing build "$folder/stopped.log"
check "a build stopped while it signs setup.exe fails" test $? -ne 0
rm -f "$stop"
leftovers=("$build/bin/setup.exe.unsigned" "$build/bin/setup.exe.signing" "$build/bin/setup.exe.certificate.pem")
for leftover in "${leftovers[@]}"; do
    check "leaving ${leftover##*/} beside it" test -e "$leftover"
done

package "$folder/unsigned-again.log" "$manifest" "$build"
check "without a certificate the same folder packages unsigned again" test $? -eq 0
check "byte for byte as the first time" cmp -s "$build/bin/setup.exe" "$folder/unsigned-setup.exe"
for leftover in "${leftovers[@]}"; do
    check "nothing of the stopped signing stays: ${leftover##*/}" absent "$leftover"
done

echo "signing: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
